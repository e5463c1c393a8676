#include "ext/attributed_string.h"

#include <gtest/gtest.h>

namespace {

using ext::AttributedString;
using ext::NSRange;
using ext::TextAttributes;

TEST(AttributedStrings, ShortcutsStyleTheWholeText) {
  const AttributedString text = ext::bold("Install \U0001F600");
  ASSERT_EQ(text.runs().size(), 1u);
  EXPECT_EQ(text.runs()[0].range, (NSRange{0, 10}));  // the emoji is two units
  EXPECT_EQ(text.runs()[0].attributes.font, ext::Font::boldSystemFont(ext::Font::kSystemFontSize));
  EXPECT_EQ(ext::underline("u").attributes(0)->underlineStyle, 1);
  EXPECT_EQ(ext::strikethrough("s").attributes(0)->strikethroughStyle, 1);
  const ext::Color red{.red = 1, .green = 0, .blue = 0, .alpha = 1};
  EXPECT_EQ(ext::colored("warn", red).attributes(3)->foregroundColor, red);
  EXPECT_EQ(ext::colored("warn", red).attributes(4), std::nullopt);
}

TEST(AttributedStrings, EmptyTextHasNoRuns) {
  EXPECT_TRUE(ext::bold("").runs().empty());
  EXPECT_EQ(ext::bold("").string(), "");
}

TEST(AttributedStrings, AddingSplitsAndMergesRuns) {
  AttributedString text = ext::underline("abcdef");
  ASSERT_TRUE(text.addAttributes({.strikethroughStyle = 1}, NSRange{2, 2}));
  ASSERT_EQ(text.runs().size(), 3u);
  EXPECT_EQ(text.runs()[1].range, (NSRange{2, 2}));
  EXPECT_EQ(text.attributes(2)->underlineStyle, 1);  // kept
  EXPECT_EQ(text.attributes(2)->strikethroughStyle, 1);
  EXPECT_EQ(text.attributes(4)->strikethroughStyle, std::nullopt);
  // Covering the rest makes the runs equal again, and they merge.
  ASSERT_TRUE(text.addAttributes({.strikethroughStyle = 1}, NSRange{0, 6}));
  EXPECT_EQ(text.runs().size(), 1u);
}

TEST(AttributedStrings, RangesPastTheEndChangeNothing) {
  AttributedString text("abc");
  EXPECT_FALSE(text.addAttributes({.underlineStyle = 1}, NSRange{2, 2}));
  EXPECT_FALSE(text.addAttributes({.underlineStyle = 1}, NSRange{ext::kNSNotFound, 1}));
  // An empty range at the end is still within the text.
  EXPECT_TRUE(text.addAttributes({.underlineStyle = 1}, NSRange{3, 0}));
  EXPECT_EQ(text.attributes(2), TextAttributes{});
}

}  // namespace
