#pragma once
// A colour in extended sRGB, its initialisers from integers and hexadecimal
// text, its descriptions, blends and adjustments.
//
//   Color::fromHexString("#FFF")           -> white
//   Color::fromArgbHexString("80FF0000")   -> red at alpha 128/255
//   hexString(Color::rgb(1, 0, 0))         -> "#FF0000"
//   shortHexString(Color::rgb(1, 0, 0))    -> "#F00"
//   uInt(Color::rgb(0, 0, 1))              -> 255
//
// Components and alpha are doubles and are not clamped, so values outside
// 0...1 survive arithmetic. A grey colour keeps white in all three of red,
// green and blue and reads as white, white, white, alpha. Failed parses and
// out-of-range integers give an absent result; the limits named on a function
// are programming errors when broken (the process stops with a message).
// Every function is pure and safe to call from any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ext {

// Whether a colour was made as RGB or as grey (white and alpha). It decides
// how many components the colour lists; the values always sit in red, green
// and blue.
enum class ColorModel { Rgb, Grey };

struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  ColorModel model = ColorModel::Rgb;

  // A colour from floating-point components, taken as given.
  [[nodiscard]] static Color rgb(double red, double green, double blue, double alpha = 1);
  [[nodiscard]] static Color grey(double white, double alpha = 1);

  // Integer components 0...255 (c / 255); absent when one lies outside that
  // range. The transparency is clamped to 0...1 as alpha.
  [[nodiscard]] static std::optional<Color> fromComponents(std::int64_t red, std::int64_t green,
                                                           std::int64_t blue,
                                                           double transparency = 1);
  // Red from bits 16-23, green 8-15, blue 0-7; higher bits are ignored.
  // Always present; optional to match the other initialisers.
  [[nodiscard]] static std::optional<Color> fromHex(std::int64_t hex, double transparency = 1);
  // "#RGB", "#RRGGBB", "0xRRGGBB" or bare digits; longer text is accepted and
  // its higher bits ignored. Absent when the digits do not parse as a signed
  // 64-bit hexadecimal number.
  [[nodiscard]] static std::optional<Color> fromHexString(std::string_view text,
                                                          double transparency = 1);
  // As fromHexString, with alpha from bits 24-31 when the (expanded) text has
  // exactly eight digits: "80FF0000", "F00", "8F00".
  [[nodiscard]] static std::optional<Color> fromArgbHexString(std::string_view text);
  // sqrt(1 - x^2) per component, alpha 1. A component above 1 gives NaN in
  // that channel.
  [[nodiscard]] static std::optional<Color> complementaryFor(const Color& color);
  // Red, green and blue uniform in 0...255 from the system's random source,
  // without modulo bias; alpha 1.
  [[nodiscard]] static Color random();

  // The named-colour palettes (palettes.h).
  struct Social;
  struct Material;
  struct CSS;
  struct FlatUI;

  friend bool operator==(const Color&, const Color&) = default;
};

// Plain stand-ins for the platform's colour representations.
struct HSBA {
  double hue = 0;  // 0...1, as the platform reports it
  double saturation = 0;
  double brightness = 0;
  double alpha = 1;

  friend bool operator==(const HSBA&, const HSBA&) = default;
};

struct CoreImageColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  friend bool operator==(const CoreImageColor&, const CoreImageColor&) = default;
};

// Each of red, green and blue * 255 truncated toward zero. Components must be
// finite and the truncated products fit a 64-bit integer.
[[nodiscard]] std::array<std::int64_t, 3> rgbComponents(const Color& color);
[[nodiscard]] std::array<double, 3> cgFloatComponents(const Color& color);
// Hue, saturation and brightness as the HSV model gives them (hue 0 for greys).
[[nodiscard]] HSBA hsbaComponents(const Color& color);
// "#RRGGBB" in upper-case digits from rgbComponents; a component outside
// 0...255 is written with all its digits.
[[nodiscard]] std::string hexString(const Color& color);
// "#RGB" when each pair of hexString repeats one digit, else absent.
[[nodiscard]] std::optional<std::string> shortHexString(const Color& color);
[[nodiscard]] std::string shortHexOrHexString(const Color& color);
// red * 65536 + green * 256 + blue of rgbComponents; components must lie in 0...1.
[[nodiscard]] std::uint32_t uInt(const Color& color);
[[nodiscard]] std::optional<CoreImageColor> coreImageColor(const Color& color);
[[nodiscard]] std::optional<Color> complementary(const Color& color);

// Weighted mix of two colours and their alphas, each intensity over their
// sum (the ratio holds for intensities whose sum would overflow). A weight
// that is not above zero (including both intensities zero) returns the other
// colour itself.
[[nodiscard]] Color blend(const Color& first, double firstIntensity, const Color& second,
                          double secondIntensity);
// Each of red, green and blue raised by `amount` (0.1 for ten per cent) to at
// most 1 (lighten), or lowered by it to at least 0 (darken); alpha unchanged.
// A NaN amount leaves the colour as it is.
[[nodiscard]] Color lighten(const Color& color, double amount);
[[nodiscard]] Color darken(const Color& color, double amount);

}  // namespace ext
