#include "ext/strings.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "ext/string_editing.h"
#include "icu_support.h"
#include "text_internal.h"

namespace ext {

namespace {

// Written as one piece in three parts: the local part's two forms, the
// quoted form between two double quotes, and the domain.
constexpr std::string_view kEmailPattern =
    "^(?:[\\p{L}0-9!#$%\\&'*+/=?\\^_`{|}~-]+(?:\\.[\\p{L}0-9!#$%\\&'*+/=?\\^_`{|}~-]+)*|"
    "\""
    "(?:[\\x01-\\x08\\x0b\\x0c\\x0e-\\x1f\\x21\\x23-\\x5b\\x5d-\\x7f]|\\\\[\\x01-"
    "\\x09\\x0b\\x0c\\x0e-\\x7f])*"
    "\""
    ")@(?:(?:[\\p{L}0-9](?:[a-z0-9-]*[\\p{L}0-9])?\\.)+[\\p{L}0-9](?:[\\p{L}0-9-]*[\\p{L}0-9])?|\\["
    "(?:"
    "(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[\\p{L}"
    "0-9-]*"
    "[\\p{L}0-9]:(?:[\\x01-\\x08\\x0b\\x0c\\x0e-\\x1f\\x21-\\x5a\\x53-\\x7f]|\\\\[\\x01-"
    "\\x09\\x0b\\x0c\\x0e-"
    "\\x7f])+)\\])$";
static_assert(kEmailPattern.size() == 450);

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each byte's value in the alphabet, or -1.
constexpr std::array<signed char, 256> kBase64Values = [] {
  std::array<signed char, 256> values{};
  values.fill(-1);
  for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
  }
  return values;
}();

int base64Value(char c) { return kBase64Values[static_cast<unsigned char>(c)]; }

// Decodes base64; with `skipUnknown`, characters outside the alphabet and
// "=" are passed over. Padding must make a multiple of four characters.
std::optional<std::string> decodeBase64(std::string_view text, bool skipUnknown) {
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t group = 0;
  std::size_t digits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = base64Value(c);
    if (value < 0) {
      if (skipUnknown) continue;
      return std::nullopt;
    }
    // Nothing may follow the padding.
    if (padding > 0) return std::nullopt;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    if (++digits % 4 == 0) {
      bytes.push_back(static_cast<char>(group >> 16));
      bytes.push_back(static_cast<char>(group >> 8));
      bytes.push_back(static_cast<char>(group));
      group = 0;
    }
  }
  const std::size_t tail = digits % 4;
  if ((digits + padding) % 4 != 0 || padding > 2 || tail == 1 || (tail == 0 && padding > 0)) {
    return std::nullopt;
  }
  if (tail == 2) bytes.push_back(static_cast<char>(group >> 4));
  if (tail == 3) {
    bytes.push_back(static_cast<char>(group >> 10));
    bytes.push_back(static_cast<char>(group >> 2));
  }
  return bytes;
}

std::optional<std::string> asUtf8(std::optional<std::string> bytes) {
  if (!bytes || !icu_support::isValidUtf8(*bytes)) return std::nullopt;
  return bytes;
}

template <typename Predicate>
bool anyScalar(std::string_view text, Predicate predicate) {
  for (std::size_t i = 0; i < text.size();) {
    if (predicate(icu_support::nextScalar(text, i))) return true;
  }
  return false;
}

template <typename Predicate>
bool allScalars(std::string_view text, Predicate predicate) {
  return !anyScalar(text, [&](char32_t c) { return !predicate(c); });
}

// Whether a character counts as a letter: its first scalar is alphabetic.
bool isLetterCharacter(std::string_view character) {
  std::size_t offset = 0;
  return !character.empty() &&
         icu_support::isAlphabetic(icu_support::nextScalar(character, offset));
}

bool isLineSeparator(char32_t c) {
  return c == U'\n' || c == U'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Both texts cut into characters, lower-cased first when case does not matter.
std::pair<detail::KeyedText, detail::KeyedText> affixKeys(std::string_view text,
                                                          std::string_view affix,
                                                          bool caseSensitive) {
  if (caseSensitive) return {detail::keyed(text, {}), detail::keyed(affix, {})};
  return {detail::keyed(icu_support::lowercased(text), {}),
          detail::keyed(icu_support::lowercased(affix), {})};
}

bool isUrlWith(std::string_view text, bool (*accept)(const Url&)) {
  const auto made = Url::make(text);
  return made && accept(*made);
}

}  // namespace

bool isValidEmail(std::string_view text) {
  static const std::optional<Regex> kEmail = Regex::make(kEmailPattern);
  return kEmail && kEmail->firstMatch(text, fullNSRange(text));
}

bool isValidUrl(std::string_view text) { return Url::make(text).has_value(); }

bool isValidSchemedUrl(std::string_view text) {
  return isUrlWith(text, [](const Url& u) { return u.hasScheme(); });
}

bool isValidHttpsUrl(std::string_view text) {
  return isUrlWith(text, [](const Url& u) { return u.scheme() == "https"; });
}

bool isValidHttpUrl(std::string_view text) {
  return isUrlWith(text, [](const Url& u) { return u.scheme() == "http"; });
}

bool isValidFileUrl(std::string_view text) {
  return isUrlWith(text, [](const Url& u) { return u.isFileUrl(); });
}

bool isDigits(std::string_view text) { return allScalars(text, icu_support::isDecimalDigit); }

bool isWhitespace(std::string_view text) { return trimmed(text).empty(); }

bool hasLetters(std::string_view text) { return anyScalar(text, icu_support::isLetterOrMark); }

bool hasNumbers(std::string_view text) { return anyScalar(text, icu_support::isDecimalDigit); }

bool isAlphabetic(std::string_view text) { return hasLetters(text) && !hasNumbers(text); }

bool isAlphaNumeric(std::string_view text) {
  return hasLetters(text) && hasNumbers(text) && allScalars(text, icu_support::isAlphanumeric);
}

bool isPalindrome(std::string_view text) {
  std::vector<std::string> letters;
  for (std::string_view character : icu_support::graphemes(text)) {
    if (isLetterCharacter(character))
      letters.push_back(icu_support::nfc(icu_support::lowercased(character)));
  }
  if (letters.empty()) return false;
  // The middle letter of an odd count pairs with nothing.
  const std::size_t half = letters.size() / 2;
  for (std::size_t i = 0; i < half; ++i) {
    if (letters[i] != letters[letters.size() - 1 - i]) return false;
  }
  return true;
}

bool containEmoji(std::string_view text) { return anyScalar(text, isEmojiScalar); }

bool hasUniqueCharacters(std::string_view text) {
  const std::vector<Character> characters = charactersArray(text);
  const std::unordered_set<Character> distinct(characters.begin(), characters.end());
  return !characters.empty() && distinct.size() == characters.size();
}

bool contains(std::string_view text, std::string_view part, bool caseSensitive) {
  const detail::KeyOptions options{.caseInsensitive = !caseSensitive};
  return !detail::occurrences(detail::keyed(text, options), detail::keyed(part, options)).empty();
}

std::int64_t count(std::string_view text, std::string_view part, bool caseSensitive) {
  const std::string hay = caseSensitive ? std::string(text) : icu_support::lowercased(text);
  const std::string needle = caseSensitive ? std::string(part) : icu_support::lowercased(part);
  return static_cast<std::int64_t>(
      detail::occurrences(detail::keyed(hay, {}), detail::keyed(needle, {})).size());
}

bool starts(std::string_view text, std::string_view prefix, bool caseSensitive) {
  const auto [hay, needle] = affixKeys(text, prefix, caseSensitive);
  return detail::hasPrefix(hay, needle);
}

bool ends(std::string_view text, std::string_view suffix, bool caseSensitive) {
  const auto [hay, needle] = affixKeys(text, suffix, caseSensitive);
  return detail::hasSuffix(hay, needle);
}

bool matches(std::string_view text, const Regex& regex, MatchingOptions options) {
  return regex.firstMatch(text, fullNSRange(text), options);
}

bool patternMatches(std::string_view pattern, std::string_view text) {
  // An empty pattern is found nowhere, as an empty text is not (contains).
  if (pattern.empty()) return false;
  const auto regex = Regex::make(pattern);
  return regex && patternMatches(*regex, text);
}

bool patternMatches(const Regex& regex, std::string_view text) {
  return regex.firstMatch(text, fullNSRange(text));
}

std::optional<Character> mostCommonCharacter(std::string_view text) {
  const std::vector<Character> counted = charactersArray(withoutSpacesAndNewLines(text));
  std::unordered_map<Character, std::size_t> counts;
  std::size_t best = 0;
  for (const Character& character : counted) best = std::max(best, ++counts[character]);
  for (const Character& character : counted) {
    if (counts[character] == best) return character;
  }
  return std::nullopt;
}

std::optional<Url> url(std::string_view text) { return Url::make(text); }

std::string base64Encoded(std::string_view text) {
  std::string encoded;
  encoded.reserve((text.size() + 2) / 3 * 4);
  std::size_t i = 0;
  const auto byte = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[at]));
  };
  for (; i + 3 <= text.size(); i += 3) {
    const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    for (int shift = 18; shift >= 0; shift -= 6)
      encoded.push_back(kBase64Alphabet[(group >> shift) & 63]);
  }
  const std::size_t rest = text.size() - i;
  if (rest > 0) {
    const std::uint32_t group = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
    encoded.push_back(kBase64Alphabet[(group >> 18) & 63]);
    encoded.push_back(kBase64Alphabet[(group >> 12) & 63]);
    encoded.push_back(rest == 2 ? kBase64Alphabet[(group >> 6) & 63] : '=');
    encoded.push_back('=');
  }
  return encoded;
}

std::optional<std::string> base64Decoded(std::string_view text) {
  if (auto bytes = decodeBase64(text, true)) return asUtf8(std::move(bytes));
  // The padding to add counts every character, skipped ones included.
  const std::size_t remainder = (icu_support::graphemeBoundaries(text).size() - 1) % 4;
  if (remainder == 0) return std::nullopt;
  const std::string padded = std::string(text) + std::string(4 - remainder, '=');
  return asUtf8(decodeBase64(padded, true));
}

std::optional<std::string> stringFromBase64(std::string_view base64) {
  return asUtf8(decodeBase64(base64, false));
}

std::vector<Character> charactersArray(std::string_view text) {
  const std::vector<std::string_view> clusters = icu_support::graphemes(text);
  std::vector<Character> characters;
  characters.reserve(clusters.size());
  for (std::string_view cluster : clusters) {
    characters.push_back(detail::CharacterAccess::fromCluster(cluster));
  }
  return characters;
}

std::vector<std::uint32_t> unicodeArray(std::string_view text) {
  std::vector<std::uint32_t> values;
  for (char32_t c : icu_support::scalars(text)) values.push_back(static_cast<std::uint32_t>(c));
  return values;
}

std::optional<std::string> firstCharacterAsString(std::string_view text) {
  const auto characters = icu_support::graphemes(text);
  if (characters.empty()) return std::nullopt;
  return std::string(characters.front());
}

std::optional<std::string> lastCharacterAsString(std::string_view text) {
  const auto characters = icu_support::graphemes(text);
  if (characters.empty()) return std::nullopt;
  return std::string(characters.back());
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> pieces;
  std::string piece;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = icu_support::nextScalar(text, i);
    if (icu_support::isWhitespaceOrNewline(c) || icu_support::isPunctuation(c)) {
      if (!piece.empty()) pieces.push_back(std::move(piece));
      piece.clear();
    } else {
      piece.append(text.substr(start, i - start));
    }
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));
  return pieces;
}

std::int64_t wordCount(std::string_view text) {
  return static_cast<std::int64_t>(words(text).size());
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> found;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = icu_support::nextScalar(text, i);
    if (!isLineSeparator(c)) continue;
    found.emplace_back(text.substr(lineStart, start - lineStart));
    // "\r\n" ends one line.
    if (c == U'\r' && i < text.size() && text[i] == '\n') ++i;
    lineStart = i;
  }
  if (lineStart < text.size()) found.emplace_back(text.substr(lineStart));
  return found;
}

}  // namespace ext
