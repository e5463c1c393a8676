#pragma once
// Glyph and text-size queries on Qt's font machinery. Need a QGuiApplication;
// call on the GUI thread.
//
// The colour-emoji font is "Noto Color Emoji" (fonts-noto-color-emoji).
#include <QFont>
#include <QSizeF>
#include <QString>

namespace quillo {

inline constexpr const char* kColorEmojiFamily = "Noto Color Emoji";

// The glyph count of the first glyph run of the first line when `text` is
// laid out in a 100 x 100 box; 0 when there is no line or run.
[[nodiscard]] int GetGlyphCount(const QString& text);

// Whether the text is one emoji the colour-emoji font can draw: false for ""
// and for texts of 3+ UTF-16 units whose first run is not one glyph;
// otherwise whether the font has a glyph for the first code point.
[[nodiscard]] bool isValidateEmoji(const QString& text);

// The size `text` in `font` needs when wrapped at `width`; zero when width is
// 0 or the text is empty.
[[nodiscard]] QSizeF suggestedSizeWithAttributedString(const QString& text, const QFont& font,
                                                       qreal width);

}  // namespace quillo
