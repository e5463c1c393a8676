#include "step_two_view.h"

#include "assets.h"
#include "installer/g.h"
#include "installer/thread_helpers.h"

namespace quillo {

InstallerStepTwoView::UI::Layout InstallerStepTwoView::UI::layout(QSize size) {
  const int centerX = size.width() / 2;
  Layout l;
  l.title = QRect(0, Title::topToWindowTop, size.width(), Title::height);
  l.hint = QRect(0, l.title.bottom() + 1 + HintView::topToTitle, size.width(),
                 InstallerStateHintTextView::UI::height);
  l.image = QRect(QPoint(centerX - ImageView::size.width() / 2,
                         l.hint.bottom() + 1 + ImageView::topToHint),
                  ImageView::size);
  l.button = QRect(QPoint(centerX - BtnView::size.width() / 2,
                          l.image.bottom() + 1 + BtnView::topToImage),
                   BtnView::size);
  return l;
}

InstallerStepTwoView::InstallerStepTwoView(QWidget* parent)
    : InstallerStepTwoView(installerName(G::bundlePath()), parent) {}

InstallerStepTwoView::InstallerStepTwoView(std::string name, QWidget* parent)
    : QWidget(parent),
      installerName_(std::move(name)),
      titleTextView_(new TextLabel(this)),
      imageView_(new quillo::ImageView(this)),
      btnView_(new InstallerBtnView(this)),
      stateHintTextView_(new InstallerStateHintTextView(this)),
      self_(std::make_shared<InstallerStepTwoView*>(this)) {
  setObjectName("stepTwoView");
  titleTextView_->setObjectName("titleLabel");
  titleTextView_->setFont(uiFont(UI::Title::fontSize, QFont::Medium));
  titleTextView_->setAlignment(Qt::AlignCenter);
  titleTextView_->setText("启用输入法");
  stateHintTextView_->setObjectName("stateHintLabel");
  imageView_->setObjectName("pictureView");
  imageView_->setCornerRadius(UI::ImageView::cornerRadius);
  btnView_->setObjectName("enableButton");
  applyNowAndOnAppearanceChange(
      this, [this] { titleTextView_->setTextColor(assetColor(UI::Title::textColor)); });
  QObject::connect(btnView_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->stepTwoViewDidClickBtn(this, btnView_);
  });
}

InstallerStepTwoView::~InstallerStepTwoView() = default;

void InstallerStepTwoView::resizeEvent(QResizeEvent*) { layoutSubviews(); }

void InstallerStepTwoView::layoutSubviews() {
  const UI::Layout l = UI::layout(size());
  titleTextView_->setGeometry(l.title);
  stateHintTextView_->setGeometry(l.hint);
  imageView_->setGeometry(l.image);
  btnView_->setGeometry(l.button);
}

void InstallerStepTwoView::setViewState(const ViewState& state) {
  state_.set(state);
  std::weak_ptr<InstallerStepTwoView*> weak = self_;
  runBlockOnMainThread([weak] {
    if (auto self = weak.lock()) (*self)->onStateChange();
  });
}

void InstallerStepTwoView::onStateChange() {
  const auto content = stepTwoContent(viewState(), installerName_);
  if (!content) return;
  titleTextView_->setText(QString::fromStdString(content->title));
  imageView_->setImageName(content->image);
  stateHintTextView_->updateContentAndAdjustSize(QString::fromStdString(content->hint));
  btnView_->setContent(QString::fromStdString(content->button.title),
                       content->button.finishIcon ? UI::BtnView::finishImage : std::string_view());
}

}  // namespace quillo
