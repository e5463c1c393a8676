#pragma once
// Small value operations on numbers: conversions, sign and parity tests,
// angles, rounding, powers, and number texts (abbreviated thousands, digits,
// Roman numerals, durations, ordinal, spelled-out and currency texts).
//
//   ext::kFormatted(-25'400)        -> "-25k"
//   ext::romanNumeral(1994)         -> "MCMXCIV"
//   ext::timeString(3661)           -> "1h 1m"
//   ext::roundToNearest(13, 5)      -> 15
//   ext::gcd(4, -6)                 -> -2
//   ext::ordinalString(2, "en_US")  -> "2nd"
//
// Every function is pure, keeps nothing between calls and may run on any
// thread. Failed formatting gives an absent result; the limits named on a
// function (the most negative integer, overflowing products, values that
// must not be negative) are programming errors: the process stops with a
// message, and no wrapped or made-up number is ever returned. Operators the
// language lacks are named functions: power (**), squareRoot (√), plusMinus (±).
#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ext/precondition.h"

namespace ext {

// The platform's graphics scalar: a double here.
using CGFloat = double;

// Both bounds included. Bounds that are out of order (or unordered, as NaN
// is) are a programming error.
template <typename T>
class ClosedRange {
 public:
  ClosedRange(T lower, T upper) : lower_(std::move(lower)), upper_(std::move(upper)) {
    precondition(lower_ <= upper_, "a closed range needs lower <= upper");
  }

  [[nodiscard]] const T& lower() const { return lower_; }
  [[nodiscard]] const T& upper() const { return upper_; }

 private:
  T lower_;
  T upper_;
};

// A number a formatter accepts: a signed integer or a floating-point value.
template <typename T>
concept SignedNumber = std::signed_integral<T> || std::floating_point<T>;

// False for zero of either sign and for NaN.
template <SignedNumber T>
[[nodiscard]] bool isPositive(T value) {
  return value > 0;
}
template <SignedNumber T>
[[nodiscard]] bool isNegative(T value) {
  return value < 0;
}

// --- Ordered values ---

template <typename T>
[[nodiscard]] bool isBetween(const T& value, const ClosedRange<T>& range) {
  return range.lower() <= value && value <= range.upper();
}

template <typename T>
[[nodiscard]] T clamped(const T& value, const ClosedRange<T>& range) {
  return std::max(range.lower(), std::min(value, range.upper()));
}

// --- Int (std::int64_t) ---

// 0 ..< value; the value must not be negative.
[[nodiscard]] std::ranges::iota_view<std::int64_t, std::int64_t> countableRange(std::int64_t value);
[[nodiscard]] double degreesToRadians(std::int64_t value);
[[nodiscard]] double radiansToDegrees(std::int64_t value);
// The value must not be negative.
[[nodiscard]] std::uint64_t toUInt(std::int64_t value);
// The nearest value of the type. Templates, so that an int argument picks
// these rather than being ambiguous with the floating-point overloads.
template <std::signed_integral I>
[[nodiscard]] double toDouble(I value) {
  return static_cast<double>(value);
}
template <std::signed_integral I>
[[nodiscard]] float toFloat(I value) {
  return static_cast<float>(value);
}
template <std::signed_integral I>
[[nodiscard]] CGFloat toCGFloat(I value) {
  return static_cast<CGFloat>(value);
}

// "0k" below a thousand; then "<n>k" by thousands and "<n>kk" by millions,
// truncated, with "-" for negative values: 1500 -> "1k", -3'700'000 -> "-3kk".
[[nodiscard]] std::string kFormatted(std::int64_t value);
// Decimal digits of the magnitude, most significant first: -120 -> {1, 2, 0}.
[[nodiscard]] std::vector<std::int64_t> digits(std::int64_t value);
// Number of decimal digits of the magnitude (0 has one), counted exactly.
[[nodiscard]] std::int64_t digitsCount(std::int64_t value);
// Trial division by odd candidates up to the truncated square root.
[[nodiscard]] bool isPrime(std::int64_t value);
// The largest value romanNumeral writes: a thousand "M" and the rest.
inline constexpr std::int64_t kRomanNumeralMax = 1'000'000;
// Absent below 1 and above kRomanNumeralMax; thousands repeat "M".
[[nodiscard]] std::optional<std::string> romanNumeral(std::int64_t value);
// The nearest multiple of `step` (halves away from zero), found in integer
// arithmetic, so exact for every Int; step 0 returns the value. The multiple
// must fit Int.
[[nodiscard]] std::int64_t roundToNearest(std::int64_t value, std::int64_t step);

// --- Double and Float ---

// Truncated toward zero; the value must be finite and its truncation fit Int.
[[nodiscard]] std::int64_t toInt(double value);
[[nodiscard]] std::int64_t toInt(float value);
[[nodiscard]] inline float toFloat(double value) { return static_cast<float>(value); }
[[nodiscard]] inline double toDouble(float value) { return value; }
double toDouble(double value) = delete;
[[nodiscard]] inline CGFloat toCGFloat(float value) { return value; }

// --- Floating-point values ---

template <std::floating_point F>
[[nodiscard]] F abs(F value) {
  return std::fabs(value);
}
template <std::floating_point F>
[[nodiscard]] F ceil(F value) {
  return std::ceil(value);
}
template <std::floating_point F>
[[nodiscard]] F floor(F value) {
  return std::floor(value);
}
template <std::floating_point F>
[[nodiscard]] F degreesToRadians(F value) {
  return std::numbers::pi_v<F> * value / F(180);
}
template <std::floating_point F>
[[nodiscard]] F radiansToDegrees(F value) {
  return value * F(180) / std::numbers::pi_v<F>;
}

// --- Signed integers (any width) ---

// The most negative value of the type has no magnitude.
template <std::signed_integral T>
[[nodiscard]] T abs(T value) {
  if (value == std::numeric_limits<T>::min()) preconditionFailure("abs of the most negative value");
  return value < 0 ? T(-value) : value;
}
template <std::signed_integral T>
[[nodiscard]] bool isEven(T value) {
  return value % 2 == 0;
}
template <std::signed_integral T>
[[nodiscard]] bool isOdd(T value) {
  return value % 2 != 0;
}

// A number of seconds as "0 sec", "59 sec", "1 min", "1h", "1h 1m".
[[nodiscard]] std::string timeString(std::int64_t seconds);

// Euclid's recursion without magnitudes, so the sign is the recursion's:
// gcd(4, -6) is -2, gcd(-4, 6) is 2, gcd(0, 0) is 0.
template <std::signed_integral T>
[[nodiscard]] T gcd(T value, T n) {
  while (n != 0) {
    // value % -1 overflows for the most negative value; its remainder is 0.
    const T remainder = n == T(-1) ? T(0) : T(value % n);
    value = n;
    n = remainder;
  }
  return value;
}

// |value * n| / gcd(value, n); the product must fit the type and the two
// numbers must not both be 0.
template <std::signed_integral T>
[[nodiscard]] T lcm(T value, T n) {
  T product;
  if (__builtin_mul_overflow(value, n, &product) || product == std::numeric_limits<T>::min()) {
    preconditionFailure("lcm of a product outside the type's range");
  }
  if (value == 0 && n == 0) preconditionFailure("lcm of 0 and 0");
  return T((product < 0 ? T(-product) : product) / gcd(value, n));
}

// --- Signed numbers ---

namespace detail {
std::string describeInteger(std::int64_t value);
std::string describeDouble(double value);
std::string describeFloat(float value);
std::optional<std::string> spellOut(std::int64_t value, std::string_view locale);
std::optional<std::string> spellOut(double value, std::string_view locale);
std::optional<std::string> currency(std::int64_t value);
std::optional<std::string> currency(double value);
}  // namespace detail


// The value's default description: "42", "-0.5", "1.0", "1e+16", "nan".
template <SignedNumber T>
[[nodiscard]] std::string string(T value) {
  if constexpr (std::signed_integral<T>) {
    return detail::describeInteger(value);
  } else if constexpr (std::is_same_v<T, float>) {
    return detail::describeFloat(value);
  } else {
    return detail::describeDouble(static_cast<double>(value));
  }
}

// Texts of a locale-aware number formatter made anew for each call, for the
// locale id given ("en_US", "de_DE"); absent when it gives no text.
[[nodiscard]] std::optional<std::string> ordinalString(std::int64_t value, std::string_view locale);
template <SignedNumber T>
[[nodiscard]] std::optional<std::string> spelledOutString(T value, std::string_view locale) {
  if constexpr (std::signed_integral<T>) {
    return detail::spellOut(static_cast<std::int64_t>(value), locale);
  } else {
    return detail::spellOut(static_cast<double>(value), locale);
  }
}
// In the current (default) locale.
template <SignedNumber T>
[[nodiscard]] std::optional<std::string> asLocaleCurrency(T value) {
  if constexpr (std::signed_integral<T>) {
    return detail::currency(static_cast<std::int64_t>(value));
  } else {
    return detail::currency(static_cast<double>(value));
  }
}

// --- Operators ---

// Integers are converted to double first.
template <std::signed_integral I>
[[nodiscard]] double power(I base, I exponent) {
  return std::pow(static_cast<double>(base), static_cast<double>(exponent));
}
[[nodiscard]] inline double power(double base, double exponent) { return std::pow(base, exponent); }
[[nodiscard]] inline float power(float base, float exponent) { return std::pow(base, exponent); }

// NaN for a negative operand.
template <std::signed_integral I>
[[nodiscard]] double squareRoot(I value) {
  return std::sqrt(static_cast<double>(value));
}
template <std::floating_point F>
[[nodiscard]] F squareRoot(F value) {
  return std::sqrt(value);
}

// (a + b, a - b), both exact.
[[nodiscard]] std::pair<std::int64_t, std::int64_t> plusMinus(std::int64_t a, std::int64_t b);
template <std::floating_point F>
[[nodiscard]] std::pair<F, F> plusMinus(F a, F b) {
  return {a + b, a - b};
}
// (a, -a); a must not be the most negative Int.
[[nodiscard]] std::pair<std::int64_t, std::int64_t> plusMinus(std::int64_t a);
// (0 + a, 0 - a), so -0 gives (+0, +0).
template <std::floating_point F>
[[nodiscard]] std::pair<F, F> plusMinus(F a) {
  return {F(0) + a, F(0) - a};
}

}  // namespace ext
