#pragma once
// Helpers shared by the string and character sources of ext.
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ext/characters.h"
#include "system_random.h"

namespace ext::detail {

class CharacterAccess {
 public:
  // Requires: `cluster` is one grapheme cluster, as cut by icu_support.
  [[nodiscard]] static Character fromCluster(std::string_view cluster) {
    return Character(std::string(cluster));
  }
};

// The most bytes a string can hold. No allocation exceeds PTRDIFF_MAX bytes,
// the terminator included, whatever max_size() says.
inline constexpr std::size_t kLargestString =
    static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) - 1;

inline constexpr std::string_view kAlphanumerics =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// A text cut into characters (grapheme clusters), with a comparison key per
// character: the keys of two characters are equal when the characters
// compare the same under the chosen options.
struct KeyedText {
  std::vector<std::size_t> byteBounds;  // character starts in the text, then its end
  std::string key;                      // the characters' keys, concatenated
  std::vector<std::size_t> keyBounds;   // character starts in `key`, then its end

  [[nodiscard]] std::size_t count() const { return byteBounds.size() - 1; }
};

struct KeyOptions {
  bool caseInsensitive = false;
  bool diacriticInsensitive = false;
  bool literal = false;  // no canonical equivalence
};

[[nodiscard]] KeyedText keyed(std::string_view text, KeyOptions options);

// Where `needle` occurs in `hay` as whole characters, without overlaps,
// from the start: pairs of [first, end) character offsets. An empty needle
// occurs nowhere.
[[nodiscard]] std::vector<std::pair<std::size_t, std::size_t>> occurrences(const KeyedText& hay,
                                                                           const KeyedText& needle);

// Whether `hay` starts (ends) with `needle`, character by character.
[[nodiscard]] bool hasPrefix(const KeyedText& hay, const KeyedText& needle);
[[nodiscard]] bool hasSuffix(const KeyedText& hay, const KeyedText& needle);

}  // namespace ext::detail
