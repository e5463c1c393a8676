#include "app_delegate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include "installer/utils.h"
#include "jot/jot_util.h"
#include "jot/log_line.h"
#include "widget_kit.h"

namespace quillo {

void terminateApplication() { QCoreApplication::exit(0); }

InstallerIdleContent::InstallerIdleContent() : view_(new InstallerContentView()) {}

bool InstallerIdleContent::windowWillClose() {
  terminateApplication();
  return true;
}

AppDelegate::AppDelegate(ContentFactory makeContent) : makeContent_(std::move(makeContent)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
  // The writer asks for these while it writes its start line.
  vela::jot::JotUtil::setAppInfoProvider([] { return Utils::appVersion(); },
                                         [] { return Utils::deviceModelID().value_or(""); });
  vela::jot::JotUtil::setUpJot(vela::jot::JotLevel::Info, 2);
  setUpApplicationFonts();
  windowController_ = std::make_unique<InstallerMainWindowController>(makeContent_());
  setupMainMenu();
  centerWindow(windowController_.get());
  windowController_->show();
  windowController_->raise();
  windowController_->activateWindow();
}

void AppDelegate::applicationWillTerminate() { vela::jot::JotUtil::closeLog(); }

void AppDelegate::setupMainMenu() {
  QMenu* menu = windowController_->menuBar()->addMenu("QuilloInstaller");
  menu->setObjectName("appMenu");
  QAction* about = menu->addAction("About QuilloInstaller");
  about->setObjectName("aboutAction");
  QObject::connect(about, &QAction::triggered, windowController_.get(),
                   [this] { showAboutPanel(); });
  menu->addSeparator();
  QAction* quit = menu->addAction("Quit QuilloInstaller");
  quit->setObjectName("quitAction");
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  QObject::connect(quit, &QAction::triggered, windowController_.get(),
                   [] { terminateApplication(); });
}

void AppDelegate::showAboutPanel() {
  QMessageBox::about(windowController_.get(), "About QuilloInstaller",
                     QString("QuilloInstaller %1").arg(QString::fromStdString(Utils::appVersion())));
}

}  // namespace quillo
