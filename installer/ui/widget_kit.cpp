#include "widget_kit.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "assets.h"

namespace quillo {

void setUpApplicationFonts() {
  QFont font = QApplication::font();
  QStringList families = font.families();
  if (families.isEmpty()) families << font.family();
  if (!families.isEmpty() && families.front() == kCjkFontFamily) return;
  families.removeAll(kCjkFontFamily);
  families.prepend(kCjkFontFamily);
  font.setFamilies(families);
  QApplication::setFont(font);
}

QFont uiFont(int pixelSize, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  return font;
}

void applyNowAndOnAppearanceChange(QObject* context, std::function<void()> apply) {
  apply();
  QObject::connect(&AppearanceNotifier::shared(), &AppearanceNotifier::appearanceChanged, context,
                   [apply = std::move(apply)] { apply(); });
}

void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color) {
  if (color.alpha() == 0 || rect.isEmpty()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  if (radius > 0) {
    painter.drawRoundedRect(rect, radius, radius);
  } else {
    painter.drawRect(rect);
  }
  painter.restore();
}

// --- TextLabel ---------------------------------------------------------------

TextLabel::TextLabel(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TranslucentBackground);
}

void TextLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  update();
}

void TextLabel::setTextColor(const QColor& color) {
  color_ = color;
  update();
}

void TextLabel::setAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}

void TextLabel::setWordWrap(bool wrap) {
  wrap_ = wrap;
  update();
}

void TextLabel::setElideRight(bool elide) {
  elide_ = elide;
  update();
}

QSize TextLabel::sizeHint() const {
  const QFontMetricsF metrics(font());
  return QSizeF(metrics.horizontalAdvance(text_), metrics.height()).toSize() + QSize(1, 0);
}

QRectF TextLabel::drawingRect() const { return drawingRectForBounds(QRectF(rect())); }

void TextLabel::selectWithFrame(const QRectF& frame, int start, int length) {
  editorFrame_ = drawingRectForBounds(frame);
  selectionStart_ = start;
  selectionLength_ = length;
}

void TextLabel::editWithFrame(const QRectF& frame) { editorFrame_ = drawingRectForBounds(frame); }

void TextLabel::paintEvent(QPaintEvent*) {
  if (text_.isEmpty()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font());
  painter.setPen(color_);
  const QRectF area = drawingRect();
  int flags = static_cast<int>(alignment_);
  QString shown = text_;
  if (wrap_) {
    flags |= Qt::TextWordWrap;
  } else if (elide_) {
    shown = QFontMetricsF(font()).elidedText(text_, Qt::ElideRight, area.width());
  }
  painter.drawText(area, flags, shown);
}

// --- RvVerticallyCenteredLabel -------------------------------------------------

RvVerticallyCenteredLabel::RvVerticallyCenteredLabel(QWidget* parent) : TextLabel(parent) {}

void RvVerticallyCenteredLabel::setHorizontalCentered(bool centered) {
  horizontalCentered_ = centered;
  update();
}

QRectF RvVerticallyCenteredLabel::drawingRectForBounds(const QRectF& bounds, const QSizeF& textSize,
                                                       bool horizontalCentered) {
  QRectF r = bounds;
  const float dh = static_cast<float>(r.height()) - static_cast<float>(textSize.height());
  if (dh > 0) {
    r.setHeight(r.height() - dh);
    r.moveTop(r.y() + dh * 0.5f);
  }
  if (horizontalCentered) {
    const float dw = static_cast<float>(r.width()) - static_cast<float>(textSize.width());
    if (dw > 0) {
      r.setWidth(r.width() - dw);
      r.moveLeft(r.x() + dw * 0.5f);
    }
  }
  return r;
}

QRectF RvVerticallyCenteredLabel::drawingRectForBounds(const QRectF& bounds) const {
  if (mIsEditingOrSelecting) return bounds;
  const QFontMetricsF metrics(font());
  const QSizeF textSize(metrics.horizontalAdvance(text()), metrics.height());
  return drawingRectForBounds(bounds, textSize, horizontalCentered_);
}

void RvVerticallyCenteredLabel::selectWithFrame(const QRectF& frame, int start, int length) {
  const QRectF centred = drawingRectForBounds(frame);
  mIsEditingOrSelecting = true;
  TextLabel::selectWithFrame(centred, start, length);
  mIsEditingOrSelecting = false;
}

void RvVerticallyCenteredLabel::editWithFrame(const QRectF& frame) {
  const QRectF centred = drawingRectForBounds(frame);
  mIsEditingOrSelecting = true;
  TextLabel::editWithFrame(centred);
  mIsEditingOrSelecting = false;
}

// --- ImageView ----------------------------------------------------------------

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  applyNowAndOnAppearanceChange(this, [this] { reload(); });
}

void ImageView::setImageName(std::string_view name) {
  name_ = std::string(name);
  reload();
}

void ImageView::setCornerRadius(qreal radius) {
  cornerRadius_ = radius;
  update();
}

void ImageView::reload() {
  renderedSize_ = QSize();
  update();
}

const QPixmap& ImageView::currentPixmap() const {
  if (renderedSize_ != size()) {
    renderedSize_ = size();
    pixmap_ = name_.empty() || size().isEmpty() ? QPixmap() : assetImage(name_, size());
  }
  return pixmap_;
}

void ImageView::resizeEvent(QResizeEvent*) { reload(); }

void ImageView::paintEvent(QPaintEvent*) {
  const QPixmap& pixmap = currentPixmap();
  if (pixmap.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (cornerRadius_ > 0) {
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.setClipPath(clip);
  }
  const QSizeF logical = pixmap.deviceIndependentSize();
  const QPointF origin((width() - logical.width()) / 2, (height() - logical.height()) / 2);
  painter.drawPixmap(origin, pixmap);
}

// --- RoundedButton --------------------------------------------------------------

RoundedButton::RoundedButton(const Style& style, QWidget* parent)
    : QPushButton(parent), style_(style) {
  setFocusPolicy(Qt::NoFocus);
  setFlat(true);
  setFont(uiFont(style_.fontSize));
  setAttribute(Qt::WA_TranslucentBackground);
  applyNowAndOnAppearanceChange(this, [this] { applyColors(); });
}

void RoundedButton::setContent(const QString& title, std::string_view imageName) {
  setText(title);
  imageName_ = std::string(imageName);
  image_ = imageName_.empty() ? QPixmap() : assetImage(imageName_, style_.imageSize);
  update();
}

void RoundedButton::applyColors() {
  background_ = assetColor(style_.backgroundColor);
  titleColor_ = style_.titleColor.empty() ? style_.fixedTitleColor : assetColor(style_.titleColor);
  if (!imageName_.empty()) image_ = assetImage(imageName_, style_.imageSize);
  update();
}

void RoundedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor fill = background_;
  if (isDown()) fill = fill.darker(115);
  fillRoundedRect(painter, QRectF(rect()), style_.cornerRadius, fill);

  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font());
  const QFontMetricsF metrics(font());
  const qreal textWidth = std::min<qreal>(metrics.horizontalAdvance(text()), width());
  const QSizeF imageSize = image_.isNull() ? QSizeF() : image_.deviceIndependentSize();
  const qreal imageWidth = image_.isNull() ? 0 : imageSize.width() + style_.imageSpacing;
  qreal x = (width() - imageWidth - textWidth) / 2;
  if (!image_.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QPointF(x, (height() - imageSize.height()) / 2), image_);
    x += imageWidth;
  }
  painter.setPen(titleColor_);
  const QString shown = metrics.elidedText(text(), Qt::ElideRight, width() - x);
  painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

}  // namespace quillo
