#include "ext/string_numbers.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

// Readings that depend on the locale and time zone run pinned to en_US and UTC.
class Pinned : public ::testing::Test {
 protected:
  void SetUp() override {
    locale_ = ext::currentLocale();
    zone_ = ext::currentTimeZone();
    ASSERT_TRUE(ext::setCurrentLocale("en_US"));
    ASSERT_TRUE(ext::setCurrentTimeZone("UTC"));
  }
  void TearDown() override {
    (void)ext::setCurrentLocale(locale_);
    (void)ext::setCurrentTimeZone(zone_);
  }

  static ext::Date utc(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    return sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) + seconds(ss);
  }

 private:
  std::string locale_;
  std::string zone_;
};

TEST(IntValue, AcceptsOnlySignAndAsciiDigits) {
  EXPECT_EQ(ext::intValue("42"), 42);
  EXPECT_EQ(ext::intValue("+5"), 5);
  EXPECT_EQ(ext::intValue("-0"), 0);
  EXPECT_EQ(ext::intValue("-17"), -17);
  EXPECT_EQ(ext::intValue(" 5"), std::nullopt);
  EXPECT_EQ(ext::intValue("5 "), std::nullopt);
  EXPECT_EQ(ext::intValue("+"), std::nullopt);
  EXPECT_EQ(ext::intValue("-"), std::nullopt);
  EXPECT_EQ(ext::intValue(""), std::nullopt);
  EXPECT_EQ(ext::intValue("1,000"), std::nullopt);
  EXPECT_EQ(ext::intValue("\u0663"), std::nullopt);  // a digit, but not ASCII
}

TEST(IntValue, Int64Limits) {
  EXPECT_EQ(ext::intValue("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ext::intValue("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ext::intValue("9223372036854775808"), std::nullopt);  // 2^63
  EXPECT_EQ(ext::intValue("-9223372036854775809"), std::nullopt);
  EXPECT_EQ(ext::intValue("00000000000000000000000001"), 1);
}

TEST(BoolValue, FirstWordFoundDecides) {
  EXPECT_EQ(ext::boolValue(" YES \n"), true);
  EXPECT_EQ(ext::boolValue("True"), true);
  EXPECT_EQ(ext::boolValue("1"), true);
  EXPECT_EQ(ext::boolValue("0"), false);
  EXPECT_EQ(ext::boolValue("No"), false);
  EXPECT_EQ(ext::boolValue("2"), std::nullopt);
  EXPECT_EQ(ext::boolValue(""), std::nullopt);
  // Searched, not compared: quirks that callers may rely on.
  EXPECT_EQ(ext::boolValue("nothing"), false);
  EXPECT_EQ(ext::boolValue("false1"), true);
  EXPECT_EQ(ext::boolValue("untrue"), true);
}

TEST_F(Pinned, FloatingPointInTheGivenLocale) {
  EXPECT_EQ(ext::doubleValue("3.25"), 3.25);
  EXPECT_EQ(ext::doubleValue("-0.5"), -0.5);
  EXPECT_EQ(ext::doubleValue("3,25", "de_DE"), 3.25);
  EXPECT_EQ(ext::floatValue("1.5"), 1.5f);
  EXPECT_EQ(ext::cgFloatValue("2"), 2.0);
  EXPECT_EQ(ext::doubleValue("1,000.5"), std::nullopt);  // no grouping
  EXPECT_EQ(ext::doubleValue("3.25abc"), std::nullopt);
  EXPECT_EQ(ext::doubleValue(""), std::nullopt);
  EXPECT_EQ(ext::doubleValue("abc"), std::nullopt);
}

TEST_F(Pinned, NumericUsesTheCurrentDecimalSeparator) {
  EXPECT_TRUE(ext::isNumeric("123"));
  EXPECT_TRUE(ext::isNumeric(" -1.5e3 "));
  EXPECT_TRUE(ext::isNumeric(".5"));
  EXPECT_FALSE(ext::isNumeric(""));
  EXPECT_FALSE(ext::isNumeric("1.2.3"));
  EXPECT_FALSE(ext::isNumeric("12a"));
  EXPECT_TRUE(ext::isNumeric("2E-3"));
  for (const char* incomplete : {"1e", "1e+", "1E-", "-", "."}) {  // an exponent needs digits
    EXPECT_FALSE(ext::isNumeric(incomplete)) << incomplete;
  }
  EXPECT_FALSE(ext::isNumeric("1,5"));
  ASSERT_TRUE(ext::setCurrentLocale("de_DE"));
  EXPECT_TRUE(ext::isNumeric("1,5"));
  EXPECT_FALSE(ext::isNumeric("1.5"));
}

TEST_F(Pinned, DatesInTheCurrentTimeZone) {
  EXPECT_EQ(ext::date(" 2024-02-29\n"), utc(2024, 2, 29));
  EXPECT_EQ(ext::dateTime("2024-02-29 13:45:10"), utc(2024, 2, 29, 13, 45, 10));
  EXPECT_EQ(ext::date("2023-02-29"), std::nullopt);  // no such day
  EXPECT_EQ(ext::date("2024-02-29 10:00"), std::nullopt);
  EXPECT_EQ(ext::date("yesterday"), std::nullopt);
  // Past the nanosecond clock's 1677...2262; before 1582-10-15 the calendar is Julian.
  EXPECT_EQ(ext::date("9999-12-31"), utc(9999, 12, 31));
  EXPECT_EQ(ext::dateTime("1600-03-01 12:00:00"), utc(1600, 3, 1, 12));
  EXPECT_EQ(ext::date("0001-01-01"), utc(0, 12, 30));
  EXPECT_EQ(ext::date("01.01.3000", "dd.MM.yyyy"), utc(3000, 1, 1));
  ASSERT_TRUE(ext::setCurrentTimeZone("Asia/Tokyo"));
  EXPECT_EQ(ext::date("2024-03-01"), utc(2024, 2, 29, 15));
}

// Dates that never existed, and years outside 1...9999, give nothing, by
// all three readings; the year counts in the current time zone.
TEST_F(Pinned, DaysThatNeverExistedAndYearsPastTheRangeGiveNothing) {
  struct Case {
    const char* zone;
    const char* text;
    const char* format;  // nullptr: date(), or dateTime() when the text has a time
    std::optional<ext::Date> expected;
  };
  const Case cases[] = {
      {"UTC", "1582-10-04", nullptr, utc(1582, 10, 14)},  // the last Julian day
      {"UTC", "1582-10-05", nullptr, std::nullopt},
      {"UTC", "1582-10-10", nullptr, std::nullopt},
      {"UTC", "1582-10-14", nullptr, std::nullopt},
      {"UTC", "1582-10-15", nullptr, utc(1582, 10, 15)},
      {"UTC", "1582-10-10 12:00:00", nullptr, std::nullopt},
      {"UTC", "10.10.1582", "dd.MM.yyyy", std::nullopt},
      {"UTC", "0000-12-31", nullptr, std::nullopt},
      {"UTC", "31.12.0001 BC", "dd.MM.yyyy G", std::nullopt},
      {"UTC", "9999-12-31 23:59:59", nullptr, utc(9999, 12, 31, 23, 59, 59)},
      {"UTC", "10000-01-01", nullptr, std::nullopt},
      {"UTC", "10000-01-01 00:00:00", nullptr, std::nullopt},
      {"UTC", "01.01.10000", "dd.MM.yyyy", std::nullopt},
      {"Etc/GMT-9", "0001-01-01", nullptr, utc(0, 12, 29, 15)},         // UTC+9
      {"Etc/GMT+10", "9999-12-31", nullptr, utc(9999, 12, 31, 10)},     // UTC-10
      {"Europe/Berlin", "2024-03-31 02:30:00", nullptr, std::nullopt},  // clocks went forward
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(ext::setCurrentTimeZone(c.zone));
    const std::string text = c.text;
    const bool hasTime = text.find(':') != std::string::npos;
    const std::optional<ext::Date> read = c.format  ? ext::date(text, c.format)
                                          : hasTime ? ext::dateTime(text)
                                                    : ext::date(text);
    EXPECT_EQ(read, c.expected) << c.text << " in " << c.zone;
  }
}

TEST_F(Pinned, DateWithFormatTakesTheTextAsItStands) {
  EXPECT_EQ(ext::date("01/02/2020", "dd/MM/yyyy"), utc(2020, 2, 1));
  EXPECT_EQ(ext::date("01/02/2020 ", "dd/MM/yyyy"), std::nullopt);
  EXPECT_EQ(ext::date("2020-02-01", "dd/MM/yyyy"), std::nullopt);
  EXPECT_EQ(ext::date("Mar 5, 2021", "MMM d, yyyy"), utc(2021, 3, 5));
}

TEST(CurrentSettings, UnknownNamesAreRefused) {
  const std::string zone = ext::currentTimeZone();
  EXPECT_FALSE(ext::setCurrentTimeZone("Nowhere/Special"));
  EXPECT_EQ(ext::currentTimeZone(), zone);
  const std::string locale = ext::currentLocale();
  EXPECT_FALSE(ext::setCurrentLocale("en_US@calendar="));  // a keyword without a value
  EXPECT_EQ(ext::currentLocale(), locale);
}

}  // namespace
