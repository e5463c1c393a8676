#include "ext/numbers.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ext/string_numbers.h"

namespace {

constexpr std::int64_t kIntMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int64_t>::max();

TEST(OrderedValues, BetweenIncludesBothBoundsAndClampPinsToThem) {
  const ext::ClosedRange<int> range{2, 5};
  EXPECT_TRUE(ext::isBetween(2, range));
  EXPECT_TRUE(ext::isBetween(5, range));
  EXPECT_FALSE(ext::isBetween(6, range));
  EXPECT_EQ(ext::clamped(1, range), 2);
  EXPECT_EQ(ext::clamped(3, range), 3);
  EXPECT_EQ(ext::clamped(9, range), 5);
  EXPECT_EQ(ext::clamped(std::string("m"), ext::ClosedRange<std::string>{"a", "k"}), "k");
}

TEST(KFormatted, TruncatesToThousandsAndMillions) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0k"},          {999, "0k"},          {-999, "0k"},         {1000, "1k"},
      {-1000, "-1k"},     {1500, "1k"},         {-25'400, "-25k"},    {999'999, "999k"},
      {1'000'000, "1kk"}, {12'345'678, "12kk"}, {-3'700'000, "-3kk"}, {kIntMax, "9223372036854kk"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(ext::kFormatted(value), text) << value;
}

TEST(Digits, OfTheMagnitudeMostSignificantFirst) {
  EXPECT_EQ(ext::digits(0), (std::vector<std::int64_t>{0}));
  EXPECT_EQ(ext::digits(-5), (std::vector<std::int64_t>{5}));
  EXPECT_EQ(ext::digits(10), (std::vector<std::int64_t>{1, 0}));
  EXPECT_EQ(ext::digits(-120), (std::vector<std::int64_t>{1, 2, 0}));
  EXPECT_EQ(ext::digits(1000), (std::vector<std::int64_t>{1, 0, 0, 0}));
  EXPECT_EQ(ext::digits(kIntMax).size(), 19u);
}

TEST(DigitsCount, IsExactAlsoJustBelowLargePowersOfTen) {
  EXPECT_EQ(ext::digitsCount(0), 1);
  EXPECT_EQ(ext::digitsCount(-99), 2);
  EXPECT_EQ(ext::digitsCount(100), 3);
  EXPECT_EQ(ext::digitsCount(99'999'999'999'999), 14);
  // A double logarithm says 16 and 19 here.
  EXPECT_EQ(ext::digitsCount(999'999'999'999'999), 15);
  EXPECT_EQ(ext::digitsCount(999'999'999'999'999'999), 18);
  EXPECT_EQ(ext::digitsCount(1'000'000'000'000'000'000), 19);
  EXPECT_EQ(ext::digitsCount(kIntMax), 19);
}

TEST(IsPrime, TriesOddCandidatesUpToTheRoot) {
  for (std::int64_t n : {0, 1, -7, 4, 9, 25, 49, 1'000'000'000}) EXPECT_FALSE(ext::isPrime(n)) << n;
  for (std::int64_t n : {2, 3, 5, 7, 97, 7919, 2'147'483'647}) EXPECT_TRUE(ext::isPrime(n)) << n;
  // A prime's square near the top of Int: its root is the last candidate.
  EXPECT_FALSE(ext::isPrime(std::int64_t{3'037'000'493} * 3'037'000'493));
}

TEST(RomanNumeral, WritesThousandsAsRepeatedM) {
  EXPECT_FALSE(ext::romanNumeral(0).has_value());
  EXPECT_FALSE(ext::romanNumeral(-1).has_value());
  EXPECT_EQ(ext::romanNumeral(4), "IV");
  EXPECT_EQ(ext::romanNumeral(9), "IX");
  EXPECT_EQ(ext::romanNumeral(1666), "MDCLXVI");
  EXPECT_EQ(ext::romanNumeral(1994), "MCMXCIV");
  EXPECT_EQ(ext::romanNumeral(4000), "MMMM");
}

TEST(RomanNumeral, HasAnUpperBound) {
  EXPECT_EQ(ext::romanNumeral(ext::kRomanNumeralMax)->size(), 1000u);
  EXPECT_FALSE(ext::romanNumeral(ext::kRomanNumeralMax + 1).has_value());
  EXPECT_FALSE(ext::romanNumeral(kIntMax).has_value());
}

TEST(RoundToNearest, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(ext::roundToNearest(12, 5), 10);
  EXPECT_EQ(ext::roundToNearest(13, 5), 15);
  EXPECT_EQ(ext::roundToNearest(-13, 5), -15);
  EXPECT_EQ(ext::roundToNearest(15, 10), 20);
  EXPECT_EQ(ext::roundToNearest(-15, 10), -20);
  EXPECT_EQ(ext::roundToNearest(12, -5), 10);
  EXPECT_EQ(ext::roundToNearest(kIntMin, 0), kIntMin);
  // Exact where doubles are not, to the ends of Int.
  EXPECT_EQ(ext::roundToNearest(1'000'000'000'000'000'003, 2), 1'000'000'000'000'000'004);
  EXPECT_EQ(ext::roundToNearest(kIntMax - 1, 2), kIntMax - 1);
  EXPECT_EQ(ext::roundToNearest(kIntMin, -1), kIntMin);
}

TEST(TimeString, ShowsTheLargestUnitsOnly) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {-5, "0 sec"}, {0, "0 sec"},  {1, "1 sec"},   {59, "59 sec"},   {60, "1 min"},
      {119, "1 min"}, {3599, "59 min"}, {3600, "1h"}, {3659, "1h"},   {3660, "1h 1m"},
      {3661, "1h 1m"}, {7199, "1h 59m"}, {7200, "2h"}, {90'000, "25h"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(ext::timeString(seconds), text) << seconds;
}

TEST(GcdLcm, KeepTheRecursionsSigns) {
  EXPECT_EQ(ext::gcd<std::int64_t>(12, 18), 6);
  EXPECT_EQ(ext::gcd<std::int64_t>(-4, 6), 2);
  EXPECT_EQ(ext::gcd<std::int64_t>(4, -6), -2);
  EXPECT_EQ(ext::gcd<std::int64_t>(5, 0), 5);
  EXPECT_EQ(ext::gcd<std::int64_t>(0, 5), 5);
  EXPECT_EQ(ext::gcd<std::int64_t>(0, 0), 0);
  EXPECT_EQ(ext::lcm<std::int64_t>(4, 6), 12);
  EXPECT_EQ(ext::lcm<std::int64_t>(0, 5), 0);
  EXPECT_EQ(ext::lcm<std::int64_t>(4, -6), -12);
  EXPECT_EQ(ext::gcd<std::int8_t>(-128, 64), 64);
}

TEST(GcdLcm, MostNegativeByMinusOneHasRemainderZero) {
  // The hardware division would trap here.
  EXPECT_EQ(ext::gcd<std::int64_t>(kIntMin, -1), -1);
  EXPECT_EQ(ext::gcd<std::int32_t>(std::numeric_limits<std::int32_t>::min(), -1), -1);
}

TEST(SignAndParity, FollowTheRemainderSign) {
  EXPECT_TRUE(ext::isOdd(-3));
  EXPECT_TRUE(ext::isEven(-4));
  EXPECT_FALSE(ext::isOdd(0));
  EXPECT_EQ(ext::abs<std::int16_t>(-7), 7);
  EXPECT_TRUE(ext::isNegative(-1));
  EXPECT_FALSE(ext::isPositive(0));
  for (double v : {0.0, -0.0, std::nan("")}) {
    EXPECT_FALSE(ext::isPositive(v));
    EXPECT_FALSE(ext::isNegative(v));
  }
  EXPECT_EQ(ext::abs(-2.5), 2.5);
  EXPECT_EQ(ext::ceil(-2.5), -2.0);
  EXPECT_EQ(ext::floor(-2.5f), -3.0f);
}

TEST(Angles, MultiplyFirstThenDivide) {
  EXPECT_DOUBLE_EQ(ext::degreesToRadians(180), M_PI);
  EXPECT_EQ(ext::degreesToRadians(90), 90.0 * 3.141592653589793 / 180.0);
  EXPECT_EQ(ext::radiansToDegrees(1), 180.0 / 3.141592653589793);
  EXPECT_FLOAT_EQ(ext::degreesToRadians(180.0f), 3.14159265f);
  EXPECT_DOUBLE_EQ(ext::radiansToDegrees(M_PI), 180.0);
}

TEST(Conversions, TruncateAndWiden) {
  EXPECT_EQ(ext::toInt(-2.9), -2);
  EXPECT_EQ(ext::toInt(2.9f), 2);
  // The ends of the integer range: -2^63 is in it, 2^63 is not.
  EXPECT_EQ(ext::toInt(-0x1p63), kIntMin);
  EXPECT_EQ(ext::toInt(0x1p63 - 1024), kIntMax - 1023);
  EXPECT_EQ(ext::toUInt(7), 7u);
  EXPECT_EQ(ext::toUInt(0), 0u);
  EXPECT_EQ(ext::toDouble(3), 3.0);
  EXPECT_EQ(ext::toFloat(0.1), 0.1f);
  EXPECT_EQ(ext::toDouble(0.5f), 0.5);
  EXPECT_EQ(ext::countableRange(3).size(), 3u);
  EXPECT_TRUE(ext::countableRange(0).empty());
}

TEST(Operators, PowerRootAndPlusMinus) {
  EXPECT_EQ(ext::power(2, 10), 1024.0);
  EXPECT_EQ(ext::power(2.0, -1.0), 0.5);
  EXPECT_EQ(ext::power(3.0f, 2.0f), 9.0f);
  EXPECT_EQ(ext::squareRoot(16), 4.0);
  EXPECT_TRUE(std::isnan(ext::squareRoot(-4)));
  EXPECT_TRUE(std::isnan(ext::squareRoot(-4.0f)));
  EXPECT_EQ(ext::plusMinus(5, 3), (std::pair<std::int64_t, std::int64_t>{8, 2}));
  EXPECT_EQ(ext::plusMinus(5), (std::pair<std::int64_t, std::int64_t>{5, -5}));
  const auto [plus, minus] = ext::plusMinus(-0.0);
  EXPECT_FALSE(std::signbit(plus));
  EXPECT_FALSE(std::signbit(minus));
  EXPECT_EQ(ext::plusMinus(1.5, 0.5), (std::pair<double, double>{2.0, 1.0}));
}

TEST(Description, WritesNumbersAsThePlatformDoes) {
  EXPECT_EQ(ext::string(42), "42");
  EXPECT_EQ(ext::string(std::int64_t{-7}), "-7");
  EXPECT_EQ(ext::string(1.0), "1.0");
  EXPECT_EQ(ext::string(-0.5), "-0.5");
  EXPECT_EQ(ext::string(0.1), "0.1");
  EXPECT_EQ(ext::string(100.0), "100.0");
  EXPECT_EQ(ext::string(0.0001), "0.0001");
  EXPECT_EQ(ext::string(0.00001), "1e-05");
  EXPECT_EQ(ext::string(1.5e-7), "1.5e-07");
  EXPECT_EQ(ext::string(9007199254740992.0), "9007199254740992.0");
  EXPECT_EQ(ext::string(1e16), "1e+16");
  EXPECT_EQ(ext::string(0.1f), "0.1");
  EXPECT_EQ(ext::string(16777216.0f), "16777216.0");
  EXPECT_EQ(ext::string(std::nan("")), "nan");
  EXPECT_EQ(ext::string(-INFINITY), "-inf");
  EXPECT_EQ(ext::string(-0.0), "-0.0");
}

class FormatterTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ext::currentLocale();
    ASSERT_TRUE(ext::setCurrentLocale("en_US"));
  }
  void TearDown() override { EXPECT_TRUE(ext::setCurrentLocale(saved_)); }

 private:
  std::string saved_;
};

TEST_F(FormatterTexts, OrdinalSpelledOutAndCurrency) {
  EXPECT_EQ(ext::ordinalString(1, "en_US"), "1st");
  EXPECT_EQ(ext::ordinalString(2, "en_US"), "2nd");
  EXPECT_EQ(ext::ordinalString(23, "en_US"), "23rd");
  EXPECT_EQ(ext::ordinalString(-11, "en_US"), "−11th");
  EXPECT_EQ(ext::spelledOutString(42, "en_US"), "forty-two");
  EXPECT_EQ(ext::spelledOutString(1.5, "en_US"), "one point five");
  EXPECT_EQ(ext::spelledOutString(3, "de_DE"), "drei");
  // Whole doubles past 2^53 spell their own value; past Int, as the formatter
  // writes numbers beyond its words.
  EXPECT_EQ(ext::spelledOutString(1e17, "en_US"), "one hundred quadrillion");
  EXPECT_EQ(ext::spelledOutString(-1e22, "en_US"), "-10,000,000,000,000,000,000,000");
  EXPECT_EQ(ext::asLocaleCurrency(1234.5), "$1,234.50");
  EXPECT_EQ(ext::asLocaleCurrency(-3), "-$3.00");
}

TEST(NumberLimitsDeathTest, BrokenLimitsStopInsteadOfWrapping) {
  EXPECT_DEATH((void)ext::abs(kIntMin), "most negative");
  EXPECT_DEATH((void)ext::kFormatted(kIntMin), "most negative");
  EXPECT_DEATH((void)ext::digitsCount(kIntMin), "most negative");
  EXPECT_DEATH((void)ext::countableRange(-1), "negative");
  EXPECT_DEATH((void)ext::toUInt(-1), "negative");
  EXPECT_DEATH((void)ext::toInt(std::nan("")), "not finite");
  EXPECT_DEATH((void)ext::toInt(1e19), "integer range");
  EXPECT_DEATH((void)ext::toInt(0x1p63), "integer range");
  EXPECT_DEATH((void)ext::toInt(std::nextafter(-0x1p63, -1e300)), "integer range");
  EXPECT_DEATH((void)ext::plusMinus(kIntMax, 1), "integer range");
  EXPECT_DEATH((void)ext::plusMinus(kIntMin), "most negative");
  EXPECT_DEATH((void)ext::lcm<std::int64_t>(0, 0), "0 and 0");
  EXPECT_DEATH((void)ext::lcm<std::int64_t>(kIntMax, 2), "range");
  EXPECT_DEATH((void)ext::roundToNearest(kIntMax, 2), "integer range");
  EXPECT_DEATH((void)ext::clamped(3, {5, 1}), "lower <= upper");
  EXPECT_DEATH((void)ext::isBetween(0.5, ext::ClosedRange<double>(0, std::nan(""))),
               "lower <= upper");
}

}  // namespace
