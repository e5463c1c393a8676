#pragma once
// Tolerant JSON decoding on nlohmann::json: building a value from JSON bytes
// with failures turned into nothing, and reading a flag that senders write as
// a number, a text or a boolean.
//
//   decodeJson<Info>(R"({"name": "x"})")                  -> an Info, via its from_json
//   decodeJson<Info>("{")                                 -> nothing
//   decodeBoolAsIntOrString({{"on", 1}}, "on")            -> true
//   decodeBoolAsIntOrString({{"on", "yes"}}, "on")        -> true
//   decodeBoolAsIntOrStringIfPresent({{"on", nullptr}}, "on") -> nothing
//
// The two flag readers are meant for use inside from_json functions: like the
// rest of nlohmann's decoding they throw nlohmann::json::exception on failure,
// which decodeJson turns into an absent result. Everything is pure and safe
// from any thread.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ext {

// A T built by nlohmann's decoding (T's from_json) from JSON text; nothing
// when the text is not JSON or does not decode, whatever the reason.
template <class T>
[[nodiscard]] std::optional<T> decodeJson(std::string_view json) {
  try {
    return nlohmann::json::parse(json).get<T>();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
template <class T>
[[nodiscard]] std::optional<T> decodeJson(std::span<const std::uint8_t> json) {
  return decodeJson<T>(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
}

// The truth of a text as the platform reads it: after leading white space,
// an optional sign and leading zeros, true when the next character is one of
// "YyTt" or a digit 1-9; false otherwise ("", "no", "0", "false").
[[nodiscard]] bool textBoolValue(std::string_view text);

// The member `key` of `object` read as a flag, trying in turn: an integer
// (true unless 0), a text (textBoolValue), a boolean. The failures of the first
// two attempts are dropped; the boolean attempt's failure is thrown
// (nlohmann::json::out_of_range for a missing key, type_error otherwise).
[[nodiscard]] bool decodeBoolAsIntOrString(const nlohmann::json& object, std::string_view key);

// As above, but a missing key or a null member gives nothing instead of a
// failure; a member of another type still throws type_error.
[[nodiscard]] std::optional<bool> decodeBoolAsIntOrStringIfPresent(const nlohmann::json& object,
                                                                   std::string_view key);

}  // namespace ext
