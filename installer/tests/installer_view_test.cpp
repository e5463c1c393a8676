// The container and its pages, driven the way the flow drives them: through
// the container's view state, with a recording delegate in the flow's place.
#include "installer_view.h"

#include <thread>

#include "support/window_test_support.h"

namespace {

using namespace windowtest;
using Reason = InstallerViewStateError::ViewStateDownloadErrorReason;

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prepareEnvironment();
    makeWindow("QuilloInstaller");
  }
  void TearDown() override {
    window_.reset();
    quillo::setCurrentAppearance(quillo::Appearance::Light);
  }

  void makeWindow(std::string installerName) {
    window_.reset();
    auto flow = std::make_unique<RecordingFlow>(std::move(installerName));
    flow_ = flow.get();
    window_ = std::make_unique<quillo::InstallerMainWindowController>(std::move(flow));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    // The container's own first state (none) reports once the window is up.
    ASSERT_TRUE(waitFor([&] { return !flow_->didChanges.empty(); }));
    flow_->didChanges.clear();
    flow_->willChanges.clear();
  }

  // Saves the window in light and dark.
  void capture(const std::string& name) {
    saveScreen(window_.get(), "window_" + name);
    quillo::setCurrentAppearance(quillo::Appearance::Dark);
    saveScreen(window_.get(), "window_" + name + "_dark");
    quillo::setCurrentAppearance(quillo::Appearance::Light);
  }

  InstallerView* container() const { return flow_->container(); }
  quillo::InstallerStepOneView* stepOne() const { return container()->stepOneView(); }
  quillo::InstallerStepTwoView* stepTwo() const { return container()->stepTwoView(); }
  QString barText() const {
    return stepOne()->progressView()->progressView()->fgView()->textField()->text();
  }
  int barWidth() const { return stepOne()->progressView()->progressView()->fgView()->width(); }

  std::unique_ptr<quillo::InstallerMainWindowController> window_;
  RecordingFlow* flow_ = nullptr;
};

TEST_F(ContainerTest, FreshContainerShowsStepOneInNone) {
  EXPECT_TRUE(stepOne()->isVisible());
  EXPECT_FALSE(stepTwo()->isVisible());
  EXPECT_EQ(stepOne()->viewState(), quillo::InstallerStepOneViewState::none());
  EXPECT_EQ(stepTwo()->viewState(), quillo::InstallerStepTwoViewState::requireEnabling());
  EXPECT_EQ(stepOne()->btnView()->text(), "安装");
}

struct StepOneRow {
  const char* name;
  InstallerViewState state;
  // logo, version label, button, hint, progress box, retry box, finish tip
  bool shown[7];
  const char* buttonTitle;
  bool buttonIcon;
  const char* hint;
  const char* barText;
  int barWidth;
};

TEST_F(ContainerTest, StepOneRowsShowTheirSubviewsTextsAndBar) {
  const char* kHint = "适用于 macOS X 10.15 或更高版本";
  const StepOneRow rows[] = {
      {"none", InstallerViewState::none(), {1, 1, 1, 1, 0, 0, 0}, "安装", false, kHint,
       "正在安装 0%", 0},
      {"downloading", InstallerViewState::downloading(0.5), {1, 1, 0, 0, 1, 0, 0}, "安装", false,
       kHint, "正在安装 25%", 60},
      {"installing", InstallerViewState::installing(), {1, 1, 0, 0, 1, 0, 0}, "安装", false, kHint,
       "正在安装 40%", 96},
      {"activiting", InstallerViewState::activiting(), {1, 1, 0, 0, 1, 0, 0}, "安装", false, kHint,
       "正在安装 80%", 192},
      {"complete_first", InstallerViewState::complete(false), {1, 0, 1, 0, 0, 0, 1},
       "前往设置我的输入法", false, kHint, "正在安装 100%", 240},
      {"complete_reinstall", InstallerViewState::complete(true), {1, 1, 1, 0, 0, 0, 0},
       "前往设置我的输入法", true, kHint, "正在安装 100%", 240},
      {"fail_low_disk",
       InstallerViewState::fail(InstallerViewStateError::downloadError(Reason::lowDiskSpace)),
       {1, 1, 1, 0, 0, 0, 0}, "磁盘空间不足 · 请重试", false, kHint, "正在安装 0%", 0},
      {"fail_network",
       InstallerViewState::fail(InstallerViewStateError::downloadError(Reason::networkError)),
       {1, 1, 1, 0, 0, 0, 0}, "网络异常 · 请稍后重试", false, kHint, "正在安装 0%", 0},
      {"fail_validate",
       InstallerViewState::fail(InstallerViewStateError::downloadError(Reason::validateError)),
       {1, 1, 1, 0, 0, 0, 0}, "文件校验失败 · 请重试", false, kHint, "正在安装 0%", 0},
      // The password prompt leaves the title of the state before it.
      {"fail_auth", InstallerViewState::fail(InstallerViewStateError::authError()),
       {1, 1, 0, 0, 0, 1, 0}, "文件校验失败 · 请重试", false, kHint, "正在安装 0%", 0},
      {"fail_install", InstallerViewState::fail(InstallerViewStateError::installError()),
       {1, 1, 1, 1, 0, 0, 0}, "未安装成功 · 请重试", false, "多次重试仍未成功，请重新下载安装包",
       "正在安装 0%", 0},
  };
  for (const StepOneRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(flow_->show(row.state));
    EXPECT_TRUE(stepOne()->isVisible());
    EXPECT_FALSE(stepTwo()->isVisible());
    const bool shown[7] = {
        stepOne()->logoView()->isVisible(),          stepOne()->logoView()->versionLabel()->isVisible(),
        stepOne()->btnView()->isVisible(),           stepOne()->stateHintView()->isVisible(),
        stepOne()->progressView()->isVisible(),      stepOne()->retryView()->isVisible(),
        stepOne()->finishTipView()->isVisible()};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(shown[i], row.shown[i]) << "subview " << i;
    EXPECT_EQ(stepOne()->btnView()->text(), row.buttonTitle);
    EXPECT_EQ(stepOne()->btnView()->hasImage(), row.buttonIcon);
    EXPECT_EQ(stepOne()->stateHintView()->text(), row.hint);
    EXPECT_EQ(barText(), row.barText);
    EXPECT_EQ(barWidth(), row.barWidth);
    // The report came after the page had taken on the state's texts.
    EXPECT_EQ(flow_->didChanges.back().buttonTitle, row.buttonTitle);
    EXPECT_EQ(flow_->didChanges.back().hint, row.hint);
    capture(row.name);
  }
}

TEST_F(ContainerTest, StepTwoShowsEnableContentInRequireEnabling) {
  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  EXPECT_FALSE(stepOne()->isVisible());
  EXPECT_TRUE(stepTwo()->isVisible());
  EXPECT_EQ(stepTwo()->titleTextView()->text(), "启用输入法");
  EXPECT_EQ(stepTwo()->imageView()->imageName(), "icon_enable_input");
  EXPECT_TRUE(stepTwo()->imageView()->hasImage());
  EXPECT_EQ(stepTwo()->stateHintTextView()->text(),
            "为了正常使用，请将「Chirpa输入法」添加到输入法列表");
  EXPECT_EQ(stepTwo()->btnView()->text(), "去启用");
  EXPECT_FALSE(stepTwo()->btnView()->hasImage());
  capture("require_enabling");
}

TEST_F(ContainerTest, StepTwoShowsSwitchContentAfterAFailedSelection) {
  ASSERT_TRUE(flow_->show(
      InstallerViewState::fail(InstallerViewStateError::selectInputModeError(true))));
  EXPECT_TRUE(stepTwo()->isVisible());
  EXPECT_EQ(stepTwo()->titleTextView()->text(), "切换输入法");
  EXPECT_EQ(stepTwo()->imageView()->imageName(), "icon_switch_input");
  EXPECT_EQ(stepTwo()->stateHintTextView()->text(), "可以在右上角导航栏切换成「Chirpa输入法」");
  EXPECT_EQ(stepTwo()->btnView()->text(), "安装完成");
  EXPECT_TRUE(stepTwo()->btnView()->hasImage());
  capture("fail_select_reinstall");

  ASSERT_TRUE(flow_->show(
      InstallerViewState::fail(InstallerViewStateError::selectInputModeError(false))));
  EXPECT_EQ(stepTwo()->btnView()->text(), "个性化定制输入法");
  capture("fail_select_first");

  // Back to requireEnabling drops the finish icon.
  ASSERT_TRUE(flow_->show(
      InstallerViewState::fail(InstallerViewStateError::selectInputModeError(true))));
  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  EXPECT_FALSE(stepTwo()->btnView()->hasImage());
}

TEST_F(ContainerTest, CrossDeviceInstallerOffersPasteAfterAFailedSelection) {
  makeWindow("QuilloInstaller_e");
  ASSERT_TRUE(flow_->show(
      InstallerViewState::fail(InstallerViewStateError::selectInputModeError(false))));
  EXPECT_EQ(stepTwo()->btnView()->text(), "开始体验跨设备粘贴");
  EXPECT_FALSE(stepTwo()->btnView()->hasImage());
  capture("fail_select_cross_device");
}

TEST_F(ContainerTest, OtherFailuresReachStepTwoButLeaveItAsItWas) {
  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  ASSERT_TRUE(flow_->show(InstallerViewState::fail(InstallerViewStateError::installError())));
  EXPECT_TRUE(stepOne()->isVisible());
  EXPECT_FALSE(stepTwo()->isVisible());
  EXPECT_EQ(stepTwo()->viewState(),
            quillo::InstallerStepTwoViewState::fail(InstallerViewStateError::installError()));
  EXPECT_EQ(stepTwo()->titleTextView()->text(), "启用输入法");
  EXPECT_EQ(stepTwo()->btnView()->text(), "去启用");
}

TEST_F(ContainerTest, EachSetReportsWillChangeTwiceAndDidChangeOnce) {
  ASSERT_TRUE(flow_->show(InstallerViewState::installing()));
  ASSERT_TRUE(flow_->show(InstallerViewState::activiting()));
  ASSERT_TRUE(flow_->show(InstallerViewState::activiting()));  // the same state again
  ASSERT_EQ(flow_->didChanges.size(), 3u);
  EXPECT_EQ(flow_->didChanges[0].state, InstallerViewState::installing());
  EXPECT_EQ(flow_->didChanges[1].state, InstallerViewState::activiting());
  EXPECT_EQ(flow_->didChanges[2].state, InstallerViewState::activiting());
  ASSERT_EQ(flow_->willChanges.size(), 6u);
  EXPECT_EQ(flow_->willChanges[0].state, InstallerViewState::installing());
  EXPECT_EQ(flow_->willChanges[0].fromState, InstallerViewState::none());
  EXPECT_EQ(flow_->willChanges[1].state, InstallerViewState::installing());
  EXPECT_EQ(flow_->willChanges[1].fromState, InstallerViewState::none());
  EXPECT_EQ(flow_->willChanges[2].fromState, InstallerViewState::installing());
}

TEST_F(ContainerTest, ReplacedStateGetsNoReactionOfItsOwn) {
  quillo::setDelayScale(1.0);  // a move long enough to be cut short
  container()->setViewState(InstallerViewState::downloading(1.0));
  ASSERT_TRUE(stepOne()->progressView()->progressView()->isAnimating());
  ASSERT_TRUE(flow_->show(InstallerViewState::installing()));
  quillo::setDelayScale(0.01);
  ASSERT_TRUE(flow_->show(InstallerViewState::fail(InstallerViewStateError::installError())));
  ASSERT_EQ(flow_->didChanges.size(), 2u);
  EXPECT_EQ(flow_->didChanges[0].state, InstallerViewState::installing());
  EXPECT_EQ(flow_->didChanges[1].state,
            InstallerViewState::fail(InstallerViewStateError::installError()));
}

TEST_F(ContainerTest, DownloadProgressAnimatesForwardAndReportsOncePerSettledState) {
  ASSERT_TRUE(flow_->show(InstallerViewState::downloading(0.2)));
  EXPECT_EQ(barText(), "正在安装 16%");
  ASSERT_TRUE(flow_->show(InstallerViewState::downloading(0.5)));
  EXPECT_EQ(barText(), "正在安装 25%");
  EXPECT_EQ(barWidth(), 60);
  EXPECT_EQ(flow_->didChanges.size(), 2u);
}

TEST_F(ContainerTest, SetFromAnotherThreadAppliesWhenTheLoopRuns) {
  std::thread worker([&] { container()->setViewState(InstallerViewState::installing()); });
  worker.join();
  EXPECT_EQ(container()->viewState(), InstallerViewState::installing());
  // Nothing on screen has changed before the main thread runs its queue.
  EXPECT_EQ(stepOne()->viewState(), quillo::InstallerStepOneViewState::none());
  EXPECT_TRUE(stepOne()->btnView()->isVisible());
  ASSERT_TRUE(waitFor([&] { return !flow_->didChanges.empty(); }));
  EXPECT_EQ(flow_->didChanges.back().state, InstallerViewState::installing());
  EXPECT_TRUE(stepOne()->progressView()->isVisible());
  ASSERT_TRUE(flow_->show(InstallerViewState::activiting()));
  EXPECT_EQ(flow_->didChanges.size(), 2u);
}

TEST_F(ContainerTest, BurstOfSetsFromAnotherThreadReportsOnlyTheLast) {
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) container()->setViewState(InstallerViewState::downloading(i / 20.0));
    container()->setViewState(InstallerViewState::installing());
  });
  worker.join();
  ASSERT_TRUE(waitFor([&] { return !flow_->didChanges.empty(); }));
  ASSERT_TRUE(flow_->show(InstallerViewState::activiting()));
  ASSERT_EQ(flow_->didChanges.size(), 2u);
  EXPECT_EQ(flow_->didChanges[0].state, InstallerViewState::installing());
}

TEST_F(ContainerTest, TicksCreepInsideTheBandWithoutReports) {
  ASSERT_TRUE(flow_->show(InstallerViewState::installing()));
  for (int i = 0; i < 3; ++i) stepOne()->autoIncreaseProgress();
  EXPECT_EQ(barText(), "正在安装 43%");
  for (int i = 0; i < 100; ++i) stepOne()->autoIncreaseProgress();
  EXPECT_EQ(barText(), "正在安装 80%");
  ASSERT_TRUE(flow_->show(InstallerViewState::fail(InstallerViewStateError::authError())));
  stepOne()->autoIncreaseProgress();
  EXPECT_EQ(stepOne()->currentProgress(), 0);
  EXPECT_EQ(flow_->didChanges.size(), 2u);
}

TEST_F(ContainerTest, WithoutADelegateThePagesStillFollowTheState) {
  container()->setDelegate(nullptr);
  container()->setViewState(InstallerViewState::requireEnabling());
  EXPECT_TRUE(stepTwo()->isVisible());
  EXPECT_FALSE(stepOne()->isVisible());
  EXPECT_EQ(stepOne()->viewState(), quillo::InstallerStepOneViewState::requireEnabling());
  container()->setDelegate(flow_);
}

TEST_F(ContainerTest, ButtonsReachTheDelegate) {
  QTest::mouseClick(child<QPushButton>(window_.get(), "installButton"), Qt::LeftButton);
  ASSERT_EQ(flow_->installClicks.size(), 1u);
  EXPECT_EQ(flow_->installClicks[0], stepOne()->btnView());

  ASSERT_TRUE(flow_->show(InstallerViewState::fail(InstallerViewStateError::authError())));
  QTest::mouseClick(child<QPushButton>(window_.get(), "retryButton"), Qt::LeftButton);
  EXPECT_EQ(flow_->retryClicks.size(), 1u);

  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  QTest::mouseClick(child<QPushButton>(window_.get(), "enableButton"), Qt::LeftButton);
  ASSERT_EQ(flow_->enableClicks.size(), 1u);
  EXPECT_EQ(flow_->enableClicks[0], stepTwo()->btnView());
}

TEST_F(ContainerTest, PagesLayTheirChildrenOutFromTheirConstants) {
  EXPECT_EQ(container()->geometry(), QRect(0, 0, 500, 392));
  EXPECT_EQ(stepOne()->logoView()->geometry().topLeft(), QPoint(192, 54));
  EXPECT_EQ(stepOne()->btnView()->geometry(), QRect(130, 260, 240, 44));
  EXPECT_EQ(stepOne()->progressView()->geometry(), QRect(130, 260, 240, 44));
  EXPECT_EQ(stepOne()->retryView()->geometry(), QRect(130, 260, 240, 44));
  EXPECT_EQ(stepOne()->stateHintView()->geometry(), QRect(0, 316, 500, 17));
  EXPECT_EQ(stepOne()->finishTipView()->geometry(), QRect(210, 194, 80, 18));

  EXPECT_EQ(stepTwo()->titleTextView()->geometry(), QRect(0, 30, 500, 28));
  EXPECT_EQ(stepTwo()->stateHintTextView()->geometry(), QRect(0, 65, 500, 17));
  EXPECT_EQ(stepTwo()->imageView()->geometry(), QRect(90, 102, 320, 191));
  EXPECT_EQ(stepTwo()->btnView()->geometry(), QRect(130, 317, 240, 44));
}

TEST_F(ContainerTest, SmallWidgetsKeepTheirSizes) {
  const quillo::InstallerLogoView* logo = stepOne()->logoView();
  EXPECT_EQ(logo->logoImage()->geometry(), QRect(0, 0, 116, 135));
  // Bottom 2 below the 158-pixel logo view, 4 in from each side.
  EXPECT_EQ(logo->versionLabel()->geometry(), QRect(4, 144, 108, 16));
  const quillo::InstallerRetryView* retry = stepOne()->retryView();
  EXPECT_EQ(retry->retryBtn()->geometry(), QRect(180, 8, 52, 28));
  EXPECT_EQ(retry->retryBtn()->text(), "重试");
  const quillo::InstallerFinishTipView* tip = stepOne()->finishTipView();
  EXPECT_EQ(tip->iconView()->geometry(), QRect(0, 2, 14, 14));
  EXPECT_EQ(tip->textField()->geometry().left(), 20);
  EXPECT_EQ(tip->textField()->text(), "安装完成");
}

TEST_F(ContainerTest, LongVersionTextStaysInItsLine) {
  stepOne()->logoView()->versionLabel()->setText("版本 1.2.3(45) 测试版本 很长很长很长很长");
  EXPECT_EQ(stepOne()->logoView()->versionLabel()->height(), 16);
  capture("long_version");
}

TEST_F(ContainerTest, AppearanceChangeReappliesNamedColours) {
  ASSERT_TRUE(flow_->show(InstallerViewState::requireEnabling()));
  quillo::setCurrentAppearance(quillo::Appearance::Dark);
  EXPECT_EQ(stepTwo()->titleTextView()->textColor(),
            quillo::assetColor("bc03", quillo::Appearance::Dark));
  EXPECT_EQ(stepTwo()->stateHintTextView()->textColor(),
            quillo::assetColor("bc09", quillo::Appearance::Dark));
  quillo::setCurrentAppearance(quillo::Appearance::Light);
  EXPECT_EQ(stepTwo()->titleTextView()->textColor(),
            quillo::assetColor("bc03", quillo::Appearance::Light));
}

TEST(SmallWidgetTest, LogoWithoutItsPictureKeepsItsSize) {
  prepareEnvironment();
  quillo::setAssetResourcePath("/nonexistent-quillo-resources");
  quillo::InstallerLogoView logo;
  EXPECT_FALSE(logo.logoImage()->hasImage());
  EXPECT_EQ(logo.sizeHint(), QSize(116, 158));
  EXPECT_EQ(logo.versionLabel()->geometry(), QRect(4, 144, 108, 16));
  prepareEnvironment();
}

TEST(SmallWidgetTest, VerticallyCenteredLabelOpensItsFieldEditorOnTheCentredText) {
  prepareEnvironment();
  quillo::RvVerticallyCenteredLabel label;
  label.setFont(quillo::uiFont(14));
  label.setText("重试");
  const QRectF frame(0, 0, 240, 44);
  const QFontMetricsF metrics(label.font());
  const QRectF centred = quillo::RvVerticallyCenteredLabel::drawingRectForBounds(
      frame, {metrics.horizontalAdvance("重试"), metrics.height()}, false);
  ASSERT_GT(centred.y(), 0);
  label.selectWithFrame(frame, 0, 2);
  EXPECT_EQ(label.fieldEditorFrame(), centred) << "centred once, not twice";
  label.editWithFrame(QRectF(10, 0, 240, 44));
  EXPECT_EQ(label.fieldEditorFrame(), centred.translated(10, 0));
}

TEST(SmallWidgetTest, MediumTextsRenderWithAMediumFace) {
  prepareEnvironment();
  const QFont medium = quillo::uiFont(20, QFont::Medium);
  const QFontInfo info(medium);
  EXPECT_EQ(info.family(), quillo::kCjkFontFamily);
  EXPECT_EQ(info.styleName(), "Medium");
  EXPECT_EQ(QFontInfo(quillo::uiFont(20)).styleName(), "Regular");
}

TEST(SmallWidgetTest, VerticallyCenteredLabelNeverMovesTextOutOfItsBounds) {
  using quillo::RvVerticallyCenteredLabel;
  const QRectF bounds(0, 0, 240, 44);
  EXPECT_EQ(RvVerticallyCenteredLabel::drawingRectForBounds(bounds, {100, 20}, false),
            QRectF(0, 12, 240, 20));
  EXPECT_EQ(RvVerticallyCenteredLabel::drawingRectForBounds(bounds, {100, 20}, true),
            QRectF(70, 12, 100, 20));
  // Taller or wider text than the bounds keeps the bounds.
  EXPECT_EQ(RvVerticallyCenteredLabel::drawingRectForBounds(bounds, {400, 60}, true), bounds);
}

}  // namespace
