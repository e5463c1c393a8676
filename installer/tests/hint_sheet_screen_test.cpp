// The hint sheet on a real X server without a compositing manager (a bare
// Xvfb), read back from the screen as a user would see it: the sheet as it
// draws itself, hanging in its parent with its shadow around it.
#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

#include "exist_hint_window.h"
#include "main_window.h"
#include "support/window_test_support.h"

namespace {

using namespace windowtest;

// The screen's pixels in `area` (global coordinates).
QImage onScreen(const QRect& area) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

int differingPixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return a.width() * a.height();
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
  }
  return count;
}

TEST(HintSheetOnScreen, ShowsWhatItDrawsWithoutACompositor) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  prepareEnvironment();
  auto content = std::make_unique<RecordingFlow>();
  RecordingFlow* flow = content.get();
  quillo::InstallerMainWindowController window(std::move(content));
  window.menuBar()->addMenu("QuilloInstaller");
  quillo::centerWindow(&window);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(flow->show(InstallerViewState::requireEnabling()));

  // Made when first needed, as the flow makes it.
  quillo::InstallerExistHintWindowController sheet;
  sheet.beginSheet(&window);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.window()));
  EXPECT_FALSE(sheet.window()->windowHandle()->format().hasAlpha())
      << "an opaque window looks the same with or without a compositor";
  const QRect area(sheet.window()->pos(), sheet.window()->size());
  const QImage drawn = sheet.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QColor background = quillo::assetColor("bg06");
  const QPoint besideSheet(area.right() + 1, area.center().y());
  QImage shown;
  QColor beside;
  EXPECT_TRUE(waitFor([&] {
    shown = onScreen(area);
    beside = onScreen(QRect(besideSheet, QSize(1, 1))).pixelColor(0, 0);
    return differingPixels(shown, drawn) == 0 && beside.lightness() < background.lightness();
  })) << differingPixels(shown, drawn) << " of " << area.width() * area.height()
      << " pixels differ; beside the sheet " << beside.name().toStdString();
  saveScreen(QPixmap::fromImage(onScreen(window.frameGeometry())), "screen_window_with_sheet");

  // Its background and buttons, and a shadow that darkens the parent beside it.
  EXPECT_EQ(shown.pixelColor(10, 100), background);
  const QRect enable = sheet.hintView()->enableInputBtn()->geometry();
  EXPECT_EQ(shown.pixelColor(enable.left() + 8, enable.center().y()), quillo::assetColor("bg04"));
  EXPECT_GT(beside.lightness(), 128) << "a shadow, not a black band";
}

}  // namespace
