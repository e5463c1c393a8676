#include "ext/strings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ext/string_editing.h"
#include "ext/string_path.h"

namespace {

using ext::Character;

// Characters that are one grapheme cluster but several scalars or units.
constexpr std::string_view kFlag = "\U0001F1E9\U0001F1EA";  // regional indicators D, E
constexpr std::string_view kFamily = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // ZWJ sequence
constexpr std::string_view kDecomposedE = "e\u0301";
constexpr std::string_view kComposedE = "\u00E9";
constexpr std::string_view kGrinning = "\U0001F600";

std::vector<std::string> strings(const std::vector<Character>& characters) {
  std::vector<std::string> out;
  for (const Character& c : characters) out.push_back(c.string());
  return out;
}

TEST(Unicode, CharactersAreGraphemeClusters) {
  const std::string text =
      std::string(kFlag) + std::string(kFamily) + std::string(kDecomposedE) + "\r\nx";
  EXPECT_EQ(strings(ext::charactersArray(text)),
            (std::vector<std::string>{std::string(kFlag), std::string(kFamily),
                                      std::string(kDecomposedE), "\r\n", "x"}));
  EXPECT_EQ(ext::unicodeArray(kDecomposedE), (std::vector<std::uint32_t>{0x65, 0x301}));
  EXPECT_EQ(ext::unicodeArray(std::string_view("a\0b", 3)),
            (std::vector<std::uint32_t>{0x61, 0, 0x62}));
  EXPECT_EQ(ext::firstCharacterAsString(text), std::string(kFlag));
  EXPECT_EQ(ext::lastCharacterAsString(text), "x");
  EXPECT_EQ(ext::firstCharacterAsString(""), std::nullopt);
}

TEST(Unicode, ClusterBoundariesAroundAsciiText) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"ab\u0308c", {"a", "b\u0308", "c"}},
      {"\r\n\n\r", {"\r\n", "\n", "\r"}},
      {"a\u200D\U0001F600", {"a\u200D", "\U0001F600"}},
      {"x\U0001F1E9\U0001F1EA\U0001F1E9y", {"x", "\U0001F1E9\U0001F1EA", "\U0001F1E9", "y"}},
      {"\U0001F44D\U0001F3FD!", {"\U0001F44D\U0001F3FD", "!"}},  // skin tone modifier
      {"\xFF" "a\xC3", {"\xFF", "a", "\xC3"}},
      {"\u0600" "1", {"\u0600" "1"}},  // a prepended sign, ending in byte 0x80, takes the digit
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(strings(ext::charactersArray(text)), expected) << text;
  }
}

TEST(Unicode, EmojiOutsideTheBasicPlaneIsTwoUtf16Units) {
  EXPECT_EQ(ext::fullNSRange(kGrinning), (ext::NSRange{0, 2}));
  EXPECT_EQ(ext::nsString(kGrinning), u"\U0001F600");
  EXPECT_EQ(ext::nsString("a\xFF"), u"a\uFFFD");
  // NUL is a character like any other, not an ill-formed byte.
  EXPECT_EQ(ext::nsString(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Unicode, CanonicallyEquivalentTextsCompareEqual) {
  EXPECT_EQ(*Character::make(kDecomposedE), *Character::make(kComposedE));
  EXPECT_TRUE(ext::contains(std::string("caf") + std::string(kDecomposedE), kComposedE));
  EXPECT_TRUE(ext::starts(kComposedE, kDecomposedE));
  EXPECT_FALSE(ext::hasUniqueCharacters(std::string(kComposedE) + std::string(kDecomposedE)));
}

TEST(Unicode, MatchesCoverWholeCharacters) {
  EXPECT_FALSE(ext::contains(kDecomposedE, "e"));
  EXPECT_FALSE(ext::contains("\r\n", "\n"));
  EXPECT_FALSE(ext::starts(kDecomposedE, "e"));
  EXPECT_EQ(ext::count(kFamily, "\U0001F469"), 0);
}

TEST(FormTests, EmptyStringEdgeCases) {
  EXPECT_TRUE(ext::isDigits(""));
  EXPECT_TRUE(ext::isWhitespace(""));
  EXPECT_FALSE(ext::hasUniqueCharacters(""));
  EXPECT_FALSE(ext::isPalindrome(""));
  EXPECT_FALSE(ext::isAlphabetic(""));
  EXPECT_FALSE(ext::isAlphaNumeric(""));
}

TEST(FormTests, LettersAndDigits) {
  EXPECT_TRUE(ext::isDigits("0123\u0663"));  // Arabic-Indic three is a decimal digit
  EXPECT_FALSE(ext::isDigits("12a"));
  EXPECT_TRUE(ext::isWhitespace(" \t\n\u3000"));
  EXPECT_FALSE(ext::isWhitespace(" a "));
  EXPECT_TRUE(ext::isAlphabetic("Grüße"));
  EXPECT_FALSE(ext::isAlphabetic("abc1"));
  EXPECT_TRUE(ext::isAlphaNumeric("abc123"));
  EXPECT_FALSE(ext::isAlphaNumeric("abc"));
  EXPECT_FALSE(ext::isAlphaNumeric("abc 123"));
  EXPECT_TRUE(ext::hasLetters("1a"));
  EXPECT_FALSE(ext::hasNumbers("abc"));
}

TEST(FormTests, PalindromeLooksAtLettersOnly) {
  EXPECT_TRUE(ext::isPalindrome("A man, a plan, a canal: Panama!"));
  EXPECT_TRUE(ext::isPalindrome("Abc1 2BA"));
  EXPECT_TRUE(ext::isPalindrome("x"));
  EXPECT_FALSE(ext::isPalindrome("ab"));
  EXPECT_FALSE(ext::isPalindrome("12321"));
}

TEST(FormTests, EmojiRanges) {
  EXPECT_TRUE(ext::containEmoji(std::string("hi ") + std::string(kGrinning)));
  EXPECT_TRUE(ext::containEmoji(kFlag));
  EXPECT_TRUE(ext::containEmoji("a\uFE0F"));  // a variation selector counts
  EXPECT_TRUE(ext::containEmoji("\u2603"));   // snowman, 2600-26FF
  EXPECT_FALSE(ext::containEmoji("plain text"));
}

TEST(FormTests, UniqueCharacters) {
  EXPECT_TRUE(ext::hasUniqueCharacters("abc"));
  EXPECT_FALSE(ext::hasUniqueCharacters("abca"));
}

// The pattern is used as written; its quirks are part of the behaviour.
TEST(FormTests, EmailPatternAsWritten) {
  EXPECT_TRUE(ext::isValidEmail("john.doe@example.com"));
  EXPECT_TRUE(ext::isValidEmail("jürgen@example.de"));
  EXPECT_TRUE(ext::isValidEmail("\"quoted.name\"@example.com"));
  EXPECT_FALSE(ext::isValidEmail("\"quoted name\"@example.com"));  // a blank must be escaped
  EXPECT_TRUE(ext::isValidEmail("me@[192.168.0.1]"));
  EXPECT_FALSE(ext::isValidEmail("john.doe@"));
  EXPECT_FALSE(ext::isValidEmail("two@@example.com"));
  EXPECT_FALSE(ext::isValidEmail("john doe@example.com"));
  EXPECT_FALSE(ext::isValidEmail(""));
  // Inner domain labels take lower-case ASCII only: a valid address is rejected.
  EXPECT_FALSE(ext::isValidEmail("me@MAIL.EXAMPLE.COM"));
  EXPECT_TRUE(ext::isValidEmail("me@M.X.COM"));
}

TEST(FormTests, Urls) {
  EXPECT_TRUE(ext::isValidUrl("https://example.com/a?b=c#d"));
  EXPECT_TRUE(ext::isValidUrl("relative/path"));
  EXPECT_FALSE(ext::isValidUrl(""));
  EXPECT_FALSE(ext::isValidUrl("http://exa mple.com"));
  EXPECT_FALSE(ext::isValidUrl("http://example.com/%zz"));
  EXPECT_FALSE(ext::isValidUrl("a#b#c"));
  EXPECT_TRUE(ext::isValidSchemedUrl("mailto:me@example.com"));
  EXPECT_FALSE(ext::isValidSchemedUrl("example.com/path"));
  EXPECT_TRUE(ext::isValidHttpsUrl("https://example.com"));
  EXPECT_FALSE(ext::isValidHttpsUrl("HTTPS://example.com"));  // exact scheme
  EXPECT_TRUE(ext::isValidHttpUrl("http://example.com"));
  EXPECT_FALSE(ext::isValidHttpUrl("https://example.com"));
  EXPECT_TRUE(ext::isValidFileUrl("file:///tmp/x"));
  EXPECT_TRUE(ext::isValidFileUrl("FILE:///tmp/x"));
  EXPECT_FALSE(ext::isValidFileUrl("/tmp/x"));
  EXPECT_EQ(ext::url("ftp://h/p")->scheme(), "ftp");
}

TEST(Searching, PlatformQuirksOfTheEmptyText) {
  EXPECT_FALSE(ext::contains("abc", ""));
  EXPECT_FALSE(ext::contains("", ""));
  EXPECT_EQ(ext::count("abc", ""), 0);
  EXPECT_TRUE(ext::starts("abc", ""));
  EXPECT_TRUE(ext::ends("abc", ""));
}

TEST(Searching, CaseSensitivity) {
  EXPECT_TRUE(ext::contains("Hello World", "world", false));
  EXPECT_FALSE(ext::contains("Hello World", "world"));
  EXPECT_TRUE(ext::contains("STRASSE", "ß", false));
  EXPECT_TRUE(ext::starts("Hello", "HE", false));
  EXPECT_FALSE(ext::starts("Hello", "HE"));
  EXPECT_TRUE(ext::ends("Hello", "LLO", false));
  EXPECT_FALSE(ext::ends("lo", "Hello"));
}

TEST(Searching, CountsNonOverlappingOccurrences) {
  EXPECT_EQ(ext::count("aaa", "aa"), 1);
  EXPECT_EQ(ext::count("Hello hello HELLO", "hello"), 1);
  EXPECT_EQ(ext::count("Hello hello HELLO", "hello", false), 3);
  EXPECT_EQ(ext::count("abcabc", "x"), 0);
}

TEST(Searching, RegularExpressions) {
  const auto digits = ext::Regex::make("[0-9]+");
  ASSERT_TRUE(digits);
  EXPECT_TRUE(ext::matches("abc123", *digits));
  EXPECT_FALSE(ext::matches("abc123", *digits, {.anchored = true}));
  EXPECT_TRUE(ext::patternMatches("^a.c$", "abc"));
  EXPECT_FALSE(ext::patternMatches("(", "("));  // does not compile
  EXPECT_FALSE(ext::patternMatches("", "abc"));  // found nowhere, as contains() finds ""
  EXPECT_TRUE(ext::patternMatches(*digits, "x9"));
  EXPECT_FALSE(ext::Regex::make("[a-"));
}

// A range that runs past the text, or whose end does not fit 64 bits,
// matches nothing and replaces nothing.
TEST(Searching, RegexRangesPastTheTextFindNothing) {
  const auto letters = ext::Regex::make("[a-c]");
  ASSERT_TRUE(letters);
  ASSERT_TRUE(letters->firstMatch("abc", ext::NSRange{2, 1}));
  const ext::NSRange pastTheText[] = {
      {0, 4},          {3, 1},         {0, ext::kNSNotFound}, {ext::kNSNotFound, 1},
      {1, UINT64_MAX}, {UINT64_MAX, 2}};
  for (const ext::NSRange range : pastTheText) {
    EXPECT_FALSE(letters->firstMatch("abc", range)) << range.location << "+" << range.length;
    EXPECT_EQ(letters->replacingMatches("abc", range, "#"), "abc")
        << range.location << "+" << range.length;
  }
}

// Searches and replacements under the regex limits (ext/regex.h): within
// them an expression matches; past them it finds nothing, whatever a longer
// search would have found, and a replacement leaves the text as it was.
struct RegexLimitCase {
  const char* name;
  std::string pattern;
  std::string text;
  bool found;
  std::string replaced;  // with "#" for each match
};

class RegexLimits : public ::testing::TestWithParam<RegexLimitCase> {};

TEST_P(RegexLimits, ReachingALimitFindsNothingAndChangesNothing) {
  const RegexLimitCase& c = GetParam();
  const auto regex = ext::Regex::make(c.pattern);
  ASSERT_TRUE(regex);
  EXPECT_EQ(ext::patternMatches(c.pattern, c.text), c.found);
  EXPECT_EQ(ext::matches(c.text, *regex), c.found);
  EXPECT_EQ(ext::replacingOccurrences(c.text, c.pattern, "#"), c.replaced);
}

const std::string kAs20 = std::string(20, 'a') + "!";
const std::string kAs25 = std::string(25, 'a') + "!";
const std::string kAs5000 = std::string(5000, 'a');
const std::string kAsThenD = std::string(50'000, 'a') + "d";
const std::string kManyAsThenD = std::string(700'000, 'a') + "d";

// "^(?:(a+)+$|a+!)" tries 2^n ways for n letters before its second branch:
// for 20 letters about a quarter of the time limit, for 25 about 4 times it.
// "(a|c)+d" keeps a backtracking entry per letter: 50,000 take about a
// quarter of the stack limit, 700,000 about 4 times it.
INSTANTIATE_TEST_SUITE_P(
    Searching, RegexLimits,
    ::testing::Values(
        RegexLimitCase{"BacktrackingWithinTheTimeLimit", "^(?:(a+)+$|a+!)", kAs20, true, "#"},
        RegexLimitCase{"BacktrackingPastTheTimeLimit", "^(?:(a+)+$|a+!)", kAs25, false, kAs25},
        RegexLimitCase{"LaterMatchBehindTheTimeLimit", "(a+)+$|!", kAs25, false, kAs25},
        RegexLimitCase{"BackreferencePastTheTimeLimit", "^(a*)*\\1b$", kAs5000, false, kAs5000},
        RegexLimitCase{"ReplacementThatReachesTheTimeLimit", "(?:(a+)+$|a+!)", "a! " + kAs25, true,
                       "a! " + kAs25},
        RegexLimitCase{"StackWithinTheLimit", "(a|c)+d", kAsThenD, true, "#"},
        RegexLimitCase{"StackPastTheLimit", "(a|c)+d", kManyAsThenD, false, kManyAsThenD}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Searching, MostCommonCharacter) {
  EXPECT_EQ(ext::mostCommonCharacter("This is a test"), Character(U's'));
  EXPECT_EQ(ext::mostCommonCharacter(" \n \n"), std::nullopt);
  EXPECT_EQ(ext::mostCommonCharacter("\t"), Character(U'\t'));  // only blanks and line feeds go
  EXPECT_EQ(ext::mostCommonCharacter(std::string(kFamily) + "a" + std::string(kFamily)),
            *Character::make(kFamily));
}

TEST(Base64, EncodesUtf8BytesWithPadding) {
  EXPECT_EQ(ext::base64Encoded(""), "");
  EXPECT_EQ(ext::base64Encoded("f"), "Zg==");
  EXPECT_EQ(ext::base64Encoded("fo"), "Zm8=");
  EXPECT_EQ(ext::base64Encoded("foo"), "Zm9v");
  EXPECT_EQ(ext::base64Encoded("Hello, 世界"), "SGVsbG8sIOS4lueVjA==");
}

TEST(Base64, RoundTripsEveryLength) {
  std::string text;
  for (int length = 0; length < 20; ++length) {
    EXPECT_EQ(ext::stringFromBase64(ext::base64Encoded(text)), text);
    EXPECT_EQ(ext::base64Decoded(ext::base64Encoded(text)), text);
    text.push_back(static_cast<char>('a' + length));
  }
}

TEST(Base64, LenientDecodingRepairsPadding) {
  EXPECT_EQ(ext::base64Decoded("Zm8"), "fo");
  EXPECT_EQ(ext::base64Decoded("Zg"), "f");
  EXPECT_EQ(ext::base64Decoded("Zm9v\nYmFy"), "foobar");  // unknown characters skipped
  EXPECT_EQ(ext::stringFromBase64("Zm8"), std::nullopt);
  EXPECT_EQ(ext::stringFromBase64("Zm9v\nYmFy"), std::nullopt);
  EXPECT_EQ(ext::base64Decoded("Z"), std::nullopt);
  EXPECT_EQ(ext::base64Decoded("Zg==Zg=="), std::nullopt);
}

TEST(Base64, PaddingCountsEveryCharacter) {
  // Four characters, one of them skipped: no padding is added, so the three
  // base64 digits stay one short.
  EXPECT_EQ(ext::base64Decoded("Zm 8"), std::nullopt);
  EXPECT_EQ(ext::base64Decoded("Zm8"), "fo");
}

TEST(Base64, DecodedBytesMustBeUtf8) {
  EXPECT_EQ(ext::base64Decoded("/w=="), std::nullopt);  // 0xFF
  EXPECT_EQ(ext::stringFromBase64("/w=="), std::nullopt);
}

TEST(Splitting, Words) {
  EXPECT_EQ(ext::words("a, b  c."), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ext::words("Swift is—fast!"), (std::vector<std::string>{"Swift", "is", "fast"}));
  EXPECT_EQ(ext::wordCount(""), 0);
  EXPECT_EQ(ext::wordCount("one two\tthree\nfour"), 4);
}

TEST(Splitting, LinesWithEveryTerminator) {
  EXPECT_EQ(ext::lines("a\nb\r\nc\rd\u2028e\u0085f\u2029g"),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
  EXPECT_EQ(ext::lines("one\n\ntwo\n"), (std::vector<std::string>{"one", "", "two"}));
  EXPECT_TRUE(ext::lines("").empty());
}

}  // namespace
