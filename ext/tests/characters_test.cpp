#include "ext/characters.h"

#include <cstdint>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "ext/bool_number.h"
#include "ext/string_editing.h"
#include "ext/strings.h"

namespace {

using ext::Character;
using ext::FloatingPointRoundingRule;
using ext::operator*;

TEST(Characters, MadeFromExactlyOneCluster) {
  EXPECT_TRUE(Character::make("\U0001F468\u200D\U0001F469\u200D\U0001F467"));
  EXPECT_TRUE(Character::make("\r\n"));
  EXPECT_FALSE(Character::make(""));
  EXPECT_FALSE(Character::make("ab"));
  EXPECT_EQ(Character(U'\xD800').string(), "\uFFFD");  // a lone surrogate is no scalar
}

TEST(Characters, EqualAndHashedByCanonicalForm) {
  const Character composed = *Character::make("\u00E9");
  const Character decomposed = *Character::make("e\u0301");
  EXPECT_EQ(composed, decomposed);
  EXPECT_EQ(composed.hash(), decomposed.hash());
  EXPECT_EQ(std::unordered_set<Character>({composed, decomposed}).size(), 1u);
  EXPECT_NE(composed, Character(U'e'));
  EXPECT_EQ(decomposed.string(), "e\u0301");  // kept as given
}

TEST(Characters, EmojiLooksAtTheFirstScalarOnly) {
  EXPECT_TRUE(Character::make("\U0001F600")->isEmoji());
  EXPECT_TRUE(Character::make("\U0001F1E9\U0001F1EA")->isEmoji());
  EXPECT_FALSE(Character::make("a\uFE0F")->isEmoji());
  EXPECT_TRUE(ext::containEmoji("a\uFE0F"));
  EXPECT_FALSE(Character(U'a').isEmoji());
}

TEST(Characters, DigitValues) {
  EXPECT_EQ(Character(U'7').intValue(), 7);
  EXPECT_EQ(Character(U'a').intValue(), std::nullopt);
  EXPECT_EQ(Character(U'-').intValue(), std::nullopt);
  EXPECT_EQ(Character(U'\u0663').intValue(), std::nullopt);
}

TEST(Characters, CaseMappingStaysOneCharacter) {
  EXPECT_EQ(Character(U'a').uppercased(), Character(U'A'));
  EXPECT_EQ(Character(U'Ä').lowercased(), Character(U'ä'));
  EXPECT_EQ(Character(U'ß').uppercased(), Character(U'S'));  // first of "SS"
  EXPECT_EQ(Character::make("e\u0301")->uppercased().string(), "E\u0301");
  EXPECT_EQ(Character(U'1').uppercased(), Character(U'1'));
}

TEST(Characters, RandomAlphanumericsCoverTheAlphabet) {
  std::unordered_set<Character> seen;
  for (int i = 0; i < 2000; ++i) {
    const Character c = Character::randomAlphanumeric();
    ASSERT_TRUE(ext::patternMatches("^[a-zA-Z0-9]$", c.string())) << c.string();
    seen.insert(c);
  }
  EXPECT_EQ(seen.size(), 62u);  // missing one after 2000 draws: p < 1e-12
}

TEST(Repetition, StringsAndCharacters) {
  EXPECT_EQ(std::string("ab") * 3, "ababab");
  EXPECT_EQ(std::string("ab") * 1, "ab");
  EXPECT_EQ(std::string("ab") * 0, "");
  EXPECT_EQ(std::string("ab") * -2, "");
  EXPECT_EQ(3 * Character(U'x'), "xxx");
  EXPECT_EQ(1 * Character(U'x'), "x");
  EXPECT_EQ(0 * Character(U'x'), "");
  EXPECT_EQ(2 * *Character::make("e\u0301"), "e\u0301e\u0301");
}

TEST(RepetitionDeathTest, ResultsPastTheLargestStringAreABug) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_DEATH((void)(std::string("abcd") * (std::int64_t{1} << 62)), "largest string");
  EXPECT_DEATH((void)(std::string("ab") * kMax), "largest string");
  EXPECT_DEATH((void)(kMax * Character(U'x')), "largest string");
  EXPECT_DEATH((void)ext::random(kMax), "largest string");
}

TEST(Bools, IntAndString) {
  EXPECT_EQ(ext::boolInt(true), 1);
  EXPECT_EQ(ext::boolInt(false), 0);
  EXPECT_EQ(ext::boolString(true), "true");
  EXPECT_EQ(ext::boolString(false), "false");
}

struct RoundingCase {
  double value;
  std::int64_t places;
  FloatingPointRoundingRule rule;
  double expected;
};

class Rounding : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(Rounding, ToDecimalPlaces) {
  const RoundingCase& c = GetParam();
  EXPECT_DOUBLE_EQ(ext::rounded(c.value, c.places, c.rule), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Rounding,
    ::testing::Values(RoundingCase{2.345, 2, FloatingPointRoundingRule::up, 2.35},
                      RoundingCase{2.345, 2, FloatingPointRoundingRule::towardZero, 2.34},
                      RoundingCase{2.345, 2, FloatingPointRoundingRule::down, 2.34},
                      RoundingCase{-2.345, 2, FloatingPointRoundingRule::down, -2.35},
                      RoundingCase{-2.341, 2, FloatingPointRoundingRule::awayFromZero, -2.35},
                      RoundingCase{2.5, 0, FloatingPointRoundingRule::toNearestOrEven, 2.0},
                      RoundingCase{3.5, 0, FloatingPointRoundingRule::toNearestOrEven, 4.0},
                      RoundingCase{2.5, 0, FloatingPointRoundingRule::toNearestOrAwayFromZero, 3.0},
                      RoundingCase{2.7, -3, FloatingPointRoundingRule::towardZero, 2.0},
                      RoundingCase{1.25, 1, FloatingPointRoundingRule::toNearestOrEven, 1.2}));

TEST(RoundingLimits, TooManyPlacesKeepTheValue) {
  EXPECT_EQ(ext::rounded(1.5, 400, FloatingPointRoundingRule::up), 1.5);
  EXPECT_EQ(ext::rounded(1e300, 10, FloatingPointRoundingRule::down), 1e300);
  EXPECT_EQ(ext::rounded(1.5f, 39, FloatingPointRoundingRule::up), 1.5f);
  EXPECT_EQ(ext::rounded(1.25f, 1, FloatingPointRoundingRule::up), 1.3f);
}

TEST(IntegerBytes, BigEndianTwosComplement) {
  EXPECT_EQ(ext::bytes(std::int32_t{1}), (std::vector<std::uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(ext::bytes(std::int16_t{-2}), (std::vector<std::uint8_t>{255, 254}));
  EXPECT_EQ(ext::bytes(std::uint8_t{200}), (std::vector<std::uint8_t>{200}));
  EXPECT_EQ(ext::fromBytes<std::int16_t>(std::vector<std::uint8_t>{1, 0}), 256);
  EXPECT_EQ(ext::fromBytes<std::int64_t>(std::vector<std::uint8_t>{}), 0);
  EXPECT_EQ(ext::fromBytes<std::uint32_t>(std::vector<std::uint8_t>{1, 2}), 0x0102u);
}

template <typename T>
void expectRoundTrips() {
  for (T value : {std::numeric_limits<T>::min(), static_cast<T>(-1), T{0}, T{1}, T{100},
                  std::numeric_limits<T>::max()}) {
    EXPECT_EQ(ext::fromBytes<T>(ext::bytes(value)), value);
  }
}

TEST(IntegerBytes, EveryValueRoundTrips) {
  expectRoundTrips<std::int8_t>();
  expectRoundTrips<std::uint8_t>();
  expectRoundTrips<std::int16_t>();
  expectRoundTrips<std::uint16_t>();
  expectRoundTrips<std::int32_t>();
  expectRoundTrips<std::uint64_t>();
  expectRoundTrips<std::int64_t>();
}

TEST(IntegerBytes, SignedBytesCombineAsBitPatterns) {
  EXPECT_EQ(ext::fromBytes<std::int8_t>(std::vector<std::uint8_t>{255}), -1);
  EXPECT_EQ(ext::fromBytes<std::int8_t>(std::vector<std::uint8_t>{128}), -128);
}

TEST(IntegerBytesDeathTest, MoreBytesThanTheTypeHoldsIsABug) {
  EXPECT_DEATH((void)ext::fromBytes<std::int16_t>(std::vector<std::uint8_t>{1, 2, 3}),
               "3 bytes do not fit a 2-byte integer");
}

}  // namespace
