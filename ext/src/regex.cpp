#include "ext/regex.h"

#include <utility>

#include "icu_support.h"

namespace ext {

namespace {

icu_support::MatchFlags matchFlags(MatchingOptions options) {
  return {.anchored = options.anchored,
          .transparentBounds = options.withTransparentBounds,
          .withoutAnchoringBounds = options.withoutAnchoringBounds};
}

}  // namespace

Regex::Regex(std::string pattern, std::shared_ptr<const icu_support::CompiledRegex> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

std::optional<Regex> Regex::make(std::string_view pattern, RegexOptions options) {
  auto compiled =
      icu_support::compileRegex(pattern, {.caseInsensitive = options.caseInsensitive,
                                          .comments = options.allowCommentsAndWhitespace,
                                          .literal = options.ignoreMetacharacters,
                                          .dotAll = options.dotMatchesLineSeparators,
                                          .multiline = options.anchorsMatchLines,
                                          .unixLines = options.useUnixLineSeparators,
                                          .unicodeWords = options.useUnicodeWordBoundaries});
  if (!compiled) return std::nullopt;
  return Regex(std::string(pattern), std::move(compiled));
}

bool Regex::firstMatch(std::string_view text, NSRange range, MatchingOptions options) const {
  if (range.length > kNSNotFound || range.location > kNSNotFound - range.length) return false;
  return icu_support::regexFind(*compiled_, text, range.location, range.location + range.length,
                                matchFlags(options));
}

std::string Regex::replacingMatches(std::string_view text, NSRange range,
                                    std::string_view replacementTemplate,
                                    MatchingOptions options) const {
  if (range.length > kNSNotFound || range.location > kNSNotFound - range.length) {
    return std::string(text);
  }
  auto replaced =
      icu_support::regexReplace(*compiled_, text, range.location, range.location + range.length,
                                replacementTemplate, matchFlags(options));
  return replaced ? std::move(*replaced) : std::string(text);
}

std::string Regex::escapedPattern(std::string_view text) {
  constexpr std::string_view kMetacharacters = "\\*?+[(){}^$|./";
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (kMetacharacters.find(c) != std::string_view::npos) escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

}  // namespace ext
