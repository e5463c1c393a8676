#include "assets.h"

#include <string>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPalette>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using quillo::Appearance;

std::string bundleResources() { return QUILLO_TEST_BUNDLE_DIR "/Contents/Resources"; }

bool hasOpaquePixels(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) > 0) return true;
    }
  }
  return false;
}

// Restores the application palette and the forced appearance after each test.
class AssetsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    QApplication::setPalette(saved_);
    quillo::setCurrentAppearance(std::nullopt);
  }

  static QPalette paletteWithWindow(const QColor& window) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, window);
    return palette;
  }

 private:
  QPalette saved_ = QApplication::palette();
};

TEST_F(AssetsTest, EveryImageRendersAtItsSize) {
  for (const auto name : quillo::imageNames()) {
    for (const Appearance a : {Appearance::Light, Appearance::Dark}) {
      const QPixmap pixmap = quillo::assetImage(name, QSize(40, 40), bundleResources(), a);
      ASSERT_FALSE(pixmap.isNull()) << name;
      EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(40, 40)) << name;
      EXPECT_TRUE(hasOpaquePixels(pixmap)) << name;
    }
  }
}

TEST_F(AssetsTest, LogosAreDrawnAtTheirShownSizes) {
  const auto sizeOf = [](const char* name) {
    const auto path = quillo::imagePathNamed(name, bundleResources());
    return path ? QSvgRenderer(QString::fromStdString(*path)).defaultSize() : QSize();
  };
  EXPECT_EQ(sizeOf("icon_install_logo"), QSize(116, 135));
  EXPECT_EQ(sizeOf("exist_install_logo"), QSize(88, 88));
}

TEST_F(AssetsTest, MissingOrBrokenImageGivesNothing) {
  EXPECT_TRUE(quillo::assetImage("icon_missing", QSize(16, 16), bundleResources(),
                                 Appearance::Light).isNull());
  EXPECT_TRUE(quillo::assetIcon("icon_missing", QSize(16, 16)).isNull());

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkpath("Assets"));
  QFile broken(dir.filePath("Assets/icon_install_complete.svg"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("<svg><unclosed");
  broken.close();
  EXPECT_TRUE(quillo::assetImage("icon_install_complete", QSize(16, 16), dir.path().toStdString(),
                                 Appearance::Light).isNull());
}

TEST_F(AssetsTest, ColoursResolveAgainstTheForcedAppearance) {
  quillo::setCurrentAppearance(Appearance::Dark);
  EXPECT_EQ(quillo::assetColor("bg06"), quillo::assetColor("bg06", Appearance::Dark));
  quillo::setCurrentAppearance(Appearance::Light);
  EXPECT_EQ(quillo::assetColor("bg06"), QColor(255, 255, 255));
  EXPECT_EQ(quillo::assetColor("bg04"), QColor(22, 172, 102));
  EXPECT_EQ(quillo::assetColor("bg99").alpha(), 0);
}

TEST_F(AssetsTest, AppearanceFollowsThePaletteUnlessForced) {
  QApplication::setPalette(paletteWithWindow(QColor(32, 32, 36)));
  EXPECT_EQ(quillo::currentAppearance(), Appearance::Dark);
  QApplication::setPalette(paletteWithWindow(QColor(236, 236, 236)));
  EXPECT_EQ(quillo::currentAppearance(), Appearance::Light);
  quillo::setCurrentAppearance(Appearance::Dark);
  EXPECT_EQ(quillo::currentAppearance(), Appearance::Dark);
}

TEST_F(AssetsTest, ViewsHearOfEachAppearanceChange) {
  QApplication::setPalette(paletteWithWindow(QColor(236, 236, 236)));
  auto& notifier = quillo::AppearanceNotifier::shared();
  notifier.refresh();
  QSignalSpy spy(&notifier, &quillo::AppearanceNotifier::appearanceChanged);

  QApplication::setPalette(paletteWithWindow(QColor(20, 20, 20)));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).value<Appearance>(), Appearance::Dark);

  quillo::setCurrentAppearance(Appearance::Dark);  // no change, no signal
  EXPECT_EQ(spy.count(), 1);
  quillo::setCurrentAppearance(Appearance::Light);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).value<Appearance>(), Appearance::Light);
}

}  // namespace
