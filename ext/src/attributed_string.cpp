#include "ext/attributed_string.h"

#include <algorithm>
#include <utility>

namespace ext {

namespace {

void merge(TextAttributes& into, const TextAttributes& from) {
  if (from.font) into.font = from.font;
  if (from.underlineStyle) into.underlineStyle = from.underlineStyle;
  if (from.strikethroughStyle) into.strikethroughStyle = from.strikethroughStyle;
  if (from.foregroundColor) into.foregroundColor = from.foregroundColor;
}

AttributedString withWhole(std::string_view text, const TextAttributes& attributes) {
  AttributedString styled{std::string(text)};
  styled.addAttributes(attributes, fullNSRange(text));
  return styled;
}

}  // namespace

AttributedString::AttributedString(std::string string) : string_(std::move(string)) {
  const NSRange whole = fullNSRange(string_);
  if (whole.length > 0) runs_.push_back({whole, {}});
}

std::optional<TextAttributes> AttributedString::attributes(std::uint64_t location) const {
  for (const AttributeRun& run : runs_) {
    if (location >= run.range.location && location - run.range.location < run.range.length) {
      return run.attributes;
    }
  }
  return std::nullopt;
}

bool AttributedString::addAttributes(const TextAttributes& attributes, NSRange range) {
  const std::uint64_t total = fullNSRange(string_).length;
  if (range.location > total || range.length > total - range.location) return false;
  const std::uint64_t begin = range.location;
  const std::uint64_t end = range.location + range.length;
  std::vector<AttributeRun> updated;
  const auto append = [&updated](std::uint64_t from, std::uint64_t to,
                                 const TextAttributes& style) {
    if (from >= to) return;
    if (!updated.empty() && updated.back().attributes == style) {
      updated.back().range.length += to - from;
      return;
    }
    updated.push_back({{from, to - from}, style});
  };
  for (const AttributeRun& run : runs_) {
    const std::uint64_t runBegin = run.range.location;
    const std::uint64_t runEnd = runBegin + run.range.length;
    TextAttributes changed = run.attributes;
    merge(changed, attributes);
    // The run splits into the part before the range, inside it and after it.
    append(runBegin, std::min(runEnd, begin), run.attributes);
    append(std::max(runBegin, begin), std::min(runEnd, end), changed);
    append(std::max(runBegin, end), runEnd, run.attributes);
  }
  runs_ = std::move(updated);
  return true;
}

AttributedString bold(std::string_view text) {
  return withWhole(text, {.font = Font::boldSystemFont(Font::kSystemFontSize)});
}

AttributedString underline(std::string_view text) { return withWhole(text, {.underlineStyle = 1}); }

AttributedString strikethrough(std::string_view text) {
  return withWhole(text, {.strikethroughStyle = 1});
}

AttributedString colored(std::string_view text, const Color& color) {
  return withWhole(text, {.foregroundColor = color});
}

}  // namespace ext
