#pragma once
// Small text and time helpers shared by the installer.
//
//   asciiValues("a\r\nb") == {97, 10, 98}   // CR LF is one character
//   asciiValues("a\u0301") == {}            // "á" as two scalars is not ASCII
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// The string's UTF-8 bytes, NUL-terminated, for C interfaces; valid while
// `text` lives unchanged.
[[nodiscard]] inline const char* c_base_str(const std::string& text) { return text.c_str(); }
// Length of a NUL-terminated string; 0 for nullptr.
[[nodiscard]] uint32_t cStrLen(const char* text);
// The bytes as text; nothing for nullptr or bytes that are not valid UTF-8.
[[nodiscard]] std::optional<std::string> fromUtf8Bytes(const char* bytes, uint32_t length);
// The one-character string of scalar U+0000..U+00FF with this value (UTF-8).
[[nodiscard]] std::string fromCUnsignedChar(uint8_t value);
// The one-character string of an ASCII byte; a negative value gives "".
[[nodiscard]] std::string fromCChar(int8_t value);
// The ASCII value of each user-perceived character, dropping non-ASCII ones.
[[nodiscard]] std::vector<uint8_t> asciiValues(std::string_view text);

// Milliseconds since 2001-01-01 00:00:00 UTC.
[[nodiscard]] uint64_t genCurrentTimeInMs();
using MediaTime = std::chrono::steady_clock::time_point;
[[nodiscard]] double costTimeInMS(MediaTime from);
// "%.2fms" of the milliseconds from `from` to now, or to `to`.
[[nodiscard]] std::string costTimeInMSString(MediaTime from);
[[nodiscard]] std::string costTimeInMSString(MediaTime from, MediaTime to);

}  // namespace quillo
