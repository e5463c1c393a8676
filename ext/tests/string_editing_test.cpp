#include "ext/string_editing.h"

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "ext/strings.h"

namespace {

using ext::ClosedCharacterRange;
using ext::CharacterRange;
using ext::CharactersFrom;
using ext::CharactersThrough;
using ext::CharactersUpTo;

TEST(CaseShaping, CamelCase) {
  EXPECT_EQ(ext::camelCased("Hello World"), "helloWorld");
  EXPECT_EQ(ext::camelCased("HELLO"), "hello");
  EXPECT_EQ(ext::camelCased("one two three"), "oneTwoThree");
  EXPECT_EQ(ext::camelCased("élan vital"), "élanVital");
  std::string text = "Sky Blue";
  EXPECT_EQ(ext::camelize(text), "skyBlue");
  EXPECT_EQ(text, "skyBlue");
}

TEST(CaseShaping, CamelCaseOfEmptyIsEmpty) {
  EXPECT_EQ(ext::camelCased(""), "");
  std::string text;
  EXPECT_EQ(ext::camelize(text), "");
}

TEST(CaseShaping, FirstCharacterUppercasedMapsFully) {
  std::string text = "ßtraße";
  ext::firstCharacterUppercased(text);
  EXPECT_EQ(text, "SStraße");
  text = "e\u0301cole";
  ext::firstCharacterUppercased(text);
  EXPECT_EQ(text, "E\u0301cole");
  text.clear();
  ext::firstCharacterUppercased(text);
  EXPECT_EQ(text, "");
}

TEST(Cleaning, LatinizeAndTrim) {
  EXPECT_EQ(ext::latinized("Crème Brûlée, Ångström"), "Creme Brulee, Angstrom");
  EXPECT_EQ(ext::latinized("A\u030A\u0323 \u0915\u0903 \u1EC7 \U0001D15E"),
            "A \u0915\u0903 e \U0001D157\U0001D165");  // spacing marks stay
  // Marks all through a long text.
  std::string marked;
  std::string plain;
  for (int i = 0; i < 2'000'000; ++i) marked += "e\u0301X";
  for (int i = 0; i < 2'000'000; ++i) plain += "eX";
  EXPECT_EQ(ext::latinized(marked), plain);
  EXPECT_EQ(ext::latinize(marked), plain);
  EXPECT_EQ(ext::trimmed("\n\t  hi there \u00A0\r\n"), "hi there");
  EXPECT_EQ(ext::trimmed(" \n "), "");
  std::string text = "  x ";
  EXPECT_EQ(ext::trim(text), "x");
  EXPECT_EQ(ext::withoutSpacesAndNewLines(" a b\n\tc\r"), "ab\tc\r");
}

TEST(Cleaning, PercentEncodingRoundTrips) {
  EXPECT_EQ(ext::urlEncoded("a b/ü?"), "a%20b%2F%C3%BC%3F");
  EXPECT_EQ(ext::urlEncoded("host-1.example:80"), "host-1.example:80");
  EXPECT_EQ(ext::urlEncoded("azAZ09"), "azAZ09");
  EXPECT_EQ(ext::urlDecoded("%2f%c3%bc"), "/\u00FC");
  for (const char* text : {"", "a b", "100%", "日本語 / ?&=", "\U0001F600"}) {
    EXPECT_EQ(ext::urlDecoded(ext::urlEncoded(text)), text);
  }
}

TEST(Cleaning, MalformedEscapesLeaveTheTextAlone) {
  EXPECT_EQ(ext::urlDecoded("100%"), "100%");
  EXPECT_EQ(ext::urlDecoded("%zz"), "%zz");
  EXPECT_EQ(ext::urlDecoded("%4"), "%4");
  EXPECT_EQ(ext::urlDecoded(std::string_view("%41").substr(0, 2)), "%4");  // read to its end only
  EXPECT_EQ(ext::urlDecoded("%FF"), "%FF");  // not UTF-8 once decoded
  std::string text = "a%2";
  EXPECT_EQ(ext::urlDecode(text), "a%2");
}

TEST(Cleaning, RegexEscapedMatchesItself) {
  for (const char* text : {"a.b*c", "(x)[y]{z}", "^$|?+\\/"}) {
    const std::string escaped = ext::regexEscaped(text);
    EXPECT_TRUE(ext::patternMatches("^" + escaped + "$", text)) << escaped;
  }
  EXPECT_FALSE(ext::patternMatches(ext::regexEscaped("a.c"), "abc"));
}

TEST(Cleaning, Slugs) {
  EXPECT_EQ(ext::toSlug("  Crème & Brûlée! "), "creme-&-brulee");
  EXPECT_EQ(ext::toSlug("Hello, World"), "hello-world");
  EXPECT_EQ(ext::toSlug("a   b"), "a--b");  // three dashes become two
  EXPECT_EQ(ext::toSlug("a    b"), "a--b");
  EXPECT_EQ(ext::toSlug("--!--"), "");
  std::string marked;
  for (int i = 0; i < 2'000'000; ++i) marked += "E\u0301X ";
  EXPECT_EQ(ext::toSlug(marked).substr(0, 9), "ex-ex-ex-");
  EXPECT_EQ(ext::toSlug(marked).size(), 6'000'000U - 1);
}

TEST(Cleaning, ReverseKeepsCharactersWhole) {
  std::string text = "ae\u0301\U0001F1E9\U0001F1EA\r\n";
  EXPECT_EQ(ext::reverse(text), "\r\n\U0001F1E9\U0001F1EAe\u0301a");
}

TEST(Length, Truncation) {
  EXPECT_EQ(ext::truncated("Hello", 2, "..."), "He...");
  EXPECT_EQ(ext::truncated("Hello", 0, "..."), "...");
  EXPECT_EQ(ext::truncated("Hello", -1, "..."), "Hello");
  EXPECT_EQ(ext::truncated("Hello", 5, "..."), "Hello");
  EXPECT_EQ(ext::truncated("ae\u0301b", 2, std::nullopt), "ae\u0301");
  std::string text = "Hello";
  EXPECT_EQ(ext::truncate(text, 0, "..."), "Hello");
  EXPECT_EQ(ext::truncate(text, 3, std::nullopt), "Hel");
  EXPECT_EQ(ext::truncate(text, 1, std::nullopt), "H");
}

TEST(Length, Padding) {
  EXPECT_EQ(ext::paddingStart("x", 4, "ab"), "abax");
  EXPECT_EQ(ext::paddingEnd("x", 4, "ab"), "xaba");
  EXPECT_EQ(ext::paddingStart("x", 3, "abcdef"), "abx");
  EXPECT_EQ(ext::paddingStart("hello", 3, "ab"), "hello");
  EXPECT_EQ(ext::paddingStart("5", 3, "0"), "005");
  EXPECT_EQ(ext::paddingEnd("\U0001F600", 3, "e\u0301"), "\U0001F600e\u0301e\u0301");
  // A lone flag letter pairs with the next: a character every other copy.
  EXPECT_EQ(ext::paddingStart("x", 3, "\U0001F1E9"), "\U0001F1E9\U0001F1E9\U0001F1E9x");
  EXPECT_EQ(ext::paddingStart("x", 1'000'000, "ab").substr(999'996), "abax");
  std::string text = "7";
  EXPECT_EQ(ext::padStart(text, 2, "0"), "07");
  EXPECT_EQ(ext::padEnd(text, 3, "-"), "07-");
}

// Empty, or a mark, joiner or joined emoji that merges into one character
// however often it repeats; or more than any string holds.
TEST(Length, PaddingThatNeverReachesTheLengthLeavesTheText) {
  for (std::string_view pad : {"", "\u0301", "\u200D", "\U0001F469\u200D"}) {
    EXPECT_EQ(ext::paddingStart("x", 4, pad), "x");
    EXPECT_EQ(ext::paddingEnd("x", 4, pad), "x");
  }
  EXPECT_EQ(ext::paddingEnd("x", std::numeric_limits<std::int64_t>::max(), "ab"), "x");
}

// Where text and padding meet, a mark or joiner merges and flag letters pair
// up; the result still has exactly the length asked for, or is the text.
struct JoinCase {
  bool atStart;
  std::string text;
  std::int64_t length;
  std::string pad;
  std::string expected;
};

TEST(Length, PaddingCountsCharactersWhereTextAndPaddingMeet) {
  const std::string kD = "\U0001F1E9";  // regional indicators D and E
  const std::string kE = "\U0001F1EA";
  const JoinCase cases[] = {
      {true, "\u0301", 3, "a", "aaa\u0301"},
      {true, "\u0301x", 3, "ab", "ab\u0301x"},
      {false, "e", 3, "\u0301a", "e\u0301a\u0301a"},
      {false, kD, 3, kE, kD + kE + kE + kE + kE + kE},
      {false, "a", 3, "\u200D\U0001F466", "a"},  // the joiner and every boy merge into one
      // The boy joins the one before; then "a" and the next joiner merge.
      {false, "\U0001F466", 3, "\u200D\U0001F466a", "\U0001F466\u200D\U0001F466a\u200D\U0001F466"},
  };
  for (const JoinCase& c : cases) {
    const std::string padded = c.atStart ? ext::paddingStart(c.text, c.length, c.pad)
                                         : ext::paddingEnd(c.text, c.length, c.pad);
    EXPECT_EQ(padded, c.expected) << c.text << " padded with " << c.pad;
  }
  for (std::string_view pad : {"a", "\u0301", "\u0301a", "a\u200D", "\U0001F1EA", "a\U0001F1EA"}) {
    for (std::string_view text : {"", "x", "\u0301", "\U0001F1E9", "\U0001F466", "\u200D"}) {
      for (std::int64_t length = 0; length <= 6; ++length) {
        for (const std::string& padded :
             {ext::paddingStart(text, length, pad), ext::paddingEnd(text, length, pad)}) {
          if (padded == text) continue;
          EXPECT_EQ(static_cast<std::int64_t>(ext::charactersArray(padded).size()), length)
              << text << " padded with " << pad << " to " << length;
        }
      }
    }
  }
}

TEST(Affixes, PrefixAndSuffix) {
  EXPECT_EQ(ext::removingPrefix("foobar", "foo"), "bar");
  EXPECT_EQ(ext::removingPrefix("foobar", ""), "foobar");
  EXPECT_EQ(ext::removingPrefix("foobar", "bar"), "foobar");
  EXPECT_EQ(ext::removingSuffix("foobar", "bar"), "foo");
  EXPECT_EQ(ext::removingSuffix("foobar", "foo"), "foobar");
  EXPECT_EQ(ext::removingPrefix("\u00E9t\u00E9", "e\u0301"), "t\u00E9");  // equivalent forms
  EXPECT_EQ(ext::withPrefix("example.com", "https://"), "https://example.com");
  EXPECT_EQ(ext::withPrefix("https://example.com", "https://"), "https://example.com");
}

TEST(Slicing, SafeSubscripts) {
  const std::string text = "he\u0301llo";  // five characters
  EXPECT_EQ(ext::safe(text, 1)->string(), "e\u0301");
  EXPECT_EQ(ext::safe(text, 5), std::nullopt);
  EXPECT_EQ(ext::safe(text, -1), std::nullopt);
  EXPECT_EQ(ext::safe(text, CharacterRange{1, 3}), "e\u0301l");
  EXPECT_EQ(ext::safe(text, CharacterRange{0, 5}), text);
  EXPECT_EQ(ext::safe(text, CharacterRange{0, 6}), std::nullopt);
  EXPECT_EQ(ext::safe(text, ClosedCharacterRange{1, 3}), "e\u0301ll");
  EXPECT_EQ(ext::safe(text, ClosedCharacterRange{1, 5}), std::nullopt);
  EXPECT_EQ(ext::safe(text, CharactersUpTo{2}), "he\u0301");
  EXPECT_EQ(ext::safe(text, CharactersThrough{4}), text);
  EXPECT_EQ(ext::safe(text, CharactersThrough{5}), std::nullopt);
  EXPECT_EQ(ext::safe(text, CharactersFrom{0}), text);
  EXPECT_EQ(ext::safe(text, CharactersFrom{3}), "lo");
  EXPECT_EQ(ext::safe(text, CharactersFrom{5}), std::nullopt);  // not "" at the end
}

TEST(Slicing, ReversedBoundsGiveNothing) {
  EXPECT_EQ(ext::safe("hello", CharacterRange{3, 1}), std::nullopt);
  EXPECT_EQ(ext::safe("hello", ClosedCharacterRange{3, 1}), std::nullopt);
  std::string text = "hello";
  EXPECT_EQ(ext::slice(text, CharacterRange{3, 1}), "hello");
}

TEST(Slicing, SlicingByOffsetAndLength) {
  EXPECT_EQ(ext::slicing("hello", 0, 2), "he");
  EXPECT_EQ(ext::slicing("hello", 1, 3), "ell");
  EXPECT_EQ(ext::slicing("hello", 3, 10), "lo");
  EXPECT_EQ(ext::slicing("hello", 3, INT64_MAX), "lo");
  EXPECT_EQ(ext::slicing("hello", 2, 0), "");
  EXPECT_EQ(ext::slicing("hello", 5, 0), std::nullopt);
  EXPECT_EQ(ext::slicing("hello", -1, 2), std::nullopt);
  EXPECT_EQ(ext::slicing("hello", 1, -1), std::nullopt);
}

TEST(Slicing, MutatingSlicesLeaveBadOffsetsAlone) {
  std::string text = "hello";
  EXPECT_EQ(ext::slice(text, 5, 1), "hello");
  EXPECT_EQ(ext::slice(text, 1, 3), "ell");
  text = "hello";
  EXPECT_EQ(ext::slice(text, CharacterRange{1, 6}), "hello");
  EXPECT_EQ(ext::slice(text, CharacterRange{1, 4}), "ell");
  text = "hello";
  EXPECT_EQ(ext::slice(text, std::int64_t{5}), "hello");
  EXPECT_EQ(ext::slice(text, std::int64_t{2}), "llo");
}

TEST(Generated, RandomTextFromTheAlphabet) {
  EXPECT_EQ(ext::random(0), "");
  EXPECT_EQ(ext::random(-3), "");
  const std::string text = ext::random(200);
  ASSERT_EQ(text.size(), 200u);
  EXPECT_TRUE(ext::patternMatches("^[a-zA-Z0-9]+$", text));
  // 200 draws from 62 symbols cover well more than a handful.
  EXPECT_GT(std::set<char>(text.begin(), text.end()).size(), 20u);
}

TEST(Generated, LoremIpsum) {
  EXPECT_EQ(ext::loremIpsum(11), "Lorem ipsum");
  EXPECT_EQ(ext::loremIpsum(0), "");
  EXPECT_EQ(ext::loremIpsum(1000).size(), 445u);
  EXPECT_TRUE(ext::loremIpsum(1000).ends_with("id est laborum."));
}

TEST(Replacement, RegularExpressionWithTemplate) {
  const auto words = ext::Regex::make("(\\w+)@(\\w+)");
  ASSERT_TRUE(words);
  EXPECT_EQ(ext::replacingOccurrences("a@b, c@d", *words, "$2 at $1"), "b at a, d at c");
  EXPECT_EQ(ext::replacingOccurrences("a1b22", "[0-9]+", "#"), "a#b#");
  EXPECT_EQ(ext::replacingOccurrences("AbA", "a", "x", {.caseInsensitive = true}), "xbx");
  EXPECT_EQ(ext::replacingOccurrences("abc", "(", "x"), "abc");
}

TEST(Replacement, OnlyWithinTheRange) {
  const std::string text = "\U0001F600 1 2 3";
  // Bytes 4..8 cover " 1 2" after the 4-byte emoji.
  EXPECT_EQ(ext::replacingOccurrences(text, "[0-9]", "#", {}, ext::StringRange{4, 8}),
            "\U0001F600 # # 3");
}

// Bytes that are not UTF-8 read as U+FFFD but slicing keeps them as they were.
TEST(IllFormedUtf8, SlicesKeepTheBytes) {
  const std::string text = "a\xFF\xFE" "b";
  EXPECT_EQ(ext::slicing(text, 1, 2), "\xFF\xFE");
  EXPECT_EQ(ext::truncated(text, 2, std::nullopt), "a\xFF");
  std::string reversed = text;
  EXPECT_EQ(ext::reverse(reversed), "b\xFE\xFF" "a");
  EXPECT_EQ(ext::trimmed(" \xC3 "), "\xC3");
  EXPECT_EQ(ext::urlEncoded("\xFF"), "%EF%BF%BD");
  EXPECT_EQ(ext::latinized("\xFF"), "\uFFFD");
}

TEST(CommonSuffix, PairsFromTheEnd) {
  EXPECT_EQ(ext::commonSuffix("walking", "talking"), "alking");
  EXPECT_EQ(ext::commonSuffix("abc", "xyz"), "");
  EXPECT_EQ(ext::commonSuffix("king", "walking"), "king");  // one text runs out first
  EXPECT_EQ(ext::commonSuffix("walking", "king"), "king");
  EXPECT_EQ(ext::commonSuffix("HelLO", "yellow"), "");
  EXPECT_EQ(ext::commonSuffix("HelLO", "jello", {.caseInsensitive = true}), "elLO");
  EXPECT_EQ(ext::commonSuffix("caf\u00E9", "cafe\u0301"), "caf\u00E9");
  EXPECT_EQ(ext::commonSuffix("caf\u00E9", "cafe", {.diacriticInsensitive = true}), "caf\u00E9");
  EXPECT_EQ(ext::commonSuffix("caf\u00E9", "cafe\u0301", {.literal = true}), "");
  // Ill-formed bytes read as U+FFFD once accents are ignored, even literally.
  EXPECT_EQ(ext::commonSuffix("a\x80", "b\uFFFD", {.diacriticInsensitive = true, .literal = true}),
            "\x80");
}

}  // namespace
