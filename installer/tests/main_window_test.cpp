// The main window, the application menu and the not-enabled hint sheet.
#include "main_window.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QScreen>

#include "app_delegate.h"
#include "exist_hint_window.h"
#include "support/window_test_support.h"

namespace {

using namespace windowtest;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prepareEnvironment();
    auto flow = std::make_unique<RecordingFlow>();
    flow_ = flow.get();
    window_ = std::make_unique<quillo::InstallerMainWindowController>(std::move(flow));
    quillo::centerWindow(window_.get());
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override { quillo::setCurrentAppearance(quillo::Appearance::Light); }

  std::unique_ptr<quillo::InstallerMainWindowController> window_;
  RecordingFlow* flow_ = nullptr;
};

TEST_F(MainWindowTest, ShowsFixedContentWithTitleAndCloseButtonOnly) {
  EXPECT_EQ(window_->centralWidget()->size(), QSize(500, 392));
  EXPECT_EQ(window_->windowTitle(), "QuilloInstaller");
  const Qt::WindowFlags flags = window_->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
  EXPECT_EQ(flow_->appeared, 1);
}

TEST_F(MainWindowTest, CloseButtonGoesToTheContentAndTheWindowStays) {
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(flow_->closeRequests, 1);
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, CtrlWClosesLikeTheCloseButton) {
  QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(flow_->closeRequests, 1);
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, OtherKeysAreDropped) {
  QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(window_.get(), Qt::Key_W);
  QTest::keyClick(window_.get(), Qt::Key_Return);
  QTest::keyClick(window_.get(), Qt::Key_Space);
  EXPECT_EQ(flow_->closeRequests, 0);
  EXPECT_TRUE(flow_->installClicks.empty());
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWindowTest, LevelChangesKeepTheWindowShownAndInPlace) {
  const QPoint before = window_->pos();
  quillo::setWindowLevel(window_.get(), quillo::kFloatingWindowLevel);
  EXPECT_EQ(quillo::windowLevel(window_.get()), 3);
  EXPECT_TRUE(window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(window_->pos(), before);
  quillo::setWindowLevel(window_.get(), quillo::kNormalWindowLevel);
  EXPECT_EQ(quillo::windowLevel(window_.get()), 0);
  EXPECT_FALSE(window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(window_->pos(), before);
  EXPECT_EQ(flow_->appeared, 1);  // showing again is not a new appearance
}

TEST_F(MainWindowTest, ContentBackgroundFollowsTheAppearance) {
  saveScreen(window_.get(), "window_initial");
  quillo::setCurrentAppearance(quillo::Appearance::Dark);
  const QImage dark = window_->centralWidget()->grab().toImage();
  EXPECT_EQ(dark.pixelColor(5, 5), quillo::assetColor("bg06", quillo::Appearance::Dark));
  saveScreen(window_.get(), "window_initial_dark");
}

TEST(AppDelegateTest, LaunchBuildsTheMenuAndCentresTheWindow) {
  prepareEnvironment();
  // Launch opens the log writer under the caches folder: keep it in the test's own.
  const QString caches = QDir::tempPath() + "/app-delegate-caches-" + QString::number(getpid());
  qputenv("XDG_CACHE_HOME", caches.toUtf8());
  RecordingFlow* flow = nullptr;
  quillo::AppDelegate delegate([&] {
    auto made = std::make_unique<RecordingFlow>();
    flow = made.get();
    return made;
  });
  delegate.applicationDidFinishLaunching();
  quillo::InstallerMainWindowController* window = delegate.windowController();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  EXPECT_EQ(window->contentViewController(), flow);

  const QList<QAction*> menus = window->menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  const QList<QAction*> items = menus[0]->menu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "About QuilloInstaller");
  EXPECT_TRUE(items[0]->shortcut().isEmpty());
  EXPECT_TRUE(items[1]->isSeparator());
  delegate.applicationWillTerminate();
  EXPECT_TRUE(QDir(caches + "/Quillo/Logs").exists()) << "launch opened the log";
  QDir(caches).removeRecursively();
  EXPECT_EQ(items[2]->text(), "Quit QuilloInstaller");
  EXPECT_EQ(items[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

  const QPoint screenCenter = window->screen()->availableGeometry().center();
  // Centred before it was shown, when the window frame (a few pixels) was
  // not known yet.
  EXPECT_LE((window->frameGeometry().center() - screenCenter).manhattanLength(), 8);
}

class HintSheetTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    sheet_.setDelegate(flow_);
  }

  // The sheet drawn over the window where it hangs.
  QPixmap composite() {
    QPixmap picture = window_->grab();
    QPainter painter(&picture);
    painter.drawPixmap(sheet_.window()->pos() - window_->pos(), sheet_.window()->grab());
    return picture;
  }

  quillo::InstallerExistHintWindowController sheet_;
};

TEST_F(HintSheetTest, BeginsAsAWindowModalChildWithoutDecorations) {
  sheet_.beginSheet(window_.get());
  QWidget* sheet = sheet_.window();
  EXPECT_TRUE(sheet_.isSheetVisible());
  EXPECT_EQ(sheet->parentWidget(), window_.get());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_TRUE(sheet->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(sheet->size(), QSize(348, 287));
  EXPECT_EQ(QApplication::activeModalWidget(), sheet);
}

TEST_F(HintSheetTest, HangsFromTheTopOfTheContentBelowTheMenuBar) {
  window_->menuBar()->addMenu("QuilloInstaller");
  window_->adjustSize();
  ASSERT_TRUE(waitFor([&] { return window_->centralWidget()->y() > 0; }));
  sheet_.beginSheet(window_.get());
  const QPoint content = window_->centralWidget()->mapToGlobal(QPoint(0, 0));
  EXPECT_EQ(sheet_.window()->pos(), content + QPoint((500 - 348) / 2, 0));
  EXPECT_GT(sheet_.window()->y(), window_->mapToGlobal(QPoint(0, 0)).y()) << "the menu bar stays visible";
  saveScreen(composite(), "window_with_sheet_and_menu");
}

TEST_F(HintSheetTest, CastsABlackQuarterShadowAndDrawsNoBorder) {
  sheet_.beginSheet(window_.get());
  const quillo::InstallerExistHintView* view = sheet_.hintView();
  EXPECT_EQ(view->shadowColor(), QColor(0, 0, 0, 64));
  EXPECT_EQ(view->borderColor(), quillo::assetColor("bc09"));
  ASSERT_NE(sheet_.shadow(), nullptr);
  EXPECT_TRUE(sheet_.shadow()->isVisible());

  // Just below and beside the sheet the content is darker than its background; far off it is not.
  const QImage picture = composite().toImage();
  const QPoint sheetInWindow = sheet_.window()->pos() - window_->pos();
  const QColor background = quillo::assetColor("bg06");
  const QColor below = picture.pixelColor(sheetInWindow + QPoint(174, 287 + 1));
  EXPECT_LT(below.lightness(), background.lightness());
  EXPECT_LT(picture.pixelColor(sheetInWindow + QPoint(348 + 1, 100)).lightness(), background.lightness());
  EXPECT_EQ(picture.pixelColor(sheetInWindow + QPoint(348 + 40, 100)), background);
  // The border colour is set but, with no border width, never drawn.
  const QImage sheet = sheet_.window()->grab().toImage();
  EXPECT_EQ(sheet.pixelColor(0, 100), background);
  EXPECT_EQ(sheet.pixelColor(174, 286), background);

  sheet_.close();
  EXPECT_FALSE(sheet_.shadow()->isVisible());
}

TEST_F(HintSheetTest, SecondBeginLeavesTheSheetAsItIs) {
  sheet_.beginSheet(window_.get());
  sheet_.window()->move(sheet_.window()->pos() + QPoint(7, 7));
  const QPoint moved = sheet_.window()->pos();
  sheet_.beginSheet(window_.get());
  EXPECT_EQ(sheet_.window()->pos(), moved);
  EXPECT_TRUE(sheet_.isSheetVisible());
}

TEST_F(HintSheetTest, EndingTheSheetReleasesTheWindow) {
  sheet_.beginSheet(window_.get());
  sheet_.close();
  EXPECT_FALSE(sheet_.isSheetVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  sheet_.beginSheet(window_.get());  // and it can come back
  EXPECT_TRUE(sheet_.isSheetVisible());
}

TEST_F(HintSheetTest, ButtonsReachTheDelegate) {
  sheet_.beginSheet(window_.get());
  QTest::mouseClick(child<QPushButton>(sheet_.window(), "enableInputButton"), Qt::LeftButton);
  EXPECT_EQ(flow_->enableInputs, 1);
  QTest::mouseClick(child<QPushButton>(sheet_.window(), "cancelButton"), Qt::LeftButton);
  EXPECT_EQ(flow_->existInstalls, 1);
  // The receiver ends the sheet; the buttons themselves do not.
  EXPECT_TRUE(sheet_.isSheetVisible());
}

TEST_F(HintSheetTest, WithoutADelegateTheButtonsDoNothing) {
  sheet_.setDelegate(nullptr);
  sheet_.beginSheet(window_.get());
  QTest::mouseClick(child<QPushButton>(sheet_.window(), "enableInputButton"), Qt::LeftButton);
  QTest::mouseClick(child<QPushButton>(sheet_.window(), "cancelButton"), Qt::LeftButton);
  EXPECT_EQ(flow_->enableInputs + flow_->existInstalls, 0);
}

TEST_F(HintSheetTest, LaysOutItsContentFromItsConstants) {
  const quillo::InstallerExistHintView* view = sheet_.hintView();
  EXPECT_EQ(view->imageView()->geometry(), QRect(130, 30, 88, 88));
  EXPECT_TRUE(view->imageView()->hasImage());
  EXPECT_EQ(view->titleLabel()->geometry(), QRect(0, 138, 348, 19));
  EXPECT_EQ(view->titleLabel()->text(), "未启用「Chirpa输入法」");
  EXPECT_EQ(view->subTitleLabel()->geometry(), QRect(0, 165, 348, 19));
  EXPECT_EQ(view->subTitleLabel()->text(), "退出安装将无法使用");
  // Quit on the left, enable on the right, 12 apart.
  EXPECT_EQ(view->cancelBtn()->geometry(), QRect(32, 211, 136, 44));
  EXPECT_EQ(view->cancelBtn()->text(), "退出安装");
  EXPECT_EQ(view->enableInputBtn()->geometry(), QRect(180, 211, 136, 44));
  EXPECT_EQ(view->enableInputBtn()->text(), "去启用");
}

TEST_F(HintSheetTest, AppearanceChangeRecoloursTheSheet) {
  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  sheet_.beginSheet(window_.get());
  saveScreen(sheet_.window(), "sheet_light");
  saveScreen(composite(), "window_with_sheet_light");
  quillo::setCurrentAppearance(quillo::Appearance::Dark);
  const quillo::InstallerExistHintView* view = sheet_.hintView();
  EXPECT_EQ(view->titleLabel()->textColor(), quillo::assetColor("bc01", quillo::Appearance::Dark));
  EXPECT_EQ(view->cancelBtn()->backgroundColor(), quillo::assetColor("bg05", quillo::Appearance::Dark));
  EXPECT_EQ(view->cancelBtn()->titleColor(), quillo::assetColor("bc03", quillo::Appearance::Dark));
  const QImage picture = sheet_.window()->grab().toImage();
  EXPECT_EQ(picture.pixelColor(10, 10), quillo::assetColor("bg06", quillo::Appearance::Dark));
  saveScreen(sheet_.window(), "sheet_dark");
  saveScreen(composite(), "window_with_sheet_dark");
}

}  // namespace
