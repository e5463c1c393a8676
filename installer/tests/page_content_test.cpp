#include "installer/page_content.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "installer/view_state.h"

namespace {

using quillo::InstallerStepOneViewState;
using quillo::InstallerStepTwoViewState;
using quillo::InstallerViewState;
using quillo::InstallerViewStateError;
using Reason = InstallerViewStateError::ViewStateDownloadErrorReason;
using StepOne = InstallerStepOneViewState;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ViewStateTest, EqualityComparesCaseAndPayload) {
  EXPECT_EQ(InstallerViewState::downloading(0.5), InstallerViewState::downloading(0.5));
  EXPECT_NE(InstallerViewState::downloading(0.5), InstallerViewState::downloading(0.25));
  EXPECT_NE(InstallerViewState::complete(true), InstallerViewState::complete(false));
  EXPECT_NE(InstallerViewState::fail(InstallerViewStateError::authError()),
            InstallerViewState::fail(InstallerViewStateError::installError()));
  EXPECT_EQ(InstallerViewState(), InstallerViewState::none());
  EXPECT_EQ(InstallerStepTwoViewState(), InstallerStepTwoViewState::requireEnabling());
}

TEST(ViewStateTest, PrintedFormsNameCaseAndPayload) {
  EXPECT_EQ(describe(InstallerViewState::downloading(0.25)), "downloading(0.25)");
  EXPECT_EQ(describe(InstallerViewState::complete(true)), "complete(true)");
  EXPECT_EQ(describe(InstallerViewState::fail(InstallerViewStateError::downloadError(
                Reason::validateError))),
            "fail(downloadError(validateError))");
  EXPECT_EQ(describe(InstallerViewState::fail(InstallerViewStateError::selectInputModeError(false))),
            "fail(selectInputModeError(false))");
  EXPECT_EQ(describe(InstallerViewState::activiting()), "activiting");
  EXPECT_EQ(describe(InstallerStepTwoViewState::fail(InstallerViewStateError::authError())),
            "fail(authError)");
}

TEST(ContainerMappingTest, PagesGetTheirShareOfTheState) {
  const auto selectFailed =
      InstallerViewState::fail(InstallerViewStateError::selectInputModeError(true));
  const auto installFailed = InstallerViewState::fail(InstallerViewStateError::installError());
  EXPECT_TRUE(quillo::showsStepTwo(InstallerViewState::requireEnabling()));
  EXPECT_TRUE(quillo::showsStepTwo(selectFailed));
  EXPECT_FALSE(quillo::showsStepTwo(installFailed));
  EXPECT_FALSE(quillo::showsStepTwo(InstallerViewState::complete(false)));

  EXPECT_EQ(quillo::stepOneState(InstallerViewState::downloading(0.3)), StepOne::downloading(0.3));
  EXPECT_EQ(quillo::stepOneState(InstallerViewState::complete(true)), StepOne::complete(true));
  EXPECT_EQ(quillo::stepOneState(selectFailed),
            StepOne::fail(InstallerViewStateError::selectInputModeError(true)));
  EXPECT_EQ(quillo::stepTwoState(installFailed),
            InstallerStepTwoViewState::fail(InstallerViewStateError::installError()));
  EXPECT_EQ(quillo::stepTwoState(InstallerViewState::installing()),
            InstallerStepTwoViewState::requireEnabling());
}

TEST(ProgressRangeTest, EachStateHasItsBand) {
  struct Row {
    StepOne state;
    double lower, upper;
  };
  const Row rows[] = {
      {StepOne::downloading(0.0), 10, 40},
      {StepOne::downloading(0.5), 25, 40},
      {StepOne::downloading(1.0), 40, 40},
      {StepOne::complete(false), 100, 100},
      {StepOne::fail(InstallerViewStateError::authError()), 0, 0},
      {StepOne::none(), 0, 10},
      {StepOne::installing(), 40, 80},
      {StepOne::activiting(), 80, 100},
      {StepOne::requireEnabling(), 100, 100},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(quillo::progressRange(row.state), (quillo::ProgressRange{row.lower, row.upper}))
        << describe(row.state);
  }
}

TEST(ProgressRangeTest, OutOfRangeDownloadFractionStaysInsideTheBand) {
  EXPECT_EQ(quillo::progressRange(StepOne::downloading(kNaN)).lower, 10);
  EXPECT_EQ(quillo::progressRange(StepOne::downloading(-3)).lower, 10);
  EXPECT_EQ(quillo::progressRange(StepOne::downloading(7)).lower, 40);
}

TEST(ProgressRangeTest, TicksCreepUpToTheBandsUpperBound) {
  double p = 40;
  for (int i = 0; i < 100; ++i) p = quillo::autoIncreasedProgress(StepOne::installing(), p);
  EXPECT_EQ(p, 80);
  EXPECT_EQ(quillo::autoIncreasedProgress(StepOne::installing(), 40), 41);
  EXPECT_EQ(quillo::autoIncreasedProgress(StepOne::none(), 10), 10);
  EXPECT_EQ(quillo::autoIncreasedProgress(StepOne::fail(InstallerViewStateError::installError()), 37), 0);
  EXPECT_EQ(quillo::autoIncreasedProgress(StepOne::complete(true), 100), 100);
}

TEST(ProgressTextTest, ShowsWholePercentsAndSurvivesBadNumbers) {
  EXPECT_EQ(quillo::progressText("正在安装", 37.8), "正在安装 37%");
  EXPECT_EQ(quillo::progressText("正在安装", 0), "正在安装 0%");
  EXPECT_EQ(quillo::progressText("正在安装", 100), "正在安装 100%");
  EXPECT_EQ(quillo::progressText("正在安装", -12), "正在安装 0%");
  EXPECT_EQ(quillo::progressText("正在安装", kNaN), "正在安装 0%");
  EXPECT_EQ(quillo::progressText("正在安装", 1e30), "正在安装 100%");
}

TEST(ProgressAnimationTest, DurationIsProportionalToTheGrowth) {
  EXPECT_DOUBLE_EQ(quillo::progressAnimationDuration(240, 0, 240, true), 1.5);
  EXPECT_DOUBLE_EQ(quillo::progressAnimationDuration(120, 0, 240, true), 0.75);
  EXPECT_DOUBLE_EQ(quillo::progressAnimationDuration(0.5, 0, 0.5, true), 1.5);  // narrower than 1
  EXPECT_EQ(quillo::progressAnimationDuration(120, 0, 240, false), 0);
  EXPECT_EQ(quillo::progressAnimationDuration(60, 120, 240, true), 0);  // shrinking jumps
}

TEST(ProgressAnimationTest, DegenerateBarsDoNotAnimate) {
  EXPECT_EQ(quillo::progressAnimationDuration(120, 0, 0, true), 0);
  EXPECT_EQ(quillo::progressAnimationDuration(120, 0, -5, true), 0);
  EXPECT_EQ(quillo::progressAnimationDuration(kNaN, 0, 240, true), 0);
  EXPECT_EQ(quillo::progressAnimationDuration(120, kNaN, 240, true), 0);
  EXPECT_EQ(quillo::progressAnimationDuration(120, 0, kNaN, true), 0);
  EXPECT_DOUBLE_EQ(quillo::progressAnimationDuration(1e9, 0, 240, true), 1.5);
}

TEST(StepOneContentTest, VisibilityFollowsTheStateTable) {
  using V = quillo::StepOneVisibility;
  // logo, version, button, hint, progress, retry, finish tip
  const V working{true, true, false, false, true, false, false};
  const V idle{true, true, true, true, false, false, false};
  const V failedQuietly{true, true, true, false, false, false, false};
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::downloading(0.2)), working);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::installing()), working);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::activiting()), working);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::requireEnabling()), working);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::none()), idle);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::fail(InstallerViewStateError::installError())), idle);
  EXPECT_EQ(quillo::stepOneVisibility(
                StepOne::fail(InstallerViewStateError::downloadError(Reason::networkError))),
            failedQuietly);
  EXPECT_EQ(quillo::stepOneVisibility(
                StepOne::fail(InstallerViewStateError::selectInputModeError(false))),
            failedQuietly);
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::fail(InstallerViewStateError::authError())),
            (V{true, true, false, false, false, true, false}));
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::complete(false)),
            (V{true, false, true, false, false, false, true}));
  EXPECT_EQ(quillo::stepOneVisibility(StepOne::complete(true)),
            (V{true, true, true, false, false, false, false}));
}

TEST(StepOneContentTest, ButtonTitlesFollowTheStateTable) {
  using B = quillo::ButtonContent;
  EXPECT_EQ(quillo::stepOneButton(StepOne::none()), (B{"安装", false}));
  EXPECT_EQ(quillo::stepOneButton(StepOne::complete(false)), (B{"前往设置我的输入法", false}));
  EXPECT_EQ(quillo::stepOneButton(StepOne::complete(true)), (B{"前往设置我的输入法", true}));
  EXPECT_EQ(quillo::stepOneButton(
                StepOne::fail(InstallerViewStateError::downloadError(Reason::lowDiskSpace))),
            (B{"磁盘空间不足 · 请重试", false}));
  EXPECT_EQ(quillo::stepOneButton(
                StepOne::fail(InstallerViewStateError::downloadError(Reason::networkError))),
            (B{"网络异常 · 请稍后重试", false}));
  EXPECT_EQ(quillo::stepOneButton(
                StepOne::fail(InstallerViewStateError::downloadError(Reason::validateError))),
            (B{"文件校验失败 · 请重试", false}));
  EXPECT_EQ(quillo::stepOneButton(StepOne::fail(InstallerViewStateError::installError())),
            (B{"未安装成功 · 请重试", false}));
  for (const StepOne unchanged :
       {StepOne::fail(InstallerViewStateError::authError()),
        StepOne::fail(InstallerViewStateError::selectInputModeError(true)), StepOne::installing(),
        StepOne::downloading(0.1), StepOne::activiting(), StepOne::requireEnabling()}) {
    EXPECT_FALSE(quillo::stepOneButton(unchanged).has_value()) << describe(unchanged);
  }
  EXPECT_EQ(quillo::stepOneHint(StepOne::fail(InstallerViewStateError::installError())),
            "多次重试仍未成功，请重新下载安装包");
  EXPECT_EQ(quillo::stepOneHint(StepOne::none()), "适用于 macOS X 10.15 或更高版本");
}

TEST(StepTwoContentTest, ContentFollowsStateAndInstallerName) {
  const auto select = [](bool reinstall) {
    return InstallerStepTwoViewState::fail(InstallerViewStateError::selectInputModeError(reinstall));
  };
  const auto enable = quillo::stepTwoContent(InstallerStepTwoViewState::requireEnabling(), "Q");
  ASSERT_TRUE(enable);
  EXPECT_EQ(enable->title, "启用输入法");
  EXPECT_EQ(enable->image, "icon_enable_input");
  EXPECT_EQ(enable->hint, "为了正常使用，请将「Chirpa输入法」添加到输入法列表");
  EXPECT_EQ(enable->button, (quillo::ButtonContent{"去启用", false}));

  const auto reinstall = quillo::stepTwoContent(select(true), "QuilloInstaller_e");
  ASSERT_TRUE(reinstall);
  EXPECT_EQ(reinstall->title, "切换输入法");
  EXPECT_EQ(reinstall->image, "icon_switch_input");
  EXPECT_EQ(reinstall->hint, "可以在右上角导航栏切换成「Chirpa输入法」");
  EXPECT_EQ(reinstall->button, (quillo::ButtonContent{"安装完成", true}));

  EXPECT_EQ(quillo::stepTwoContent(select(false), "QuilloInstaller_e")->button.title,
            "开始体验跨设备粘贴");
  EXPECT_EQ(quillo::stepTwoContent(select(false), "QuilloInstaller_d")->button.title,
            "开始体验跨设备粘贴");
  EXPECT_EQ(quillo::stepTwoContent(select(false), "_d")->button.title, "开始体验跨设备粘贴");
  EXPECT_EQ(quillo::stepTwoContent(select(false), "QuilloInstaller_D")->button.title,
            "个性化定制输入法");
  EXPECT_EQ(quillo::stepTwoContent(select(false), "QuilloInstaller")->button.title,
            "个性化定制输入法");
  EXPECT_FALSE(quillo::stepTwoContent(
      InstallerStepTwoViewState::fail(InstallerViewStateError::installError()), "Q"));
}

TEST(StepTwoContentTest, InstallerNameIsTheBundleNameWithoutExtension) {
  EXPECT_EQ(quillo::installerName("/Applications/QuilloInstaller_d.app"), "QuilloInstaller_d");
  EXPECT_EQ(quillo::installerName("/Applications/QuilloInstaller_e.app/"), "QuilloInstaller_e");
  EXPECT_EQ(quillo::installerName("/opt/build/bin"), "bin");
}

}  // namespace
