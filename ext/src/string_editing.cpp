#include "ext/string_editing.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "ext/precondition.h"
#include "icu_support.h"
#include "text_internal.h"

namespace ext {

namespace {

constexpr std::string_view kLoremIpsum =
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt "
    "ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation "
    "ullamco laboris nisi ut aliquip ex ea commodo consequat. Duis aute irure dolor in "
    "reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla pariatur. Excepteur "
    "sint occaecat cupidatat non proident, sunt in culpa qui officia deserunt mollit anim id est "
    "laborum.";
static_assert(kLoremIpsum.size() == 445);

// ASCII letters, digits and the sub-delimiters a URL host may hold.
bool isUrlHostAllowed(unsigned char c) {
  constexpr std::string_view kAllowedPunctuation = "!$&'()*+,-.:;=[]_~";
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         kAllowedPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A text's character boundaries, for cutting it by character offsets.
class Characters {
 public:
  explicit Characters(std::string_view text)
      : text_(text), bounds_(icu_support::graphemeBoundaries(text)) {}

  [[nodiscard]] std::int64_t count() const { return static_cast<std::int64_t>(bounds_.size() - 1); }

  // Characters [from, to). Requires: 0 <= from <= to <= count().
  [[nodiscard]] std::string_view span(std::int64_t from, std::int64_t to) const {
    const std::size_t begin = bounds_[static_cast<std::size_t>(from)];
    return text_.substr(begin, bounds_[static_cast<std::size_t>(to)] - begin);
  }
  [[nodiscard]] std::string_view at(std::int64_t offset) const { return span(offset, offset + 1); }

 private:
  std::string_view text_;
  std::vector<std::size_t> bounds_;
};

detail::KeyedText exact(std::string_view text) { return detail::keyed(text, {}); }

// The first `needed` characters of `pad` repeated, counted as the copies are
// added; nothing when repeating stops adding characters (combining marks or
// joiners merge into one character however often they repeat). Appending
// only moves the boundary at the old end, so each copy is cut from where the
// last character starts. From the second copy on, whether a copy adds a
// character repeats every copy or every other (regional indicators pair up),
// so two barren copies in a row mean no later copy adds one either.
std::optional<std::string> repeatedPad(std::string_view pad, std::int64_t needed) {
  std::string repeated;
  std::int64_t count = 0;
  std::size_t lastStart = 0;
  int barrenCopies = 0;
  while (count < needed) {
    if (barrenCopies == 2) return std::nullopt;
    repeated.append(pad);
    const std::vector<std::size_t> tail =
        icu_support::graphemeBoundaries(std::string_view(repeated).substr(lastStart));
    const std::int64_t before = count;
    count = std::max<std::int64_t>(count - 1, 0) + static_cast<std::int64_t>(tail.size() - 1);
    if (tail.size() >= 2) lastStart += tail[tail.size() - 2];
    barrenCopies = count > before ? 0 : barrenCopies + 1;
  }
  return std::string(Characters(repeated).span(0, needed));
}

// Where text and pad meet, at most two characters of one side merge into
// the other's edge: a run of marks ending in a joiner, then the pictograph
// the joiner takes; or a lone regional indicator pairs up across the join.
// As many more pad characters make up for them.
constexpr std::int64_t kMostMergedAtJoin = 2;

// `text` with the first characters of `pad` repeated put before it (atStart)
// or after it, as many as make exactly `length` characters; `text` unchanged
// when it already has that many or no number of them gives exactly `length`.
std::string padded(std::string_view text, std::int64_t length, std::string_view pad, bool atStart) {
  const std::int64_t count = Characters(text).count();
  if (count >= length) return std::string(text);
  const std::int64_t needed = length - count;
  // Each character takes at least a byte.
  if (static_cast<std::uint64_t>(needed) > detail::kLargestString - text.size()) {
    return std::string(text);
  }
  for (std::int64_t taken = needed; taken <= needed + kMostMergedAtJoin; ++taken) {
    const std::optional<std::string> padding = repeatedPad(pad, taken);
    if (!padding) break;
    std::string joined = atStart ? *padding + std::string(text) : std::string(text) + *padding;
    if (Characters(joined).count() == length) return joined;
  }
  return std::string(text);
}

std::string& assign(std::string& text, std::string value) {
  text = std::move(value);
  return text;
}

bool isBlankOrLineFeed(char32_t c) { return c == U' ' || c == U'\n'; }

std::string withoutScalars(std::string_view text, bool (*drop)(char32_t)) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    if (!drop(icu_support::nextScalar(text, i))) kept.append(text.substr(start, i - start));
  }
  return kept;
}

}  // namespace

std::string camelCased(std::string_view text) {
  const std::string source = icu_support::lowercased(text);
  const Characters characters(source);
  if (characters.count() == 0) return {};
  const std::string_view first = characters.at(0);
  if (source.find(' ') == std::string::npos) return source;
  const std::string joined = withoutScalars(icu_support::capitalized(source), isBlankOrLineFeed);
  const Characters rest(joined);
  return std::string(first) +
         std::string(rest.span(std::min<std::int64_t>(1, rest.count()), rest.count()));
}

std::string& camelize(std::string& text) { return assign(text, camelCased(text)); }

void firstCharacterUppercased(std::string& text) {
  const Characters characters(text);
  if (characters.count() == 0) return;
  const std::size_t firstSize = characters.at(0).size();
  text.replace(0, firstSize, icu_support::uppercased(characters.at(0)));
}

std::string latinized(std::string_view text) { return icu_support::withoutDiacritics(text); }
std::string& latinize(std::string& text) { return assign(text, latinized(text)); }

std::string trimmed(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!icu_support::isWhitespaceOrNewline(icu_support::nextScalar(text, next))) break;
    begin = next;
  }
  std::size_t end = begin;
  // The end of the last scalar that is not whitespace.
  for (std::size_t i = begin; i < text.size();) {
    if (!icu_support::isWhitespaceOrNewline(icu_support::nextScalar(text, i))) end = i;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string& trim(std::string& text) { return assign(text, trimmed(text)); }

std::string withoutSpacesAndNewLines(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\n') kept.push_back(c);
  }
  return kept;
}

std::string urlEncoded(std::string_view text) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  // Ill-formed bytes are encoded as U+FFFD, as the text reads.
  for (unsigned char c : icu_support::wellFormed(text)) {
    if (isUrlHostAllowed(c)) {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 0xF]);
    }
  }
  return encoded;
}

std::string& urlEncode(std::string& text) { return assign(text, urlEncoded(text)); }

std::string urlDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::string(text);
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::string(text);
    decoded.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return icu_support::isValidUtf8(decoded) ? decoded : std::string(text);
}

std::string& urlDecode(std::string& text) { return assign(text, urlDecoded(text)); }

std::string regexEscaped(std::string_view text) { return Regex::escapedPattern(text); }

std::string toSlug(std::string_view text) {
  std::string folded = latinized(icu_support::lowercased(text));
  std::replace(folded.begin(), folded.end(), ' ', '-');
  std::string kept;
  for (std::string_view character : icu_support::graphemes(folded)) {
    bool keep = character == "-" || character == "&";
    for (std::size_t i = 0; !keep && i < character.size();) {
      keep = icu_support::isAlphanumeric(icu_support::nextScalar(character, i));
    }
    if (keep) kept.append(character);
  }
  const std::size_t first = kept.find_first_not_of('-');
  if (first == std::string::npos) return {};
  const std::size_t last = kept.find_last_not_of('-');
  kept = kept.substr(first, last - first + 1);
  std::string slug;
  slug.reserve(kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    slug.push_back(kept[i]);
    // One left-to-right pass: "---" becomes "--", "----" becomes "--".
    if (kept[i] == '-' && i + 1 < kept.size() && kept[i + 1] == '-') ++i;
  }
  return slug;
}

std::string& reverse(std::string& text) {
  std::vector<std::string_view> characters = icu_support::graphemes(text);
  std::string reversed;
  reversed.reserve(text.size());
  for (auto it = characters.rbegin(); it != characters.rend(); ++it) reversed.append(*it);
  return assign(text, std::move(reversed));
}

std::string truncated(std::string_view text, std::int64_t length,
                      std::optional<std::string_view> trailing) {
  const Characters characters(text);
  if (length < 0 || characters.count() <= length) return std::string(text);
  return std::string(characters.span(0, length)) + std::string(trailing.value_or(""));
}

std::string& truncate(std::string& text, std::int64_t length,
                      std::optional<std::string_view> trailing) {
  if (length < 1) return text;
  return assign(text, truncated(text, length, trailing));
}

std::string paddingStart(std::string_view text, std::int64_t length, std::string_view pad) {
  return padded(text, length, pad, true);
}

std::string paddingEnd(std::string_view text, std::int64_t length, std::string_view pad) {
  return padded(text, length, pad, false);
}

std::string& padStart(std::string& text, std::int64_t length, std::string_view pad) {
  return assign(text, paddingStart(text, length, pad));
}

std::string& padEnd(std::string& text, std::int64_t length, std::string_view pad) {
  return assign(text, paddingEnd(text, length, pad));
}

std::string removingPrefix(std::string_view text, std::string_view prefix) {
  const detail::KeyedText keyedText = exact(text);
  const detail::KeyedText keyedPrefix = exact(prefix);
  if (!detail::hasPrefix(keyedText, keyedPrefix)) return std::string(text);
  return std::string(text.substr(keyedText.byteBounds[keyedPrefix.count()]));
}

std::string removingSuffix(std::string_view text, std::string_view suffix) {
  const detail::KeyedText keyedText = exact(text);
  const detail::KeyedText keyedSuffix = exact(suffix);
  if (!detail::hasSuffix(keyedText, keyedSuffix)) return std::string(text);
  return std::string(text.substr(0, keyedText.byteBounds[keyedText.count() - keyedSuffix.count()]));
}

std::string withPrefix(std::string_view text, std::string_view prefix) {
  if (detail::hasPrefix(exact(text), exact(prefix))) return std::string(text);
  return std::string(prefix) + std::string(text);
}

std::optional<Character> safe(std::string_view text, std::int64_t offset) {
  const Characters characters(text);
  if (offset < 0 || offset >= characters.count()) return std::nullopt;
  return detail::CharacterAccess::fromCluster(characters.at(offset));
}

std::optional<std::string> safe(std::string_view text, CharacterRange range) {
  const Characters characters(text);
  if (range.lower < 0 || range.lower > range.upper || range.upper > characters.count()) {
    return std::nullopt;
  }
  return std::string(characters.span(range.lower, range.upper));
}

std::optional<std::string> safe(std::string_view text, ClosedCharacterRange range) {
  const Characters characters(text);
  if (range.lower < 0 || range.lower > range.upper || range.upper >= characters.count()) {
    return std::nullopt;
  }
  return std::string(characters.span(range.lower, range.upper + 1));
}

std::optional<std::string> safe(std::string_view text, CharactersUpTo range) {
  return safe(text, CharacterRange{0, range.upper});
}

std::optional<std::string> safe(std::string_view text, CharactersThrough range) {
  return safe(text, ClosedCharacterRange{0, range.upper});
}

std::optional<std::string> safe(std::string_view text, CharactersFrom range) {
  const Characters characters(text);
  if (range.lower < 0 || range.lower >= characters.count()) return std::nullopt;
  return std::string(characters.span(range.lower, characters.count()));
}

std::optional<std::string> slicing(std::string_view text, std::int64_t from, std::int64_t length) {
  const Characters characters(text);
  if (length < 0 || from < 0 || from >= characters.count()) return std::nullopt;
  // Compare without adding, so a huge length cannot overflow.
  const std::int64_t end = length >= characters.count() - from ? characters.count() : from + length;
  return std::string(characters.span(from, end));
}

std::string& slice(std::string& text, std::int64_t from, std::int64_t length) {
  auto sliced = slicing(text, from, length);
  return sliced ? assign(text, std::move(*sliced)) : text;
}

std::string& slice(std::string& text, CharacterRange range) {
  auto sliced = safe(text, range);
  return sliced ? assign(text, std::move(*sliced)) : text;
}

std::string& slice(std::string& text, std::int64_t at) {
  auto sliced = safe(text, CharactersFrom{at});
  return sliced ? assign(text, std::move(*sliced)) : text;
}

std::string random(std::int64_t length) {
  std::string text;
  if (length < 1) return text;
  precondition(static_cast<std::uint64_t>(length) <= detail::kLargestString,
               "random text longer than the largest string");
  text.reserve(static_cast<std::size_t>(length));
  for (std::int64_t i = 0; i < length; ++i) {
    text.push_back(detail::kAlphanumerics[detail::randomIndex(detail::kAlphanumerics.size())]);
  }
  return text;
}

std::string loremIpsum(std::int64_t length) {
  if (length < 1) return {};
  return std::string(kLoremIpsum.substr(0, static_cast<std::size_t>(length)));
}

std::string replacingOccurrences(std::string_view text, const Regex& regex,
                                 std::string_view replacementTemplate, MatchingOptions options,
                                 std::optional<StringRange> range) {
  const NSRange within = range ? nsRange(text, *range) : fullNSRange(text);
  return regex.replacingMatches(text, within, replacementTemplate, options);
}

std::string replacingOccurrences(std::string_view text, std::string_view pattern,
                                 std::string_view replacementTemplate, CompareOptions options,
                                 std::optional<StringRange> range) {
  const auto regex = Regex::make(pattern, {.caseInsensitive = options.caseInsensitive});
  if (!regex) return std::string(text);
  return replacingOccurrences(text, *regex, replacementTemplate, {.anchored = options.anchored},
                              range);
}

std::string commonSuffix(std::string_view text, std::string_view other, CompareOptions options) {
  const detail::KeyOptions keyOptions{.caseInsensitive = options.caseInsensitive,
                                      .diacriticInsensitive = options.diacriticInsensitive,
                                      .literal = options.literal};
  const detail::KeyedText mine = detail::keyed(text, keyOptions);
  const detail::KeyedText theirs = detail::keyed(other, keyOptions);
  std::size_t matched = 0;
  while (matched < mine.count() && matched < theirs.count()) {
    const std::size_t a = mine.count() - 1 - matched;
    const std::size_t b = theirs.count() - 1 - matched;
    const std::string_view keyA = std::string_view(mine.key).substr(
        mine.keyBounds[a], mine.keyBounds[a + 1] - mine.keyBounds[a]);
    const std::string_view keyB =
        std::string_view(theirs.key)
            .substr(theirs.keyBounds[b], theirs.keyBounds[b + 1] - theirs.keyBounds[b]);
    if (keyA != keyB) break;
    ++matched;
  }
  return std::string(text.substr(mine.byteBounds[mine.count() - matched]));
}

}  // namespace ext
