#pragma once
// The pieces every installer widget is built from: pixel-sized fonts with the
// CJK fallback, named colours that follow the appearance, antialiased rounded
// fills, and painted labels and image views. Main thread only.
#include <functional>
#include <string>
#include <string_view>

#include <QFont>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

class QPainter;

namespace quillo {

// The font of every text (fonts-noto-cjk-extra): it has Chinese and Latin
// glyphs in every weight, so Medium texts render Medium.
inline constexpr const char* kCjkFontFamily = "Noto Sans CJK SC";

// Puts the CJK family first in the application font's families, the old ones
// after it as fallbacks. Needs a QApplication; calling it again changes nothing.
void setUpApplicationFonts();

// The application font at `pixelSize` pixels (points would scale with the
// screen's dpi).
[[nodiscard]] QFont uiFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// Runs `apply` now and again each time the appearance changes, for as long as
// `context` lives. Views re-read every named colour and image in `apply`,
// because Qt colours are values that do not follow the appearance.
void applyNowAndOnAppearanceChange(QObject* context, std::function<void()> apply);

// Fills `rect` with a rounded rectangle, antialiased; radius 0 fills square.
void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);

// A label painted by hand: one colour, one font, elided or wrapped, never
// editable or selectable, no focus.
class TextLabel : public QWidget {
 public:
  explicit TextLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  [[nodiscard]] const QString& text() const { return text_; }
  void setTextColor(const QColor& color);
  [[nodiscard]] const QColor& textColor() const { return color_; }
  void setAlignment(Qt::Alignment alignment);
  [[nodiscard]] Qt::Alignment alignment() const { return alignment_; }
  // Wrapped text breaks at words and may run past the bottom, where the
  // widget's own rectangle cuts it.
  void setWordWrap(bool wrap);
  // Single-line text that does not fit ends in an ellipsis.
  void setElideRight(bool elide);

  [[nodiscard]] QSize sizeHint() const override;

  // A text cell's selection and edit: where the field editor opens (in this
  // widget's coordinates) and the selected range. Our labels are neither
  // editable nor selectable, so nothing opens; the frame is recorded.
  virtual void selectWithFrame(const QRectF& frame, int start, int length);
  virtual void editWithFrame(const QRectF& frame);
  [[nodiscard]] const QRectF& fieldEditorFrame() const { return editorFrame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Where the text is drawn, in this widget's coordinates: drawingRectForBounds(rect()).
  [[nodiscard]] QRectF drawingRect() const;
  [[nodiscard]] virtual QRectF drawingRectForBounds(const QRectF& bounds) const { return bounds; }

 private:
  QRectF editorFrame_;
  int selectionStart_ = 0;
  int selectionLength_ = 0;
  QString text_;
  QColor color_;
  Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
  bool wrap_ = false;
  bool elide_ = false;
};

// A label whose text block is centred vertically in its bounds (and
// horizontally too when asked), never moved above or left of them.
class RvVerticallyCenteredLabel : public TextLabel {
 public:
  explicit RvVerticallyCenteredLabel(QWidget* parent = nullptr);

  void setHorizontalCentered(bool centered);
  [[nodiscard]] bool horizontalCentered() const { return horizontalCentered_; }

  // `bounds` shrunk to `textSize` and centred: vertically when the text is
  // shorter, horizontally when asked and the text is narrower; otherwise
  // that side of `bounds` unchanged. Offsets are halved in single precision.
  [[nodiscard]] static QRectF drawingRectForBounds(const QRectF& bounds, const QSizeF& textSize,
                                                   bool horizontalCentered);

  // Open the field editor on the centred text rectangle of `frame`.
  void selectWithFrame(const QRectF& frame, int start, int length) override;
  void editWithFrame(const QRectF& frame) override;

 protected:
  // While an edit or a selection starts, the bounds unchanged.
  [[nodiscard]] QRectF drawingRectForBounds(const QRectF& bounds) const override;

 private:
  bool mIsEditingOrSelecting = false;  // Set only while an edit or a selection starts.
  bool horizontalCentered_ = false;
};

// A named picture drawn at the view's size, aspect kept, centred, optionally
// clipped to rounded corners. Re-rendered when the appearance changes (some
// pictures have a dark variant). An unknown or missing picture leaves the
// view empty at its size.
class ImageView : public QWidget {
 public:
  explicit ImageView(QWidget* parent = nullptr);

  // Empty name: no picture.
  void setImageName(std::string_view name);
  [[nodiscard]] const std::string& imageName() const { return name_; }
  [[nodiscard]] bool hasImage() const { return !currentPixmap().isNull(); }
  void setCornerRadius(qreal radius);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void reload();
  // The picture rendered for the current size. Hidden widgets get no resize
  // events, so the size is checked here rather than trusted.
  [[nodiscard]] const QPixmap& currentPixmap() const;

  std::string name_;
  mutable QPixmap pixmap_;
  mutable QSize renderedSize_;
  qreal cornerRadius_ = 0;
};

// A flat button: a rounded rectangle in a named colour with a title in
// another, and optionally a picture just before the title, the two centred as
// one group. Takes no keyboard focus (keys go to the window).
class RoundedButton : public QPushButton {
 public:
  struct Style {
    std::string_view backgroundColor;
    std::string_view titleColor;  // empty: `fixedTitleColor`
    QColor fixedTitleColor;
    qreal cornerRadius = 0;
    int fontSize = 13;
    QSize imageSize;
    int imageSpacing = 4;
  };

  explicit RoundedButton(const Style& style, QWidget* parent = nullptr);

  // Sets the title and the picture before it together; an empty name clears
  // the picture.
  void setContent(const QString& title, std::string_view imageName = {});
  [[nodiscard]] const std::string& imageName() const { return imageName_; }
  [[nodiscard]] bool hasImage() const { return !image_.isNull(); }
  [[nodiscard]] const QColor& backgroundColor() const { return background_; }
  [[nodiscard]] const QColor& titleColor() const { return titleColor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void applyColors();

  Style style_;
  std::string imageName_;
  QPixmap image_;
  QColor background_;
  QColor titleColor_;
};

}  // namespace quillo
