#include "ext/color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ext/precondition.h"
#include "system_random.h"

namespace ext {
namespace {

double clampedTransparency(double transparency) {
  if (!(transparency >= 0)) return 0;  // NaN too
  return std::min(transparency, 1.0);
}

// An optional sign, then hexadecimal digits only; the value must fit int64.
std::optional<std::int64_t> parseHex(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(INT64_MAX);
  std::uint64_t magnitude = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    if (magnitude > (limit - static_cast<std::uint64_t>(digit)) / 16) return std::nullopt;
    magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  // -2^63 has no positive counterpart; negate in unsigned arithmetic.
  return static_cast<std::int64_t>(~magnitude + 1);
}

std::string removingAll(std::string_view text, std::string_view needle) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.substr(i, needle.size()) == needle) {
      i += needle.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// "abc" -> "aabbcc".
std::string doublingEach(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) out.append(2, c);
  return out;
}

int channel(std::int64_t value, int shift) { return static_cast<int>((value >> shift) & 0xFF); }

std::int64_t truncatedComponent(double component) {
  const double scaled = std::trunc(component * 255.0);
  precondition(scaled >= -0x1p63 && scaled < 0x1p63,
               "colour component is not a finite value within the integer range");
  return static_cast<std::int64_t>(scaled);
}

double complementOf(double component) {
  const double scaled = component * 255.0;
  return std::sqrt(65025.0 - scaled * scaled) / 255.0;
}

}  // namespace

Color Color::rgb(double red, double green, double blue, double alpha) {
  return Color{red, green, blue, alpha, ColorModel::Rgb};
}

Color Color::grey(double white, double alpha) {
  return Color{white, white, white, alpha, ColorModel::Grey};
}

std::optional<Color> Color::fromComponents(std::int64_t red, std::int64_t green, std::int64_t blue,
                                           double transparency) {
  const auto inRange = [](std::int64_t c) { return c >= 0 && c <= 255; };
  if (!inRange(red) || !inRange(green) || !inRange(blue)) return std::nullopt;
  return rgb(red / 255.0, green / 255.0, blue / 255.0, clampedTransparency(transparency));
}

std::optional<Color> Color::fromHex(std::int64_t hex, double transparency) {
  return rgb(channel(hex, 16) / 255.0, channel(hex, 8) / 255.0, channel(hex, 0) / 255.0,
             clampedTransparency(transparency));
}

std::optional<Color> Color::fromHexString(std::string_view text, double transparency) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  std::string digits;
  if (lowered.starts_with("0x")) {
    digits = removingAll(lowered, "0x");
  } else if (text.starts_with('#')) {
    digits = removingAll(text, "#");
  } else {
    digits = std::string(text);
  }
  if (digits.size() == 3) digits = doublingEach(digits);
  const std::optional<std::int64_t> value = parseHex(digits);
  if (!value) return std::nullopt;
  return fromComponents(channel(*value, 16), channel(*value, 8), channel(*value, 0), transparency);
}

std::optional<Color> Color::fromArgbHexString(std::string_view text) {
  std::string digits = removingAll(removingAll(text, "0x"), "#");
  if (digits.size() <= 4) digits = doublingEach(digits);
  const std::optional<std::int64_t> value = parseHex(digits);
  if (!value) return std::nullopt;
  const int alpha = digits.size() == 8 ? channel(*value, 24) : 255;
  return fromComponents(channel(*value, 16), channel(*value, 8), channel(*value, 0),
                        alpha / 255.0);
}

std::optional<Color> Color::complementaryFor(const Color& color) {
  // A grey colour already holds white in all three channels, which is what
  // converting it to RGB gives.
  return rgb(complementOf(color.red), complementOf(color.green), complementOf(color.blue), 1.0);
}

Color Color::random() {
  const auto component = [] { return static_cast<std::int64_t>(detail::randomIndex(256)); };
  return *fromComponents(component(), component(), component(), 1.0);
}

std::array<std::int64_t, 3> rgbComponents(const Color& color) {
  return {truncatedComponent(color.red), truncatedComponent(color.green),
          truncatedComponent(color.blue)};
}

std::array<double, 3> cgFloatComponents(const Color& color) {
  return {color.red, color.green, color.blue};
}

HSBA hsbaComponents(const Color& color) {
  const double r = color.red;
  const double g = color.green;
  const double b = color.blue;
  const double maximum = std::max({r, g, b});
  const double delta = maximum - std::min({r, g, b});
  HSBA out;
  out.brightness = maximum;
  out.saturation = maximum == 0 ? 0 : delta / maximum;
  out.alpha = color.alpha;
  if (delta == 0) return out;
  double hue;
  if (maximum == r) {
    hue = (g - b) / delta;
  } else if (maximum == g) {
    hue = 2 + (b - r) / delta;
  } else {
    hue = 4 + (r - g) / delta;
  }
  hue /= 6;
  if (hue < 0) hue += 1;
  out.hue = hue;
  return out;
}

std::string hexString(const Color& color) {
  const std::array<std::int64_t, 3> c = rgbComponents(color);
  char text[64];
  // A component outside 0...255 is written whole (a negative one as its
  // 64-bit two's complement), as the unsigned conversion takes it.
  std::snprintf(text, sizeof text, "#%02llX%02llX%02llX", static_cast<unsigned long long>(c[0]),
                static_cast<unsigned long long>(c[1]), static_cast<unsigned long long>(c[2]));
  return text;
}

std::optional<std::string> shortHexString(const Color& color) {
  const std::string digits = removingAll(hexString(color), "#");
  if (digits.size() != 6 || digits[0] != digits[1] || digits[2] != digits[3] ||
      digits[4] != digits[5]) {
    return std::nullopt;
  }
  return std::string{'#', digits[0], digits[2], digits[4]};
}

std::string shortHexOrHexString(const Color& color) {
  return shortHexString(color).value_or(hexString(color));
}

std::uint32_t uInt(const Color& color) {
  const std::array<std::int64_t, 3> c = rgbComponents(color);
  for (std::int64_t component : c) {
    precondition(component >= 0 && component <= 255, "uInt needs components within 0...1");
  }
  return static_cast<std::uint32_t>(c[0]) * 65536u + static_cast<std::uint32_t>(c[1]) * 256u +
         static_cast<std::uint32_t>(c[2]);
}

std::optional<CoreImageColor> coreImageColor(const Color& color) {
  return CoreImageColor{color.red, color.green, color.blue, color.alpha};
}

std::optional<Color> complementary(const Color& color) { return Color::complementaryFor(color); }

Color blend(const Color& first, double firstIntensity, const Color& second,
            double secondIntensity) {
  // Two finite intensities whose sum overflows are halved first; that keeps
  // their ratio, and so the weights, exactly.
  if (std::isfinite(firstIntensity) && std::isfinite(secondIntensity) &&
      !std::isfinite(firstIntensity + secondIntensity)) {
    firstIntensity /= 2;
    secondIntensity /= 2;
  }
  const double total = firstIntensity + secondIntensity;
  const double w1 = firstIntensity / total;
  const double w2 = secondIntensity / total;
  if (!(w1 > 0)) return second;
  if (!(w2 > 0)) return first;
  return Color::rgb(w1 * first.red + w2 * second.red, w1 * first.green + w2 * second.green,
                    w1 * first.blue + w2 * second.blue, w1 * first.alpha + w2 * second.alpha);
}

Color lighten(const Color& color, double amount) {
  if (std::isnan(amount)) return color;
  const auto up = [amount](double c) { return std::min(c + amount, 1.0); };
  return Color::rgb(up(color.red), up(color.green), up(color.blue), color.alpha);
}

Color darken(const Color& color, double amount) {
  if (std::isnan(amount)) return color;
  const auto down = [amount](double c) {
    const double d = c - amount;
    return d <= 0 ? 0.0 : d;
  };
  return Color::rgb(down(color.red), down(color.green), down(color.blue), color.alpha);
}

}  // namespace ext
