#include "exist_hint_window.h"

#include <QMainWindow>
#include <QPainter>

#include "assets.h"

namespace quillo {

// --- InstallerExistHintView ----------------------------------------------------------

InstallerExistHintView::UI::Layout InstallerExistHintView::UI::layout(QSize size) {
  const int centerX = size.width() / 2;
  Layout l;
  l.image = QRect(QPoint(centerX - Image::size.width() / 2, Image::topToWindow), Image::size);
  l.title = QRect(0, l.image.bottom() + 1 + Text::topToImage, size.width(), Text::height);
  l.subTitle = QRect(0, l.title.bottom() + 1 + Text::verticalSpacing, size.width(), Text::height);
  const int buttonTop = l.subTitle.bottom() + 1 + Button::topToSubTitle;
  const int halfSpacing = Button::horizontalSpacing / 2;
  l.enableButton = QRect(QPoint(centerX + halfSpacing, buttonTop), Button::size);
  l.cancelButton =
      QRect(QPoint(centerX - halfSpacing - Button::size.width(), buttonTop), Button::size);
  return l;
}

namespace {

TextLabel* generateText(const QString& content, QWidget* parent) {
  auto* label = new TextLabel(parent);
  label->setFont(uiFont(InstallerExistHintView::UI::Text::fontSize));
  label->setAlignment(Qt::AlignCenter);
  label->setText(content);
  return label;
}

RoundedButton* generateButton(std::string_view background, std::string_view title,
                              QWidget* parent) {
  auto* button = new RoundedButton({.backgroundColor = background,
                                    .titleColor = title,
                                    .cornerRadius = InstallerExistHintView::UI::Button::cornerRadius,
                                    .fontSize = InstallerExistHintView::UI::Button::fontSize},
                                   parent);
  button->setFixedSize(InstallerExistHintView::UI::Button::size);
  return button;
}

// The sheet's shadow on its parent window: a soft band around the sheet's
// sides and bottom that darkens to `color` at the sheet's edge.
class SheetShadow : public QWidget {
 public:
  SheetShadow(QWidget* parent, const InstallerExistHintView* view) : QWidget(parent), view_(view) {
    setObjectName("existHintShadow");
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  // Places the shadow around `sheet`, given in the parent's coordinates.
  void surround(const QRect& sheet) {
    constexpr int r = InstallerExistHintView::UI::shadowRadius;
    setGeometry(sheet.adjusted(-r, 0, r, r + InstallerExistHintView::UI::shadowOffsetY));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    constexpr int r = InstallerExistHintView::UI::shadowRadius;
    const QColor color = view_->shadowColor();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // r nested bands, each adding 1/r of the colour's alpha: alpha grows
    // linearly from nothing at the outer edge to the full colour at the sheet.
    QColor band = color;
    band.setAlphaF(color.alphaF() / r);
    painter.setBrush(band);
    const QRect sheet = rect().adjusted(r, 0, -r, -r);
    for (int k = r; k >= 1; --k) painter.drawRoundedRect(QRectF(sheet.adjusted(-k, 0, k, k)), k, k);
  }

 private:
  const InstallerExistHintView* view_;
};

}  // namespace

InstallerExistHintView::InstallerExistHintView(QWidget* parent)
    : QWidget(parent),
      imageView_(new ImageView(this)),
      titleLabel_(generateText("未启用「Chirpa输入法」", this)),
      subTitleLabel_(generateText("退出安装将无法使用", this)),
      enableInputBtn_(generateButton("bg04", "bc17", this)),
      cancelBtn_(generateButton("bg05", "bc03", this)) {
  setObjectName("existHintView");
  imageView_->setObjectName("existImageView");
  titleLabel_->setObjectName("titleLabel");
  subTitleLabel_->setObjectName("subTitleLabel");
  enableInputBtn_->setObjectName("enableInputButton");
  cancelBtn_->setObjectName("cancelButton");
  imageView_->setImageName(UI::Image::name);
  enableInputBtn_->setContent("去启用");
  cancelBtn_->setContent("退出安装");
  QObject::connect(enableInputBtn_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->existHintViewDidClickEnableInput(this);
  });
  QObject::connect(cancelBtn_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->existHintViewDidClickCancel(this);
  });
  updateLayoutForCurrentAppearance();
}

void InstallerExistHintView::updateLayoutForCurrentAppearance() {
  // Qt colours do not follow the appearance by themselves, so unlike layer
  // colours elsewhere the texts are re-read here too (the buttons and the
  // picture follow on their own).
  background_ = assetColor(UI::backgroundColor);
  border_ = assetColor(UI::borderColor);
  shadow_ = UI::shadowColor;
  titleLabel_->setTextColor(assetColor(UI::Text::color));
  subTitleLabel_->setTextColor(assetColor(UI::Text::color));
  update();
}

void InstallerExistHintView::resizeEvent(QResizeEvent*) { layoutSubviews(); }

void InstallerExistHintView::layoutSubviews() {
  const UI::Layout l = UI::layout(size());
  imageView_->setGeometry(l.image);
  titleLabel_->setGeometry(l.title);
  subTitleLabel_->setGeometry(l.subTitle);
  enableInputBtn_->setGeometry(l.enableButton);
  cancelBtn_->setGeometry(l.cancelButton);
}

void InstallerExistHintView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), background_);
  // The border colour alone draws nothing, as on a layer; the shadow around
  // the sheet sets it off from its parent.
  if (UI::borderWidth > 0) {
    painter.setPen(QPen(border_, UI::borderWidth));
    const qreal inset = UI::borderWidth / 2;
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
  }
}

// --- InstallerExistHintWindowController -------------------------------------------------

InstallerExistHintWindowController::InstallerExistHintWindowController()
    : window_(new QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint)),
      hintView_(new InstallerExistHintView(window_)) {
  window_->setObjectName("existHintWindow");
  window_->setFixedSize(UI::Window::size);
  hintView_->setGeometry(QRect(QPoint(0, 0), UI::Window::size));
  hintView_->layoutSubviews();
  hintView_->setDelegate(this);
  applyNowAndOnAppearanceChange(hintView_, [view = hintView_] {
    view->updateLayoutForCurrentAppearance();
  });
}

InstallerExistHintWindowController::~InstallerExistHintWindowController() {
  delete shadow_.data();
  if (window_) {
    hintView_->setDelegate(nullptr);
    delete window_.data();
  }
}

void InstallerExistHintWindowController::beginSheet(QWidget* parent) {
  if (!window_ || !parent) return;
  if (window_->isVisible()) return;
  QWidget* parentWindow = parent->window();
  if (window_->parentWidget() != parentWindow) {
    window_->setParent(parentWindow, Qt::Dialog | Qt::FramelessWindowHint);
  }
  window_->setWindowModality(Qt::WindowModal);
  // Hang it from the top of the content, below the window's own menu bar,
  // centred like a sheet.
  QWidget* content = parentWindow;
  if (auto* main = qobject_cast<QMainWindow*>(parentWindow); main && main->centralWidget()) {
    content = main->centralWidget();
  }
  const QPoint topLeft = content->mapTo(parentWindow, QPoint((content->width() - UI::Window::size.width()) / 2, 0));
  if (!shadow_ || shadow_->parentWidget() != parentWindow) {
    delete shadow_.data();
    shadow_ = new SheetShadow(parentWindow, hintView_);
  }
  static_cast<SheetShadow*>(shadow_.data())->surround(QRect(topLeft, UI::Window::size));
  shadow_->show();
  shadow_->raise();
  window_->move(parentWindow->mapToGlobal(topLeft));
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void InstallerExistHintWindowController::close() {
  if (shadow_) shadow_->hide();
  if (window_) window_->hide();
}

bool InstallerExistHintWindowController::isSheetVisible() const {
  return window_ && window_->isVisible();
}

void InstallerExistHintWindowController::existHintViewDidClickEnableInput(InstallerExistHintView*) {
  if (delegate_) delegate_->enableInput();
}

void InstallerExistHintWindowController::existHintViewDidClickCancel(InstallerExistHintView*) {
  if (delegate_) delegate_->existInstall();
}

}  // namespace quillo
