#include "text_layout.h"

#include <QFont>

#include <gtest/gtest.h>

namespace {

TEST(TextLayoutTest, EmptyTextOrZeroWidthGivesZeroSize) {
  QFont font;
  font.setPixelSize(14);
  EXPECT_EQ(quillo::suggestedSizeWithAttributedString("", font, 100), QSizeF(0, 0));
  EXPECT_EQ(quillo::suggestedSizeWithAttributedString("abc", font, 0), QSizeF(0, 0));
}

TEST(TextLayoutTest, NarrowerWidthWrapsIntoMoreLines) {
  QFont font;
  font.setPixelSize(14);
  const QString text = "one two three four five six seven eight nine ten";
  const auto wide = quillo::suggestedSizeWithAttributedString(text, font, 1000);
  const auto narrow = quillo::suggestedSizeWithAttributedString(text, font, 80);
  EXPECT_GT(narrow.height(), wide.height());
  EXPECT_LE(narrow.width(), 80);
}

TEST(TextLayoutTest, GlyphCountOfPlainText) {
  EXPECT_EQ(quillo::GetGlyphCount(""), 0);
  EXPECT_EQ(quillo::GetGlyphCount("abc"), 3);
}

TEST(TextLayoutTest, EmojiValidation) {
  EXPECT_FALSE(quillo::isValidateEmoji(""));
  EXPECT_FALSE(quillo::isValidateEmoji("a"));
  EXPECT_FALSE(quillo::isValidateEmoji("abc")) << "three glyphs";
  EXPECT_TRUE(quillo::isValidateEmoji(QString::fromUtf8("\xF0\x9F\x98\x80")));  // U+1F600
}

}  // namespace
