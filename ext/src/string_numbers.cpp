#include "ext/string_numbers.h"

#include <array>
#include <cmath>
#include <limits>

#include "ext/string_editing.h"
#include "icu_support.h"

namespace ext {

namespace {

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<Date> dateFromMilliseconds(std::optional<double> milliseconds) {
  if (!milliseconds) return std::nullopt;
  const double whole = std::floor(*milliseconds);
  if (!(whole >= -0x1p63 && whole < 0x1p63)) return std::nullopt;  // NaN too
  return Date(std::chrono::milliseconds(static_cast<std::int64_t>(whole)));
}

// Moves `at` past whitespace and newlines.
void skipWhitespace(std::string_view text, std::size_t& at) {
  while (at < text.size()) {
    std::size_t next = at;
    if (!icu_support::isWhitespaceOrNewline(icu_support::nextScalar(text, next))) return;
    at = next;
  }
}

// Moves `at` past ASCII digits; returns how many.
std::size_t skipDigits(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && isAsciiDigit(text[at])) ++at;
  return at - start;
}

}  // namespace

std::string currentLocale() { return icu_support::defaultLocale(); }
bool setCurrentLocale(std::string_view id) { return icu_support::setDefaultLocale(id); }
std::string currentTimeZone() { return icu_support::defaultTimeZone(); }
bool setCurrentTimeZone(std::string_view id) { return icu_support::setDefaultTimeZone(id); }

std::optional<bool> boolValue(std::string_view text) {
  struct Word {
    std::string_view text;
    bool value;
  };
  // Order matters: the first word found decides.
  constexpr std::array<Word, 6> kWords = {
      {{"true", true}, {"yes", true}, {"1", true}, {"false", false}, {"no", false}, {"0", false}}};
  const std::string cleaned = icu_support::lowercased(trimmed(text));
  for (const Word& word : kWords) {
    if (cleaned.find(word.text) != std::string::npos) return word.value;
  }
  return std::nullopt;
}

std::optional<std::int64_t> intValue(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulate towards the negative side, which holds one more value.
  std::int64_t value = 0;
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  for (char c : text) {
    if (!isAsciiDigit(c)) return std::nullopt;
    const int digit = c - '0';
    if (value < (kMin + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == kMin) return std::nullopt;
  return -value;
}

std::optional<float> floatValue(std::string_view text, std::string_view locale) {
  const auto number = icu_support::parseNumber(text, locale);
  if (!number) return std::nullopt;
  return static_cast<float>(*number);
}

std::optional<double> doubleValue(std::string_view text, std::string_view locale) {
  return icu_support::parseNumber(text, locale);
}

std::optional<double> cgFloatValue(std::string_view text, std::string_view locale) {
  return doubleValue(text, locale);
}

bool isNumeric(std::string_view text) {
  const std::string separator = icu_support::decimalSeparator("");
  std::size_t at = 0;
  skipWhitespace(text, at);
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t digits = skipDigits(text, at);
  if (!separator.empty() && text.substr(at).starts_with(separator)) {
    at += separator.size();
    digits += skipDigits(text, at);
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (skipDigits(text, exponent) > 0) at = exponent;
  }
  skipWhitespace(text, at);
  return at == text.size();
}

std::optional<Date> date(std::string_view text) {
  return date(icu_support::lowercased(trimmed(text)), "yyyy-MM-dd");
}

std::optional<Date> dateTime(std::string_view text) {
  return date(icu_support::lowercased(trimmed(text)), "yyyy-MM-dd HH:mm:ss");
}

std::optional<Date> date(std::string_view text, std::string_view format) {
  return dateFromMilliseconds(icu_support::parseDate(text, format));
}

}  // namespace ext
