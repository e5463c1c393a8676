#include "ext/localization.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

class Localization : public ::testing::Test {
 protected:
  void SetUp() override {
    ext::setLocalizer([](std::string_view key, std::string_view) -> std::optional<std::string> {
      static const std::map<std::string, std::string, std::less<>> kTable = {
          {"Cancel", "Abbrechen"}, {"%d of %@", "%2$@ von %1$d"}, {"Blank", ""}};
      const auto found = kTable.find(key);
      if (found == kTable.end()) return std::nullopt;
      return found->second;
    });
  }
  void TearDown() override { ext::setLocalizer(nullptr); }
};

TEST_F(Localization, LooksUpAndFallsBackToTheKey) {
  EXPECT_EQ(ext::localized("Cancel", "button"), "Abbrechen");
  EXPECT_EQ(ext::localized("Unknown", ""), "Unknown");
  EXPECT_EQ(ext::localized("Blank", ""), "");  // an empty entry is still an entry
  ext::setLocalizer(nullptr);
  EXPECT_EQ(ext::localized("Cancel", ""), "Cancel");
}

TEST_F(Localization, FormatsWithPositionalArguments) {
  EXPECT_EQ(ext::formatLocalized("%d of %@", "", {3, "Kapitel"}), "Kapitel von 3");
}

TEST(Formatting, Conversions) {
  EXPECT_EQ(ext::formatted("%@ has %d items (%.1f%%)", {"cart", 3, 42.25}),
            "cart has 3 items (42.2%)");
  EXPECT_EQ(ext::formatted("%5s|%-3ld|%04x", {"ab", std::int64_t{7}, 255}), "   ab|7  |00ff");
  EXPECT_EQ(ext::formatted("%9s|%.9f", {"ab", 0.5}), "       ab|0.500000000");
  EXPECT_EQ(ext::formatted("%lld", {std::int64_t{-9223372036854775807 - 1}}),
            "-9223372036854775808");
  EXPECT_EQ(ext::formatted("%@", {1.5}), "1.5");
  EXPECT_EQ(ext::formatted("%llu %c", {18446744073709551615ull, 'x'}), "18446744073709551615 x");
  EXPECT_EQ(ext::formatted("%d %d %d", {1e300, -1e300, std::nan("")}),
            "9223372036854775807 -9223372036854775808 0");
  EXPECT_EQ(ext::formatted("%hhd|%hd|%hhu|%hx", {300, 70000, -1, -1}), "44|4464|255|ffff");
  EXPECT_EQ(ext::formatted("%hhi|%ho|%hX|%lhd", {-129, 65536 + 8, 0xABCDEF, 70000}),
            "127|10|CDEF|70000");
  EXPECT_EQ(ext::formatted("%*d|%.*f|%-*s", {5, 42, 2, 3.14159, 4, "x"}), "   42|3.14|x   ");
  EXPECT_EQ(ext::formatted("%*d|%.*f|%*s|", {-3, 7, -1, 0.5, 2, "\u00E9"}),
            "7  |0.500000| \u00E9|");
  EXPECT_EQ(ext::formatted("%*d|%.*s", {0x80000000LL, 1, 0x80000000LL, "x"}), "%*d|%.*s");
  EXPECT_EQ(ext::formatted("%*d", {3}), "%*d");
  EXPECT_EQ(ext::formatted("[%1.0d|%.0d]", {0, 0}), "[ |]");
  EXPECT_EQ(ext::formatted("[%.*s|%.*s]", {0, "abc", 0x7FFFFFFF, "x"}), "[|x]");
}

// Text conversions count characters, not bytes, and never split one; %c
// takes a code point; the result is valid UTF-8 whatever went in.
TEST(Formatting, TextIsLaidOutInCharactersAndStaysUtf8) {
  struct Case {
    const char* format;
    ext::FormatArgument argument;
    std::string expected;
  };
  const Case cases[] = {
      {"%.1s", "\u00E9t\u00E9", "\u00E9"},
      {"%5.2s", "\u00E9t\u00E9", "   \u00E9t"},
      {"%-4@|", "e\u0301", "e\u0301   |"},
      {"%3s", "\u0301", "   \u0301"},  // the first blank takes the mark
      {"%.1@", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", "\U0001F1E9\U0001F1EA"},
      {"%.0s|", "abc", "|"},
      {"%c", 0xE9, "\u00E9"},
      {"%c", 0x1F600, "\U0001F600"},
      {"%3c|%1$-2c|", 'x', "  x|x |"},
      {"%c", 0, std::string(1, '\0')},
      {"%c", 0x10FFFF, "\U0010FFFF"},
      {"%c", 0xD800, "\uFFFD"},
      {"%c", 0xDFFF, "\uFFFD"},
      {"%c", -1, "\uFFFD"},
      {"%c", 0x110000, "\uFFFD"},
      {"%c", 0x100000041LL, "\uFFFD"},  // 2^32 + "A", not "A"
      {"%c", -0xFFFFFFBFLL, "\uFFFD"},  // "A" - 2^32, not "A"
      {"%@\xFF", "a\xC3", "a\uFFFD\uFFFD"},
      {"%1.2.3s", "abc", "%1.2.3s"},  // malformed: as written
      {"%99999999999s", "abc", "%99999999999s"},
      // Malformed or past printf's int: as written, for every type.
      {"[%1.2.3d]", 0, "[%1.2.3d]"},
      {"[%..d]", 0, "[%..d]"},
      {"[%1.2.3f]", 0.5, "[%1.2.3f]"},
      {"[%5*d]", 1, "[%5*d]"},
      {"[%2147483648d]", 1, "[%2147483648d]"},
      {"[%2147483647.2147483648x]", 1, "[%2147483647.2147483648x]"},
      {"[%.2147483648f]", 1.0, "[%.2147483648f]"},
      {"[%99999999999999999999d]", 1, "[%99999999999999999999d]"},
      {"[%2147483648s]", "x", "[%2147483648s]"},
      {"[%.2147483647s]", "x", "[x]"},
      {"[%18446744073709551617$s]", "x", "[%18446744073709551617$s]"},
      {"[%2147483649$s]", "x", "[%2147483649$s]"},
      {"[%1$s]", "x", "[x]"},
      // Doubles held to the integer range, exactly at its ends.
      {"%d", 0x1p63, "9223372036854775807"},
      {"%d", -0x1p63, "-9223372036854775808"},
      {"%d", 0x1p63 - 1024, "9223372036854774784"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ext::formatted(c.format, {c.argument}), c.expected) << c.format;
  }
}

TEST(Formatting, MissingArgumentsStayAsWritten) {
  EXPECT_EQ(ext::formatted("%@ and %@", {"one"}), "one and %@");
  EXPECT_EQ(ext::formatted("%3$@", {"one"}), "%3$@");
  EXPECT_EQ(ext::formatted("[%18446744073709551618$s]", {"x", "y"}), "[%18446744073709551618$s]");
  EXPECT_EQ(ext::formatted("100%", {}), "100%");
  // A format cut from a longer text is read to its end only.
  EXPECT_EQ(ext::formatted(std::string_view("%12345").substr(0, 3), {1}), "%12");
  EXPECT_EQ(ext::formatted(std::string_view("%12$d").substr(0, 3), {1}), "%12");
  EXPECT_EQ(ext::formatted("%*d|%.*f", {}), "%*d|%.*f");
  const std::pair<std::string_view, std::size_t> cuts[] = {{"%*d", 1}, {"%.5d", 1}, {"%.*d", 2}};
  for (const auto& [text, size] : cuts) {
    EXPECT_EQ(ext::formatted(text.substr(0, size), {1, 2}), text.substr(0, size)) << text;
    // In a buffer of exactly that size, so a read past its end is one the
    // address sanitizer sees.
    const auto exact = std::make_unique<char[]>(size);
    std::copy_n(text.data(), size, exact.get());
    EXPECT_EQ(ext::formatted(std::string_view(exact.get(), size), {1, 2}), text.substr(0, size));
  }
}

}  // namespace
