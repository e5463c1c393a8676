#include "ext/numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <string>

#include "icu_support.h"

namespace ext {
namespace {

constexpr std::int64_t kIntMin = std::numeric_limits<std::int64_t>::min();

std::uint64_t magnitudeOf(std::int64_t value, const char* operation) {
  if (value == kIntMin) preconditionFailure(operation);
  return static_cast<std::uint64_t>(value < 0 ? -value : value);
}

// The shortest round-trip digits of `value` written the way the platform
// describes floating-point numbers: plain decimal with at least one
// fractional digit while the value is an exact integer of the type's
// mantissa or larger than 1e-4, exponent form ("1e+16", "1.5e-05") outside.
template <typename F>
std::string describeFloating(F value, double exponentAbove) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::array<char, 64> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
  std::string scientific(buffer.data(), result.ptr);
  std::string sign;
  if (scientific.front() == '-') {
    sign = "-";
    scientific.erase(0, 1);
  }
  const std::size_t e = scientific.find('e');
  std::string digitText = scientific.substr(0, e);
  digitText.erase(std::remove(digitText.begin(), digitText.end(), '.'), digitText.end());
  const int exponent = std::stoi(scientific.substr(e + 1));

  const double magnitude = std::fabs(static_cast<double>(value));
  if (magnitude != 0 && (magnitude > exponentAbove || magnitude < 1e-4)) {
    std::string mantissa = digitText.substr(0, 1);
    if (digitText.size() > 1) mantissa += "." + digitText.substr(1);
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+',
                  exponent < 0 ? -exponent : exponent);
    return sign + mantissa + exponentText;
  }
  std::string out;
  if (exponent >= 0) {
    const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digitText.size() <= integerDigits) {
      out = digitText + std::string(integerDigits - digitText.size(), '0') + ".0";
    } else {
      out = digitText.substr(0, integerDigits) + "." + digitText.substr(integerDigits);
    }
  } else {
    out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digitText;
  }
  return sign + out;
}

}  // namespace

namespace detail {

std::string describeInteger(std::int64_t value) { return std::to_string(value); }
std::string describeDouble(double value) { return describeFloating(value, 0x1p53); }
std::string describeFloat(float value) { return describeFloating(value, 0x1p24); }

std::optional<std::string> spellOut(std::int64_t value, std::string_view locale) {
  return icu_support::formatNumber(value, icu_support::NumberStyle::SpellOut, locale);
}
std::optional<std::string> spellOut(double value, std::string_view locale) {
  // The formatter's own double path spells every whole number above 2^54 as
  // 2^54. Whole numbers within Int go the integer way; beyond it the
  // formatter gets the value's shortest decimal digits, which it writes as
  // it writes every number past its words (grouped digits in English).
  if (std::isfinite(value) && value == std::trunc(value)) {
    if (value >= -0x1p63 && value < 0x1p63) {
      return spellOut(static_cast<std::int64_t>(value), locale);
    }
    std::array<char, 64> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return icu_support::formatDecimal(std::string_view(digits.data(), written.ptr),
                                      icu_support::NumberStyle::SpellOut, locale);
  }
  return icu_support::formatNumber(value, icu_support::NumberStyle::SpellOut, locale);
}
std::optional<std::string> currency(std::int64_t value) {
  return icu_support::formatNumber(value, icu_support::NumberStyle::Currency, "");
}
std::optional<std::string> currency(double value) {
  return icu_support::formatNumber(value, icu_support::NumberStyle::Currency, "");
}

}  // namespace detail

std::ranges::iota_view<std::int64_t, std::int64_t> countableRange(std::int64_t value) {
  if (value < 0) preconditionFailure("countableRange of a negative value");
  return std::ranges::iota_view<std::int64_t, std::int64_t>(0, value);
}

double degreesToRadians(std::int64_t value) {
  return static_cast<double>(value) * std::numbers::pi / 180.0;
}

double radiansToDegrees(std::int64_t value) {
  return static_cast<double>(value) * 180.0 / std::numbers::pi;
}

std::uint64_t toUInt(std::int64_t value) {
  if (value < 0) preconditionFailure("uInt of a negative value");
  return static_cast<std::uint64_t>(value);
}

std::string kFormatted(std::int64_t value) {
  const std::uint64_t m = magnitudeOf(value, "kFormatted of the most negative value");
  const std::string sign = value < 0 ? "-" : "";
  if (m < 1000) return "0k";
  if (m < 1'000'000) return sign + std::to_string(m / 1000) + "k";
  return sign + std::to_string(m / 1'000'000) + "kk";
}

std::vector<std::int64_t> digits(std::int64_t value) {
  std::uint64_t m = magnitudeOf(value, "digits of the most negative value");
  std::vector<std::int64_t> out;
  do {
    out.push_back(static_cast<std::int64_t>(m % 10));
    m /= 10;
  } while (m != 0);
  return {out.rbegin(), out.rend()};
}

std::int64_t digitsCount(std::int64_t value) {
  // Counted on integers: a logarithm in doubles counts one too many just
  // below powers of ten from 10^15 on.
  std::uint64_t m = magnitudeOf(value, "digitsCount of the most negative value");
  std::int64_t count = 1;
  while (m >= 10) {
    m /= 10;
    ++count;
  }
  return count;
}

bool isPrime(std::int64_t value) {
  if (value == 2) return true;
  if (value < 2 || value % 2 == 0) return false;
  // Never below the integer root for any Int: checked for every square from
  // 2^53 to the largest, where the conversion to double starts to round.
  const auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(value)));
  for (std::int64_t candidate = 3; candidate <= root; candidate += 2) {
    if (value % candidate == 0) return false;
  }
  return true;
}

std::optional<std::string> romanNumeral(std::int64_t value) {
  if (value < 1 || value > kRomanNumeralMax) return std::nullopt;
  static constexpr std::pair<std::int64_t, const char*> kLetters[] = {
      {1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"}, {100, "C"}, {90, "XC"}, {50, "L"},
      {40, "XL"},  {10, "X"},   {9, "IX"},  {5, "V"},    {4, "IV"},  {1, "I"}};
  std::string out;
  for (const auto& [number, letters] : kLetters) {
    for (std::int64_t q = value / number; q > 0; --q) out += letters;
    value %= number;
  }
  return out;
}

std::int64_t roundToNearest(std::int64_t value, std::int64_t step) {
  // Every Int is a multiple of 1 and -1; this also keeps kIntMin / -1 out.
  if (step == 0 || step == 1 || step == -1) return value;
  std::int64_t quotient = value / step;
  const std::int64_t remainder = value % step;
  const auto magnitude = [](std::int64_t n) {
    return n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  };
  // Halves away from zero: 2|r| >= |n|, written without overflowing.
  if (magnitude(remainder) >= magnitude(step) - magnitude(remainder)) {
    quotient += (value < 0) == (step < 0) ? 1 : -1;
  }
  std::int64_t multiple;
  if (__builtin_mul_overflow(quotient, step, &multiple)) {
    preconditionFailure("roundToNearest outside the integer range");
  }
  return multiple;
}

std::int64_t toInt(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated >= -0x1p63 && truncated < 0x1p63)) {
    preconditionFailure("int of a value that is not finite or outside the integer range");
  }
  return static_cast<std::int64_t>(truncated);
}

std::int64_t toInt(float value) { return toInt(static_cast<double>(value)); }

std::string timeString(std::int64_t seconds) {
  if (seconds <= 0) return "0 sec";
  if (seconds < 60) return std::to_string(seconds) + " sec";
  if (seconds < 3600) return std::to_string(seconds / 60) + " min";
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds % 3600 / 60;
  if (minutes == 0) return std::to_string(hours) + "h";
  return std::to_string(hours) + "h " + std::to_string(minutes) + "m";
}

std::optional<std::string> ordinalString(std::int64_t value, std::string_view locale) {
  return icu_support::formatNumber(value, icu_support::NumberStyle::Ordinal, locale);
}

std::pair<std::int64_t, std::int64_t> plusMinus(std::int64_t a, std::int64_t b) {
  std::int64_t sum;
  std::int64_t difference;
  if (__builtin_add_overflow(a, b, &sum) || __builtin_sub_overflow(a, b, &difference)) {
    preconditionFailure("plusMinus outside the integer range");
  }
  return {sum, difference};
}

std::pair<std::int64_t, std::int64_t> plusMinus(std::int64_t a) {
  if (a == kIntMin) preconditionFailure("plusMinus of the most negative value");
  return {a, -a};
}

}  // namespace ext
