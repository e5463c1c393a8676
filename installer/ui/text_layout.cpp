#include "text_layout.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <cmath>

namespace quillo {

int GetGlyphCount(const QString& text) {
  QTextLayout layout(text);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (!line.isValid()) {
    layout.endLayout();
    return 0;
  }
  line.setLineWidth(100);
  layout.endLayout();
  const auto runs = line.glyphRuns();
  return runs.isEmpty() ? 0 : static_cast<int>(runs.first().glyphIndexes().size());
}

bool isValidateEmoji(const QString& text) {
  if (text.isEmpty()) return false;
  if (text.size() >= 3 && GetGlyphCount(text) != 1) return false;
  const char32_t codePoint = text.toUcs4().value(0);
  QFont font(kColorEmojiFamily);
  if (QFontInfo(font).family() != kColorEmojiFamily) return false;  // font not installed
  const QRawFont raw = QRawFont::fromFont(font);
  return raw.isValid() && raw.supportsCharacter(codePoint);
}

QSizeF suggestedSizeWithAttributedString(const QString& text, const QFont& font, qreal width) {
  if (width == 0 || text.isEmpty()) return {0, 0};
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal height = 0;
  qreal used = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition({0, height});
    height += line.height();
    used = std::max(used, line.naturalTextWidth());
  }
  layout.endLayout();
  return {std::ceil(used), std::ceil(height)};
}

}  // namespace quillo
