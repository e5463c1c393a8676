#pragma once
// Helpers shared by the string and character sources of ext.
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ext/characters.h"

namespace ext::detail {

class CharacterAccess {
 public:
  // Requires: `cluster` is one grapheme cluster, as cut by icu_support.
  [[nodiscard]] static Character fromCluster(std::string_view cluster) {
    return Character(std::string(cluster));
  }
};

inline constexpr std::string_view kAlphanumerics =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// A uniform draw from [0, bound) with the system's random source; the
// distribution rejects rather than taking a remainder, so there is no bias.
// Requires: bound > 0.
inline std::size_t randomIndex(std::size_t bound) {
  thread_local std::random_device source;
  return std::uniform_int_distribution<std::size_t>(0, bound - 1)(source);
}

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

// Reports a broken precondition and aborts; the caller's bug, not bad input.
[[noreturn]] void failPrecondition(std::string_view message);

}  // namespace ext::detail
