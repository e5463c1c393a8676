#include "ext/characters.h"

#include <array>
#include <utility>

#include "ext/precondition.h"
#include "ext/string_numbers.h"
#include "icu_support.h"
#include "text_internal.h"

namespace ext {

namespace {

struct ScalarRange {
  char32_t first;
  char32_t last;
};

constexpr std::array<ScalarRange, 12> kEmojiRanges = {{
    {0x1F600, 0x1F64F},  // emoticons
    {0x1F300, 0x1F5FF},  // symbols and pictographs
    {0x1F680, 0x1F6FF},  // transport and maps
    {0x1F1E6, 0x1F1FF},  // regional indicators (flags)
    {0x2600, 0x26FF},    // miscellaneous symbols
    {0x2700, 0x27BF},    // dingbats
    {0xE0020, 0xE007F},  // tags
    {0xFE00, 0xFE0F},    // variation selectors
    {0x1F900, 0x1F9FF},  // supplemental symbols and pictographs
    {0x1F018, 0x1F270},  // various (decimal 127000...127600)
    {0x238C, 0x2454},    // various technical (decimal 9100...9300)
    {0x20D0, 0x20FF},    // combining marks for symbols
}};

std::string scalarText(char32_t scalar) {
  std::string text;
  icu_support::appendUtf8(text, scalar);
  return text;
}

// The first cluster of `text`, or U+FFFD for an empty mapping (none known).
Character firstCharacter(std::string_view text) {
  const auto clusters = icu_support::graphemes(text);
  return clusters.empty() ? Character(U'\uFFFD')
                          : detail::CharacterAccess::fromCluster(clusters.front());
}

}  // namespace

Character::Character(char32_t scalar) : Character(scalarText(scalar)) {}

Character::Character(std::string text) : text_(std::move(text)), nfc_(icu_support::nfc(text_)) {}

std::optional<Character> Character::make(std::string_view text) {
  if (text.empty() || icu_support::graphemeBoundaries(text).size() != 2) return std::nullopt;
  return Character(std::string(text));
}

Character Character::randomAlphanumeric() {
  return Character(static_cast<char32_t>(
      detail::kAlphanumerics[detail::randomIndex(detail::kAlphanumerics.size())]));
}

bool Character::isEmoji() const {
  std::size_t offset = 0;
  return isEmojiScalar(icu_support::nextScalar(text_, offset));
}

std::optional<std::int64_t> Character::intValue() const { return ext::intValue(text_); }

Character Character::lowercased() const { return firstCharacter(icu_support::lowercased(text_)); }

Character Character::uppercased() const { return firstCharacter(icu_support::uppercased(text_)); }

bool isEmojiScalar(char32_t scalar) {
  for (const ScalarRange& range : kEmojiRanges) {
    if (scalar >= range.first && scalar <= range.last) return true;
  }
  return false;
}

std::string operator*(std::string_view text, std::int64_t count) {
  std::string repeated;
  if (count < 1 || text.empty()) return repeated;
  precondition(static_cast<std::uint64_t>(count) <= detail::kLargestString / text.size(),
               "repetition longer than the largest string");
  repeated.reserve(text.size() * static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) repeated.append(text);
  return repeated;
}

std::string operator*(std::int64_t count, const Character& character) {
  return character.string() * count;
}

}  // namespace ext
