#include "ext/color.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

using ext::Color;

std::optional<std::string> hexOf(const std::optional<Color>& color) {
  if (!color) return std::nullopt;
  return ext::hexString(*color);
}

struct HexCase {
  std::string text;
  std::optional<std::string> hex;  // nullopt: the parse must fail
};

class HexStringTable : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexStringTable, ParsesByPrefixDoublingAndSignedRules) {
  EXPECT_EQ(hexOf(Color::fromHexString(GetParam().text)), GetParam().hex) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexStringTable,
    ::testing::Values(HexCase{"#FFF", "#FFFFFF"}, HexCase{"fff", "#FFFFFF"},
                      HexCase{"0xFFFFFF", "#FFFFFF"}, HexCase{"0XffFFff", "#FFFFFF"},
                      HexCase{"FFFFFF", "#FFFFFF"}, HexCase{"#1a2B3c", "#1A2B3C"},
                      // Higher bits are ignored, so longer text is accepted.
                      HexCase{"FF123456", "#123456"},
                      // A signed parse: -1 is all bits set.
                      HexCase{"-1", "#FFFFFF"}, HexCase{"+0000FF", "#0000FF"},
                      // Every "#" goes once the text starts with one.
                      HexCase{"#12#34#56", "#123456"},
                      HexCase{"#GG0000", std::nullopt}, HexCase{"", std::nullopt},
                      HexCase{"#", std::nullopt}, HexCase{"-", std::nullopt},
                      HexCase{" FFF", std::nullopt},
                      // Past int64: 8000000000000000 does not fit, its negation does.
                      HexCase{"8000000000000000", std::nullopt},
                      HexCase{"-8000000000000000", "#000000"},
                      HexCase{"7FFFFFFFFFFFFFFF", "#FFFFFF"},
                      HexCase{"10000000000000000", std::nullopt}));

TEST(ColorTransparency, IsClampedToUnitRange) {
  EXPECT_EQ(Color::fromHexString("FFF", 2)->alpha, 1.0);
  EXPECT_EQ(Color::fromHexString("FFF", -1)->alpha, 0.0);
  EXPECT_EQ(Color::fromHex(0xFF0000, 0.25)->alpha, 0.25);
  EXPECT_EQ(Color::fromComponents(1, 2, 3, NAN)->alpha, 0.0);
}

TEST(ColorFromComponents, OutOfRangeComponentIsAbsent) {
  EXPECT_FALSE(Color::fromComponents(256, 0, 0).has_value());
  EXPECT_FALSE(Color::fromComponents(0, -1, 0).has_value());
  EXPECT_FALSE(Color::fromComponents(std::int64_t{4'294'967'301}, 0, 0).has_value());
  EXPECT_EQ(Color::fromComponents(255, 0, 51), Color::rgb(1, 0, 0.2));
}

TEST(ColorFromHex, HigherBitsAreIgnored) {
  EXPECT_EQ(hexOf(Color::fromHex(0x7F'12'34'56)), "#123456");
}

TEST(ColorArgb, EightDigitsCarryAlphaOthersAreOpaque) {
  const std::optional<Color> red = Color::fromArgbHexString("80FF0000");
  ASSERT_TRUE(red.has_value());
  EXPECT_EQ(ext::hexString(*red), "#FF0000");
  EXPECT_DOUBLE_EQ(red->alpha, 128 / 255.0);

  EXPECT_EQ(Color::fromArgbHexString("F00")->alpha, 1.0);
  EXPECT_EQ(hexOf(Color::fromArgbHexString("F00")), "#FF0000");
  // Four digits double to eight: alpha 0x88.
  EXPECT_DOUBLE_EQ(Color::fromArgbHexString("8F00")->alpha, 0x88 / 255.0);
  EXPECT_EQ(hexOf(Color::fromArgbHexString("#0x00FF00")), "#00FF00");
  // No lower-casing here: "0X" stays and is no digit.
  EXPECT_FALSE(Color::fromArgbHexString("0XFF0000").has_value());
  // "0x" goes first: taking "#" out of "0#x" leaves a "0x" that stays.
  EXPECT_FALSE(Color::fromArgbHexString("0#xFF0000").has_value());
  // One or two digits double as well.
  EXPECT_EQ(hexOf(Color::fromArgbHexString("F")), "#0000FF");
  EXPECT_EQ(hexOf(Color::fromArgbHexString("12")), "#001122");
}

TEST(ColorHexText, ShortFormOnlyWhenEveryPairRepeats) {
  const Color red = Color::rgb(1, 0, 0);
  EXPECT_EQ(ext::hexString(red), "#FF0000");
  EXPECT_EQ(ext::shortHexString(red), "#F00");
  const Color notShort = Color::rgb(0x12 / 255.0, 0, 0);
  EXPECT_FALSE(ext::shortHexString(notShort).has_value());
  EXPECT_EQ(ext::shortHexOrHexString(notShort), "#120000");
  EXPECT_EQ(ext::shortHexOrHexString(red), "#F00");
}

TEST(ColorComponents, GreyReadsAsWhiteThreeTimes) {
  const Color grey = Color::grey(0.5, 0.4);
  EXPECT_EQ(ext::hexString(grey), "#7F7F7F");  // 127.5 truncated
  EXPECT_EQ(ext::rgbComponents(grey), (std::array<std::int64_t, 3>{127, 127, 127}));
  EXPECT_EQ(ext::cgFloatComponents(grey), (std::array<double, 3>{0.5, 0.5, 0.5}));
  EXPECT_EQ(ext::coreImageColor(grey), (ext::CoreImageColor{0.5, 0.5, 0.5, 0.4}));
}

TEST(ColorComponents, TruncateTowardZero) {
  EXPECT_EQ(ext::rgbComponents(Color::rgb(0.999, 1.0 / 255 - 1e-9, -0.001)),
            (std::array<std::int64_t, 3>{254, 0, 0}));
}

// Only finiteness limits a component; the hex text then shows every digit.
TEST(ColorComponents, LargeComponentsKeepAllTheirDigits) {
  EXPECT_EQ(ext::hexString(Color::rgb(1e7, 0, -1)), "#97FDE98000FFFFFFFFFFFFFF01");
}

TEST(ColorUInt, PacksRedGreenBlue) {
  EXPECT_EQ(ext::uInt(Color::rgb(0, 0, 1)), 255u);
  EXPECT_EQ(ext::uInt(Color::rgb(1, 0, 0)), 16711680u);
  EXPECT_EQ(ext::uInt(*Color::fromHex(0x123456)), 0x123456u);
}

TEST(ColorHsb, FollowsTheHsvModel) {
  EXPECT_EQ(ext::hsbaComponents(Color::rgb(1, 0, 0)), (ext::HSBA{0, 1, 1, 1}));
  const ext::HSBA green = ext::hsbaComponents(Color::rgb(0, 1, 0, 0.5));
  EXPECT_DOUBLE_EQ(green.hue, 1.0 / 3);
  EXPECT_EQ(green.alpha, 0.5);
  const ext::HSBA magenta = ext::hsbaComponents(Color::rgb(1, 0, 1));
  EXPECT_DOUBLE_EQ(magenta.hue, 5.0 / 6);
  EXPECT_EQ(ext::hsbaComponents(Color::grey(0.25)), (ext::HSBA{0, 0, 0.25, 1}));
  EXPECT_EQ(ext::hsbaComponents(Color::rgb(0, 0, 0)), (ext::HSBA{0, 0, 0, 1}));
  const ext::HSBA half = ext::hsbaComponents(Color::rgb(0.5, 0.25, 0.25));
  EXPECT_DOUBLE_EQ(half.saturation, 0.5);
  EXPECT_DOUBLE_EQ(half.brightness, 0.5);
}

TEST(ColorBlend, ZeroWeightReturnsTheOtherColourItself) {
  const Color a = Color::rgb(1, 0, 0, 1);
  const Color b = Color::grey(0.5, 0.5);
  EXPECT_EQ(ext::blend(a, 0, b, 1), b);
  EXPECT_EQ(ext::blend(a, 1, b, 0), a);
  EXPECT_EQ(ext::blend(a, 0, b, 0), b);  // undefined weight
  EXPECT_EQ(ext::blend(a, -1, b, 2), b);
  const Color mid = ext::blend(a, 0.5, b, 0.5);
  EXPECT_EQ(mid, Color::rgb(0.75, 0.25, 0.25, 0.75));
  EXPECT_EQ(ext::blend(a, 3, b, 1), Color::rgb(0.875, 0.125, 0.125, 0.875));
}

// The intensities' sum overflows; their ratio still decides.
TEST(ColorBlend, HugeIntensitiesMixByTheirRatio) {
  const Color red = Color::rgb(1, 0, 0);
  const Color blue = Color::rgb(0, 0, 1);
  EXPECT_EQ(ext::blend(red, 1e308, blue, 1e308), Color::rgb(0.5, 0, 0.5));
  const Color mix = ext::blend(red, 1.5e308, blue, 0.5e308);
  EXPECT_DOUBLE_EQ(mix.red, 0.75);
  EXPECT_DOUBLE_EQ(mix.blue, 0.25);
  EXPECT_EQ(ext::blend(red, -1e308, blue, -1e308), Color::rgb(0.5, 0, 0.5));
}

TEST(ColorAdjust, NanAmountLeavesTheColour) {
  for (const Color& c : {Color::rgb(0.8, 0.3, 0.5, 0.7), Color::grey(0.4, 0.5)}) {
    EXPECT_EQ(ext::lighten(c, NAN), c);
    EXPECT_EQ(ext::darken(c, NAN), c);
  }
}

TEST(ColorAdjust, LightenAndDarkenStayWithinUnitRange) {
  const Color c = Color::rgb(0.8, 0.3, 0.5, 0.7);
  const Color light = ext::lighten(c, 0.5);
  EXPECT_EQ(light.red, 1.0);
  EXPECT_DOUBLE_EQ(light.green, 0.8);
  EXPECT_EQ(light.alpha, 0.7);
  const Color dark = ext::darken(c, 0.5);
  EXPECT_DOUBLE_EQ(dark.red, 0.3);
  EXPECT_EQ(dark.green, 0.0);
  EXPECT_EQ(dark.blue, 0.0);
  EXPECT_EQ(dark.alpha, 0.7);
}

TEST(ColorComplementary, IsTheQuarterCirclePerChannel) {
  EXPECT_EQ(ext::complementary(Color::rgb(0, 0, 0, 0.3)), Color::rgb(1, 1, 1, 1));
  EXPECT_EQ(ext::complementary(Color::grey(1)), Color::rgb(0, 0, 0, 1));
  const Color c = *Color::complementaryFor(Color::rgb(0.6, 0.8, 2));
  EXPECT_NEAR(c.red, 0.8, 1e-12);
  EXPECT_NEAR(c.green, 0.6, 1e-12);
  EXPECT_TRUE(std::isnan(c.blue));  // above 1 has no real complement
}

TEST(ColorRandom, IsAnOpaqueIntegerColour) {
  for (int i = 0; i < 100; ++i) {
    const Color c = Color::random();
    EXPECT_EQ(c.alpha, 1.0);
    for (double component : {c.red, c.green, c.blue}) {
      EXPECT_GE(component, 0.0);
      EXPECT_LE(component, 1.0);
      EXPECT_DOUBLE_EQ(std::round(component * 255), component * 255);
    }
  }
}

// Drawn from the system's source, not from a generator whose state a forked
// child would copy: parent and child draw different colours.
TEST(ColorRandom, ForkedProcessesDrawDifferentColours) {
  const auto draw = [] {
    return ext::hexString(Color::random()) + ext::hexString(Color::random());
  };
  (void)draw();  // any generator state a draw sets up is inherited
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) _exit(write(fds[1], draw().data(), 14) == 14 ? 0 : 1);
  close(fds[1]);
  std::string theirs(14, '\0');
  EXPECT_EQ(read(fds[0], theirs.data(), theirs.size()), 14);
  close(fds[0]);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_NE(draw(), theirs);
}

TEST(ColorLimitsDeathTest, NonFiniteComponentStops) {
  EXPECT_DEATH((void)ext::rgbComponents(Color::rgb(NAN, 0, 0)), "not a finite value");
  EXPECT_DEATH((void)ext::uInt(Color::rgb(2, 0, 0)), "within 0...1");
  // 256 and -1 once scaled, just past 255 and 0.
  EXPECT_DEATH((void)ext::uInt(Color::rgb(0, 1.004, 0)), "within 0...1");
  EXPECT_DEATH((void)ext::uInt(Color::rgb(0, 0, -1.0 / 255)), "within 0...1");
  EXPECT_EQ(ext::uInt(Color::rgb(1, 1, 1)), 0xFFFFFFu);
  EXPECT_EQ(ext::uInt(Color::rgb(0, 0, -0.5 / 255)), 0u);  // truncated to 0
}

}  // namespace
