#pragma once
// Decoders for what a report POST carries, written independently of the
// sender so tests check it the way a receiving server would.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillo::testing {

inline int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes an application/x-www-form-urlencoded value the way a standard
// server does: '+' is a blank, %XX a byte.
inline std::optional<std::string> formDecode(std::string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '+') {
      out += ' ';
    } else if (in[i] == '%') {
      if (i + 2 >= in.size()) return std::nullopt;
      const int high = hexDigit(in[i + 1]);
      const int low = hexDigit(in[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += char(high << 4 | low);
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

// Strict standard Base64: padded, no line breaks, nothing outside the alphabet.
inline std::optional<std::string> base64Decode(std::string_view in) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (in.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < in.size(); i += 4) {
    uint32_t n = 0;
    int padding = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = in[i + k];
      if (c == '=' && i + 4 == in.size() && k >= 2) {
        ++padding;
        n <<= 6;
        continue;
      }
      const size_t pos = kAlphabet.find(c);
      if (pos == std::string_view::npos || padding > 0) return std::nullopt;
      n = n << 6 | uint32_t(pos);
    }
    out += char(n >> 16);
    if (padding < 2) out += char((n >> 8) & 0xFF);
    if (padding < 1) out += char(n & 0xFF);
  }
  return out;
}

}  // namespace quillo::testing
