#include "progress_views.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#include "assets.h"
#include "installer/page_content.h"
#include "platform/dispatch.h"

namespace quillo {

// --- InstallProgressSectionView -----------------------------------------------------

InstallProgressSectionView::InstallProgressSectionView(QWidget* parent)
    : QWidget(parent), textField_(new RvVerticallyCenteredLabel(this)) {
  setAttribute(Qt::WA_TranslucentBackground);
  textField_->setObjectName("progressTextLabel");
  textField_->setFont(uiFont(InstallerProgressView::UI::fontSize));
  textField_->setHorizontalCentered(true);
  textField_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void InstallProgressSectionView::setBackgroundColor(const QColor& color) {
  background_ = color;
  update();
}

void InstallProgressSectionView::setOutline(QSize barSize, qreal cornerRadius) {
  barSize_ = barSize;
  cornerRadius_ = cornerRadius;
  update();
}

void InstallProgressSectionView::paintEvent(QPaintEvent*) {
  if (background_.alpha() == 0 || width() <= 0) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The section starts at the bar's left edge, so the bar's outline in the
  // bar's coordinates is its outline here; the widget's own rectangle cuts it
  // at the progress edge.
  QPainterPath outline;
  outline.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(barSize_)), cornerRadius_, cornerRadius_);
  painter.setPen(Qt::NoPen);
  painter.setBrush(background_);
  painter.drawPath(outline);
}

// --- InstallProgressView ---------------------------------------------------------------

InstallProgressView::InstallProgressView(QWidget* parent)
    : QWidget(parent),
      bgView_(new InstallProgressSectionView(this)),
      fgView_(new InstallProgressSectionView(this)),
      animation_(new QVariantAnimation(this)) {
  setObjectName("installProgressView");
  bgView_->setObjectName("bgView");
  fgView_->setObjectName("fgView");
  bgView_->hide();
  fgView_->hide();
  QObject::connect(animation_, &QVariantAnimation::valueChanged, this,
                   [this](const QVariant& value) { setForegroundWidth(value.toReal()); });
  QObject::connect(animation_, &QVariantAnimation::finished, this, [this] { finishRunning(); });
  applyNowAndOnAppearanceChange(this, [this] { applyColors(); });
}

InstallProgressView::~InstallProgressView() {
  // The animation is our child; make sure it cannot call back into a half
  // destroyed bar.
  animation_->disconnect(this);
}

void InstallProgressView::applyColors() {
  const QColor accent = assetColor(InstallerProgressView::UI::accentColor);
  QColor pale = accent;
  pale.setAlphaF(static_cast<float>(accent.alphaF() * InstallerProgressView::UI::backgroundAlpha));
  bgView_->setBackgroundColor(pale);
  bgView_->setTextColor(InstallerProgressView::UI::backgroundTextColor);
  fgView_->setBackgroundColor(accent);
  fgView_->setTextColor(Qt::white);
}

void InstallProgressView::setCornerRadius(qreal radius) {
  cornerRadius_ = radius;
  bgView_->setOutline(size(), cornerRadius_);
  fgView_->setOutline(size(), cornerRadius_);
}

void InstallProgressView::resizeEvent(QResizeEvent*) {
  bgView_->setOutline(size(), cornerRadius_);
  fgView_->setOutline(size(), cornerRadius_);
}

bool InstallProgressView::isAnimating() const {
  return animation_->state() == QAbstractAnimation::Running;
}

void InstallProgressView::setForegroundWidth(qreal width) {
  fgView_->setGeometry(0, 0, static_cast<int>(std::lround(width)), height());
}

void InstallProgressView::finishRunning() {
  if (!running_) return;
  Completion completion = std::move(running_->completion);
  running_.reset();
  if (animation_->state() != QAbstractAnimation::Stopped) animation_->stop();
  if (!completion) return;
  // Always on a later turn of the loop, so the caller of show() has finished
  // its own updates before anyone hears that the move ended.
  QMetaObject::invokeMethod(this, std::move(completion), Qt::QueuedConnection);
}

void InstallProgressView::show(double progress, std::string_view prefixText, bool animated,
                               Completion completion) {
  // An interrupted move still owes its completion; deliver it, once.
  finishRunning();

  const QString text = QString::fromStdString(progressText(prefixText, progress));
  bgView_->textField()->setText(text);
  fgView_->textField()->setText(text);
  bgView_->setGeometry(rect());
  bgView_->textField()->setGeometry(rect());
  fgView_->textField()->setGeometry(rect());

  const double percent = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 100.0);
  targetWidth_ = percent / 100.0 * width();
  const double current = fgView_->width();
  const double seconds =
      progressAnimationDuration(targetWidth_, current, bgView_->width(), animated) * delayScale();
  const int milliseconds = static_cast<int>(std::lround(seconds * 1000));

  const uint64_t serial = nextSerial_++;
  running_ = Running{serial, std::move(completion)};
  if (milliseconds > 0) {
    animation_->setStartValue(current);
    animation_->setEndValue(static_cast<qreal>(targetWidth_));
    animation_->setDuration(milliseconds);
    animation_->start();
  } else {
    setForegroundWidth(targetWidth_);
    // A move of no length still ends on a later turn of the loop (as a
    // zero-length Qt animation would not: it finishes inside start()).
    QMetaObject::invokeMethod(
        this,
        [this, serial] {
          if (running_ && running_->serial == serial) finishRunning();
        },
        Qt::QueuedConnection);
  }
  fgView_->setVisible(true);
  bgView_->setVisible(true);
}

// --- InstallerProgressView -----------------------------------------------------------

InstallerProgressView::InstallerProgressView(QWidget* parent)
    : QWidget(parent), progressView_(new InstallProgressView(this)) {
  setObjectName("progressView");
  setFixedSize(UI::size);
  setAttribute(Qt::WA_TranslucentBackground);
  progressView_->setGeometry(QRect(QPoint(0, 0), UI::size));
  progressView_->setCornerRadius(UI::cornerRadius);
  progressView_->show(0, kProgressPrefixText, false);
}

}  // namespace quillo
