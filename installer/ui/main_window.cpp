#include "main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QScreen>

#include "assets.h"
#include "installer/g.h"
#include "installer/page_content.h"

namespace quillo {

namespace {

constexpr const char* kLevelProperty = "quilloWindowLevel";

}  // namespace

void setWindowLevel(QWidget* window, int level) {
  if (!window) return;
  window->setProperty(kLevelProperty, level);
  const bool onTop = level > 0;
  if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
  // Changing window flags hides the window and may let the window system
  // place it anew; put it back where it was.
  const bool wasVisible = window->isVisible();
  const QPoint position = window->pos();
  window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  if (wasVisible) {
    window->move(position);
    window->show();
  }
}

int windowLevel(const QWidget* window) {
  return window ? window->property(kLevelProperty).toInt() : 0;
}

void centerWindow(QWidget* window) {
  if (!window) return;
  window->adjustSize();
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

// --- InstallerContentView -------------------------------------------------------------

InstallerContentView::InstallerContentView(QWidget* parent)
    : InstallerContentView(installerName(G::bundlePath()), parent) {}

InstallerContentView::InstallerContentView(std::string installerName, QWidget* parent)
    : QWidget(parent), installerView_(new InstallerView(std::move(installerName), this)) {
  setObjectName("contentView");
  setFixedSize(UI::size);
  installerView_->setGeometry(rect());
  installerView_->layoutSubviews();
  applyNowAndOnAppearanceChange(this, [this] {
    background_ = assetColor(UI::backgroundColor);
    update();
  });
}

void InstallerContentView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), background_);
}

// --- InstallerMainWindowController ---------------------------------------------------------

InstallerMainWindowController::InstallerMainWindowController(
    std::unique_ptr<InstallerMainWindowContent> content)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
      content_(std::move(content)) {
  setObjectName("mainWindow");
  setWindowTitle("QuilloInstaller");
  setFocusPolicy(Qt::StrongFocus);
  QWidget* view = content_->view();
  view->setParent(this);
  setCentralWidget(view);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

InstallerMainWindowController::~InstallerMainWindowController() {
  // The content view is our child and dies with us; let the controller go
  // first while its view still exists.
  content_.reset();
}

void InstallerMainWindowController::closeEvent(QCloseEvent* event) {
  // The window never closes itself; the content decides what a close means.
  event->ignore();
  if (content_) (void)content_->windowWillClose();
}

void InstallerMainWindowController::keyPressEvent(QKeyEvent* event) {
  event->accept();
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (event->key() == Qt::Key_W && mods.testFlag(Qt::ControlModifier) &&
      !mods.testFlag(Qt::ShiftModifier)) {
    close();
  }
}

void InstallerMainWindowController::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (appeared_) return;  // a level change shows the window again
  appeared_ = true;
  if (content_) content_->viewDidAppear();
}

void InstallerMainWindowController::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && content_) {
    content_->windowDidBecomeKey();
  }
}

}  // namespace quillo
