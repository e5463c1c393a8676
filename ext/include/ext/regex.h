#pragma once
// Compiled regular expressions over UTF-8 strings, with ranges in UTF-16
// units (NSRange) as the platform's expression class counts them. The syntax
// is ICU's: \p{L} classes, (?i) flags, $1 in templates.
//
//   auto digits = ext::Regex::make("[0-9]+");
//   digits->firstMatch("abc123", ext::fullNSRange("abc123"))       -> true
//   digits->replacingMatches("a1b22", ext::fullNSRange("a1b22"), "#") -> "a#b#"
//   ext::Regex::make("(")                                            -> nothing
//
// A Regex is immutable and cheap to copy; use it from any thread.
//
// Backtracking can take exponential time ("(a+)+$" on "aaa...a!") or deep
// stacks, so every operation runs under ICU's two limits below: one search,
// or one replacement of every match, may take at most kRegexTimeLimit steps
// of ICU's match engine (ICU's own unit; about a tenth of a second on current
// hardware) and kRegexStackLimit bytes of backtracking stack. An operation
// that reaches either finds no match: firstMatch() is false and
// replacingMatches() gives `text` unchanged, never a partial replacement.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ext/string_path.h"

namespace ext {

namespace icu_support {
class CompiledRegex;
}

inline constexpr std::int32_t kRegexTimeLimit = 1000;
inline constexpr std::int32_t kRegexStackLimit = 8 << 20;  // bytes

// How the expression reads its pattern.
struct RegexOptions {
  bool caseInsensitive = false;
  bool allowCommentsAndWhitespace = false;
  bool ignoreMetacharacters = false;  // the pattern is literal text
  bool dotMatchesLineSeparators = false;
  bool anchorsMatchLines = false;  // ^ and $ at every line
  bool useUnixLineSeparators = false;
  bool useUnicodeWordBoundaries = false;
};

// How one search runs.
struct MatchingOptions {
  bool anchored = false;                // matches only at the start of the range
  bool withTransparentBounds = false;   // lookaround sees past the range
  bool withoutAnchoringBounds = false;  // ^ and $ do not match at the range's ends
};

class Regex {
 public:
  // Nothing when `pattern` does not compile.
  [[nodiscard]] static std::optional<Regex> make(std::string_view pattern,
                                                 RegexOptions options = {});

  [[nodiscard]] const std::string& pattern() const { return pattern_; }

  // Whether the expression matches somewhere within `range` of `text`;
  // false when `range` runs past the end of `text` or a limit is reached.
  [[nodiscard]] bool firstMatch(std::string_view text, NSRange range,
                                MatchingOptions options = {}) const;

  // `text` with every match within `range` replaced by `replacementTemplate`
  // ($0...$9 for groups, a backslash escapes the next character); text
  // outside `range` is kept. `text` unchanged when `range` runs past its end,
  // the template refers to a group that does not exist, or a limit is reached.
  [[nodiscard]] std::string replacingMatches(std::string_view text, NSRange range,
                                             std::string_view replacementTemplate,
                                             MatchingOptions options = {}) const;

  // `text` with every metacharacter escaped, so that it matches itself.
  [[nodiscard]] static std::string escapedPattern(std::string_view text);

 private:
  Regex(std::string pattern, std::shared_ptr<const icu_support::CompiledRegex> compiled);

  std::string pattern_;
  std::shared_ptr<const icu_support::CompiledRegex> compiled_;
};

}  // namespace ext
