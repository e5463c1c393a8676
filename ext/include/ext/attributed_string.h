#pragma once
// Styled text: a string with attribute runs (font, underline, strikethrough,
// foreground colour), and the four one-style shortcuts strings offer.
//
//   auto text = ext::bold("Install");
//   text.attributes(0)->font->bold                 -> true
//   ext::colored("Warn", {.red = 1}).runs().size() -> 1
//
// Runs are kept in UTF-16 units (NSRange), cover the whole string in order,
// and never overlap; neighbouring runs with equal attributes are merged. An
// AttributedString is a value: copy it freely, use one object from one
// thread at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ext/color.h"
#include "ext/string_path.h"

namespace ext {

struct Font {
  // The platform's system font size, in points.
  static constexpr double kSystemFontSize = 13.0;

  std::string family;  // "" for the system font
  double pointSize = kSystemFontSize;
  bool bold = false;

  [[nodiscard]] static Font boldSystemFont(double size) { return Font{"", size, true}; }
  friend bool operator==(const Font&, const Font&) = default;
};

struct TextAttributes {
  std::optional<Font> font;
  std::optional<std::int64_t> underlineStyle;      // 1: a single line
  std::optional<std::int64_t> strikethroughStyle;  // 1: a single line
  std::optional<Color> foregroundColor;

  friend bool operator==(const TextAttributes&, const TextAttributes&) = default;
};

struct AttributeRun {
  NSRange range;
  TextAttributes attributes;

  friend bool operator==(const AttributeRun&, const AttributeRun&) = default;
};

class AttributedString {
 public:
  // `string` with no attributes.
  explicit AttributedString(std::string string);

  [[nodiscard]] const std::string& string() const { return string_; }
  [[nodiscard]] const std::vector<AttributeRun>& runs() const { return runs_; }

  // The attributes at UTF-16 offset `location`; nothing past the end.
  [[nodiscard]] std::optional<TextAttributes> attributes(std::uint64_t location) const;

  // Sets within `range` every attribute that `attributes` holds, keeping the
  // others. False, changing nothing, when `range` runs past the end.
  bool addAttributes(const TextAttributes& attributes, NSRange range);

 private:
  std::string string_;
  std::vector<AttributeRun> runs_;
};

// The whole of `text` in the bold system font at the system font size.
[[nodiscard]] AttributedString bold(std::string_view text);
// The whole of `text` underlined (style 1).
[[nodiscard]] AttributedString underline(std::string_view text);
// The whole of `text` struck through (style 1).
[[nodiscard]] AttributedString strikethrough(std::string_view text);
// The whole of `text` in `color`.
[[nodiscard]] AttributedString colored(std::string_view text, const Color& color);

}  // namespace ext
