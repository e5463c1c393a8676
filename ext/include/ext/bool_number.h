#pragma once
// Booleans as numbers and text, floating-point values rounded to decimal
// places, and integers to and from their big-endian bytes.
//
//   boolInt(true)                                        -> 1
//   boolString(false)                                    -> "false"
//   rounded(2.345, 2, FloatingPointRoundingRule::up)     -> 2.35
//   bytes(std::int16_t{-2})                              -> {255, 254}
//   fromBytes<std::int16_t>({1, 0})                      -> 256
//
// Header-only; pure and safe from any thread.
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace ext {

// --- Bool ---

[[nodiscard]] constexpr int boolInt(bool value) { return value ? 1 : 0; }
[[nodiscard]] inline std::string boolString(bool value) { return value ? "true" : "false"; }

// --- Rounding to decimal places ---

enum class FloatingPointRoundingRule {
  toNearestOrEven,
  toNearestOrAwayFromZero,
  up,
  down,
  towardZero,
  awayFromZero,
};

// `value` rounded by `rule` to `places` decimal places (a negative count
// counts as 0): value * 10^places rounded to a whole number, then divided
// back. Where the scaling does not fit the type (more than about 308 places
// for double, 38 for float, or a value too large to scale), the value has no
// digits left to round at that place and comes back unchanged.
template <std::floating_point T>
[[nodiscard]] T rounded(T value, std::int64_t places, FloatingPointRoundingRule rule) {
  const double power = std::pow(10.0, static_cast<double>(places < 0 ? 0 : places));
  const T factor = static_cast<T>(power);
  const T scaled = value * factor;
  if (!std::isfinite(factor) || !std::isfinite(scaled)) return value;
  T whole = scaled;
  switch (rule) {
    case FloatingPointRoundingRule::toNearestOrEven:
      whole = std::nearbyint(scaled);  // the default rounding mode: ties to even
      break;
    case FloatingPointRoundingRule::toNearestOrAwayFromZero:
      whole = std::round(scaled);
      break;
    case FloatingPointRoundingRule::up:
      whole = std::ceil(scaled);
      break;
    case FloatingPointRoundingRule::down:
      whole = std::floor(scaled);
      break;
    case FloatingPointRoundingRule::towardZero:
      whole = std::trunc(scaled);
      break;
    case FloatingPointRoundingRule::awayFromZero:
      whole = scaled < 0 ? std::floor(scaled) : std::ceil(scaled);
      break;
  }
  return whole / factor;
}

// --- Integer bytes ---

// Every integer type but bool.
template <typename T>
concept BinaryInteger = std::integral<T> && !std::same_as<T, bool>;

// The value's sizeof(T) bytes, most significant first; a negative value
// gives its two's-complement bytes.
template <BinaryInteger T>
[[nodiscard]] std::vector<std::uint8_t> bytes(T value) {
  using Unsigned = std::make_unsigned_t<T>;
  auto bits = static_cast<Unsigned>(value);
  std::vector<std::uint8_t> out(sizeof(T));
  for (std::size_t i = sizeof(T); i > 0; --i) {
    out[i - 1] = static_cast<std::uint8_t>(bits & 0xFFu);
    if constexpr (sizeof(T) > 1) bits = static_cast<Unsigned>(bits >> 8);
  }
  return out;
}

// The value whose big-endian bytes are `data`, as a bit pattern (so
// fromBytes<std::int8_t>({255}) is -1 and bytes() of any value comes back).
// Fewer bytes than sizeof(T) fill the low end. Always present. More than
// sizeof(T) bytes is the caller's bug: the process aborts.
template <BinaryInteger T>
[[nodiscard]] std::optional<T> fromBytes(std::span<const std::uint8_t> data) {
  if (data.size() > sizeof(T)) {
    std::fprintf(stderr, "fromBytes: %zu bytes do not fit a %zu-byte integer\n", data.size(),
                 sizeof(T));
    std::abort();
  }
  using Unsigned = std::make_unsigned_t<T>;
  Unsigned bits = 0;
  for (std::uint8_t byte : data) {
    if constexpr (sizeof(T) > 1) bits = static_cast<Unsigned>(bits << 8);
    bits = static_cast<Unsigned>(bits | byte);
  }
  return static_cast<T>(bits);
}

template <BinaryInteger T>
[[nodiscard]] std::optional<T> fromBytes(const std::vector<std::uint8_t>& data) {
  return fromBytes<T>(std::span<const std::uint8_t>(data));
}

}  // namespace ext
