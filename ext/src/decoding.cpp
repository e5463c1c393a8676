#include "ext/decoding.h"

#include <cmath>
#include <limits>
#include <string>

namespace ext {
namespace {

// The member as a 64-bit integer, as a JSON decoder reads one: integers that
// fit, and floating-point numbers with an exact integer value.
std::optional<std::int64_t> integerValue(const nlohmann::json& member) {
  if (member.is_number_unsigned()) {
    const auto value = member.get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }
  if (member.is_number_integer()) return member.get<std::int64_t>();
  if (member.is_number_float()) {
    const double value = member.get<double>();
    // 2^63 is the first double past the int64 range.
    if (std::trunc(value) == value && value >= -9223372036854775808.0 &&
        value < 9223372036854775808.0) {
      return static_cast<std::int64_t>(value);
    }
  }
  return std::nullopt;
}

// The boolean from an integer or text member, or nothing to try the next form.
std::optional<bool> tolerantValue(const nlohmann::json& member) {
  if (const auto integer = integerValue(member)) return *integer != 0;
  if (member.is_string()) return textBoolValue(member.get_ref<const std::string&>());
  return std::nullopt;
}

}  // namespace

bool textBoolValue(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  };
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i == text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool decodeBoolAsIntOrString(const nlohmann::json& object, std::string_view key) {
  if (object.is_object()) {
    if (const auto it = object.find(key); it != object.end()) {
      if (const auto value = tolerantValue(*it)) return *value;
    }
  }
  // Throws out_of_range for a missing key and type_error for anything else.
  return object.at(key).get<bool>();
}

std::optional<bool> decodeBoolAsIntOrStringIfPresent(const nlohmann::json& object,
                                                     std::string_view key) {
  if (object.is_object()) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (const auto value = tolerantValue(*it)) return *value;
    return it->get<bool>();
  }
  return object.at(key).get<bool>();  // not an object: throws type_error
}

}  // namespace ext
