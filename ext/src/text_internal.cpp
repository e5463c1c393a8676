#include "text_internal.h"

#include <algorithm>

#include "icu_support.h"

namespace ext::detail {

namespace {

bool isBound(const std::vector<std::size_t>& bounds, std::size_t at) {
  return std::binary_search(bounds.begin(), bounds.end(), at);
}

}  // namespace

KeyedText keyed(std::string_view text, KeyOptions options) {
  KeyedText keyedText;
  keyedText.byteBounds = icu_support::graphemeBoundaries(text);
  keyedText.keyBounds.reserve(keyedText.byteBounds.size());
  for (std::size_t i = 0; i + 1 < keyedText.byteBounds.size(); ++i) {
    const std::size_t start = keyedText.byteBounds[i];
    std::string key(text.substr(start, keyedText.byteBounds[i + 1] - start));
    // Accents only matter beyond ASCII.
    const bool ascii = std::all_of(key.begin(), key.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (options.diacriticInsensitive && !ascii) key = icu_support::withoutDiacritics(key);
    if (options.caseInsensitive) key = icu_support::caseFolded(key);
    if (!options.literal) key = icu_support::nfc(key);
    keyedText.keyBounds.push_back(keyedText.key.size());
    keyedText.key += key;
  }
  keyedText.keyBounds.push_back(keyedText.key.size());
  return keyedText;
}

std::vector<std::pair<std::size_t, std::size_t>> occurrences(const KeyedText& hay,
                                                             const KeyedText& needle) {
  std::vector<std::pair<std::size_t, std::size_t>> found;
  if (needle.key.empty()) return found;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = hay.key.find(needle.key, from);
    if (at == std::string::npos) break;
    const std::size_t end = at + needle.key.size();
    // A match must cover whole characters: "e" is not in "e" + U+0301.
    if (!isBound(hay.keyBounds, at) || !isBound(hay.keyBounds, end)) {
      from = at + 1;
      continue;
    }
    const auto first = static_cast<std::size_t>(
        std::lower_bound(hay.keyBounds.begin(), hay.keyBounds.end(), at) - hay.keyBounds.begin());
    const auto last = static_cast<std::size_t>(
        std::lower_bound(hay.keyBounds.begin(), hay.keyBounds.end(), end) - hay.keyBounds.begin());
    found.emplace_back(first, last);
    from = end;
  }
  return found;
}

bool hasPrefix(const KeyedText& hay, const KeyedText& needle) {
  return hay.key.starts_with(needle.key) && isBound(hay.keyBounds, needle.key.size());
}

bool hasSuffix(const KeyedText& hay, const KeyedText& needle) {
  return hay.key.ends_with(needle.key) &&
         isBound(hay.keyBounds, hay.key.size() - needle.key.size());
}

}  // namespace ext::detail
