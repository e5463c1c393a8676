#include "progress_views.h"

#include <limits>

#include "support/window_test_support.h"

namespace {

using namespace windowtest;

class ProgressBarTest : public ::testing::Test {
 protected:
  void SetUp() override { prepareEnvironment(); }

  quillo::InstallerProgressView box_;
  quillo::InstallProgressView* bar_ = box_.progressView();
};

TEST_F(ProgressBarTest, StartsEmptyWithGreenTextOnThePaleAccent) {
  EXPECT_EQ(bar_->fgView()->width(), 0);
  EXPECT_EQ(bar_->bgView()->geometry(), QRect(0, 0, 240, 44));
  EXPECT_EQ(bar_->bgView()->textField()->text(), "正在安装 0%");
  EXPECT_EQ(bar_->bgView()->textField()->textColor(), QColor(22, 172, 102));
  EXPECT_EQ(bar_->fgView()->textField()->textColor(), QColor(Qt::white));
  QColor pale = quillo::assetColor("bg04");
  pale.setAlphaF(0.2f);
  EXPECT_EQ(bar_->bgView()->backgroundColor().rgba(), pale.rgba());
}

TEST_F(ProgressBarTest, MoveWithoutAnimationStillCompletesOnALaterTurn) {
  int completions = 0;
  bar_->show(37.8, "正在安装", false, [&] { ++completions; });
  EXPECT_EQ(bar_->fgView()->width(), 91);  // 37.8% of 240, at once
  EXPECT_EQ(bar_->fgView()->textField()->text(), "正在安装 37%");
  EXPECT_EQ(completions, 0);
  ASSERT_TRUE(waitFor([&] { return completions == 1; }));
}

TEST_F(ProgressBarTest, AnimatedMoveEndsAtItsTargetThenCompletes) {
  int completions = 0;
  bar_->show(50, "正在安装", true, [&] {
    ++completions;
    EXPECT_EQ(bar_->fgView()->width(), 120);
  });
  EXPECT_TRUE(bar_->isAnimating());
  ASSERT_TRUE(waitFor([&] { return completions == 1; }));
  bar_->show(100, "正在安装", false);
  EXPECT_EQ(bar_->fgView()->width(), 240);
}

TEST_F(ProgressBarTest, InterruptedMoveDeliversItsCompletionOnceBeforeTheNext) {
  quillo::setDelayScale(1.0);
  std::vector<int> order;
  bar_->show(100, "正在安装", true, [&] { order.push_back(1); });
  ASSERT_TRUE(bar_->isAnimating());
  bar_->show(20, "正在安装", false, [&] { order.push_back(2); });
  EXPECT_FALSE(bar_->isAnimating());
  bar_->show(30, "正在安装", false, [&] { order.push_back(3); });
  ASSERT_TRUE(waitFor([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(bar_->fgView()->width(), 72);
}

TEST_F(ProgressBarTest, BadNumbersShowZeroOrFullWithoutCrashing) {
  int completions = 0;
  bar_->show(std::numeric_limits<double>::quiet_NaN(), "正在安装", true, [&] { ++completions; });
  EXPECT_EQ(bar_->fgView()->textField()->text(), "正在安装 0%");
  EXPECT_EQ(bar_->fgView()->width(), 0);
  bar_->show(-40, "正在安装", true, [&] { ++completions; });
  EXPECT_EQ(bar_->fgView()->textField()->text(), "正在安装 0%");
  bar_->show(250, "正在安装", false, [&] { ++completions; });
  EXPECT_EQ(bar_->fgView()->textField()->text(), "正在安装 100%");
  EXPECT_EQ(bar_->fgView()->width(), 240);
  ASSERT_TRUE(waitFor([&] { return completions == 3; }));
}

TEST_F(ProgressBarTest, ZeroWidthBarCompletesWithoutAnimating) {
  quillo::InstallProgressView bare;
  bare.resize(0, 44);
  bool done = false;
  bare.show(60, "正在安装", true, [&] { done = true; });
  EXPECT_FALSE(bare.isAnimating());
  ASSERT_TRUE(waitFor([&] { return done; }));
}

TEST_F(ProgressBarTest, DestroyedBarDropsItsCompletion) {
  bool ran = false;
  {
    quillo::InstallerProgressView box;
    box.progressView()->show(10, "正在安装", false, [&] { ran = true; });
  }
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_FALSE(ran);
}

TEST_F(ProgressBarTest, CaptureHalfwayBar) {
  box_.progressView()->show(50, "正在安装", false);
  saveScreen(&box_, "progress_50");
  box_.progressView()->show(100, "正在安装", false);
  saveScreen(&box_, "progress_100");
}

}  // namespace
