#include "small_widgets.h"

#include <QPainter>

#include "assets.h"

namespace quillo {

// --- InstallerLogoView ------------------------------------------------------------

InstallerLogoView::InstallerLogoView(QWidget* parent)
    : QWidget(parent), logoImage_(new ImageView(this)), versionLabel_(new TextLabel(this)) {
  setObjectName("logoView");
  setFixedSize(UI::widgetSize);
  logoImage_->setObjectName("logoImageView");
  logoImage_->setGeometry(UI::imageRect);
  logoImage_->setImageName(UI::image);
  versionLabel_->setObjectName("versionLabel");
  versionLabel_->setGeometry(UI::versionLabelRect);
  versionLabel_->setFont(uiFont(UI::versionFontSize));
  versionLabel_->setAlignment(Qt::AlignCenter);
  versionLabel_->setElideRight(true);
  applyNowAndOnAppearanceChange(
      this, [this] { versionLabel_->setTextColor(assetColor(UI::versionColor)); });
}

// --- InstallerBtnView ---------------------------------------------------------------

InstallerBtnView::InstallerBtnView(QWidget* parent)
    : RoundedButton({.backgroundColor = UI::backgroundColor,
                     .titleColor = UI::textColor,
                     .cornerRadius = UI::cornerRadius,
                     .fontSize = UI::titleFontSize,
                     .imageSize = UI::imageSize},
                    parent) {
  setFixedSize(UI::size);
}

// --- InstallerStateHintTextView -------------------------------------------------------

InstallerStateHintTextView::InstallerStateHintTextView(QWidget* parent) : TextLabel(parent) {
  setFont(uiFont(UI::fontSize));
  setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  setWordWrap(true);
  setFixedHeight(UI::height);
  applyNowAndOnAppearanceChange(this, [this] { setTextColor(assetColor(UI::textColor)); });
}

void InstallerStateHintTextView::updateContentAndAdjustSize(const QString& text) { setText(text); }

// --- InstallerFinishTipView -----------------------------------------------------------

InstallerFinishTipView::InstallerFinishTipView(QWidget* parent)
    : QWidget(parent), iconView_(new ImageView(this)), textField_(new TextLabel(this)) {
  setObjectName("finishTipView");
  setFixedSize(UI::size);
  iconView_->setObjectName("finishIconView");
  iconView_->setGeometry(UI::iconRect);
  iconView_->setImageName(UI::image);
  textField_->setObjectName("finishTextLabel");
  textField_->setGeometry(UI::textRect);
  textField_->setFont(uiFont(UI::textFontSize, QFont::Medium));
  textField_->setText("安装完成");
  applyNowAndOnAppearanceChange(
      this, [this] { textField_->setTextColor(assetColor(UI::textColor)); });
}

// --- InstallerRetryView ------------------------------------------------------------------

InstallerRetryView::InstallerRetryView(QWidget* parent)
    : QWidget(parent),
      retryText_(new TextLabel(this)),
      retryBtn_(new RoundedButton({.backgroundColor = UI::accentColor,
                                   .fixedTitleColor = Qt::white,
                                   .cornerRadius = UI::btnCornerRadius,
                                   .fontSize = UI::btnFontSize},
                                  this)) {
  setObjectName("retryView");
  setFixedSize(UI::size);
  setAttribute(Qt::WA_TranslucentBackground);
  retryText_->setObjectName("retryTextLabel");
  retryText_->setGeometry(UI::textRect);
  retryText_->setFont(uiFont(UI::fontSize, QFont::Medium));
  retryText_->setWordWrap(true);
  retryText_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  retryText_->setText("请输入管理员账号密码");
  retryBtn_->setObjectName("retryButton");
  retryBtn_->setGeometry(UI::btnRect);
  retryBtn_->setContent("重试");
  applyNowAndOnAppearanceChange(this, [this] {
    retryText_->setTextColor(assetColor(UI::textColor));
    boxColor_ = assetColor(UI::accentColor);
    boxColor_.setAlphaF(static_cast<float>(boxColor_.alphaF() * UI::boxAlpha));
    update();
  });
}

void InstallerRetryView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  fillRoundedRect(painter, QRectF(rect()), UI::cornerRadius, boxColor_);
}

}  // namespace quillo
