#pragma once
// Characters: one user-perceived character (an extended grapheme cluster) as
// UTF-8, with emoji and digit tests, case mapping that stays one character,
// random alphanumerics, and repetition.
//
//   auto e = ext::Character::make("e\u0301");   // "é" as two scalars
//   *e == *ext::Character::make("\u00e9")      -> true (canonical equivalence)
//   ext::Character::make("ab")                 -> nothing (two characters)
//   ext::Character(U'ß').uppercased()           -> "S" (first of "SS")
//   3 * ext::Character(U'x')                    -> "xxx"
//   std::string("ab") * 2                        -> "abab" (with using ext::operator*)
//
// Strings in ext are UTF-8 std::string; counts and offsets of characters
// mean grapheme clusters; bytes that are not valid UTF-8 read as U+FFFD.
// Everything here is pure and safe from any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ext {

namespace detail {
class CharacterAccess;
}

class Character {
 public:
  // One Unicode scalar; a surrogate or a value above U+10FFFF becomes U+FFFD.
  explicit Character(char32_t scalar);

  // Nothing unless `text` is exactly one grapheme cluster.
  [[nodiscard]] static std::optional<Character> make(std::string_view text);

  // One of "a"..."z", "A"..."Z", "0"..."9", drawn uniformly from the system's
  // random source.
  [[nodiscard]] static Character randomAlphanumeric();

  // The character as a one-character string, as given.
  [[nodiscard]] const std::string& string() const { return text_; }

  // Whether the first scalar lies in the emoji ranges of containEmoji()
  // (ext/strings.h); later scalars are not looked at.
  [[nodiscard]] bool isEmoji() const;
  // The value of an ASCII digit "0"..."9"; nothing otherwise.
  [[nodiscard]] std::optional<std::int64_t> intValue() const;
  // The first character of the full lower- or upper-case form.
  [[nodiscard]] Character lowercased() const;
  [[nodiscard]] Character uppercased() const;

  // Equal when canonically equivalent (same NFC form).
  friend bool operator==(const Character& a, const Character& b) { return a.nfc_ == b.nfc_; }
  [[nodiscard]] std::size_t hash() const { return std::hash<std::string>{}(nfc_); }

 private:
  // Lets ext's own code make characters from clusters it has just cut.
  friend class detail::CharacterAccess;

  explicit Character(std::string text);

  std::string text_;
  std::string nfc_;
};

// Whether `scalar` lies in one of the emoji ranges: 1F600-1F64F, 1F300-1F5FF,
// 1F680-1F6FF, 1F1E6-1F1FF, 2600-26FF, 2700-27BF, E0020-E007F, FE00-FE0F,
// 1F900-1F9FF, 1F018-1F270, 238C-2454, 20D0-20FF.
[[nodiscard]] bool isEmojiScalar(char32_t scalar);

// `text` repeated `count` times; "" when count < 1. A result longer than the
// largest string is a programming error (so are the two below).
[[nodiscard]] std::string operator*(std::string_view text, std::int64_t count);
// `character` repeated `count` times; "" when count < 1.
[[nodiscard]] std::string operator*(std::int64_t count, const Character& character);

}  // namespace ext

template <>
struct std::hash<ext::Character> {
  std::size_t operator()(const ext::Character& c) const noexcept { return c.hash(); }
};
