#pragma once
// MD5 digests as 32 lower-case hexadecimal digits.
//
//   md5Hex(std::string_view("")) == "d41d8cd98f00b204e9800998ecf8427e"
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillo {

[[nodiscard]] std::string md5Hex(std::span<const uint8_t> bytes);
// Over the text's bytes up to its first NUL.
[[nodiscard]] std::string md5Hex(std::string_view text);
// Streams the file; nothing when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> md5HexOfFile(const std::string& path);

}  // namespace quillo
