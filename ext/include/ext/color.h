#pragma once
// A colour in extended sRGB: components and alpha are doubles and are not
// clamped, so values outside 0...1 survive arithmetic.
namespace ext {

struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace ext
