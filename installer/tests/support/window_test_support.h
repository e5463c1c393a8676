#pragma once
// Shared pieces of the window tests: environment set-up, waiting, screen
// captures, and a recording stand-in for the install flow controller.
#include <string>
#include <vector>

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "assets.h"
#include "exist_hint_window.h"
#include "installer_view.h"
#include "main_window.h"
#include "platform/dispatch.h"
#include "widget_kit.h"

namespace windowtest {

using quillo::InstallerView;
using quillo::InstallerViewState;
using quillo::InstallerViewStateError;

// Pictures from the built bundle, the CJK font, light appearance, fast moves.
inline void prepareEnvironment(double delayScale = 0.01) {
  quillo::setAssetResourcePath(std::string(QUILLO_BUNDLE_DIR) + "/Contents/Resources");
  quillo::setUpApplicationFonts();
  quillo::setCurrentAppearance(quillo::Appearance::Light);
  quillo::setDelayScale(delayScale);
}

template <typename Predicate>
[[nodiscard]] bool waitFor(Predicate predicate, int timeoutMs = 10000) {
  return QTest::qWaitFor(predicate, timeoutMs);
}

// Where the screens go: build/<preset>/screens, or $QUILLO_SCREENS_DIR when
// the build tree is not the test user's to write.
inline QString screensDir() {
  const QString dir = qEnvironmentVariable("QUILLO_SCREENS_DIR");
  return dir.isEmpty() ? QString(QUILLO_SCREENS_DIR) : dir;
}

inline void saveScreen(const QPixmap& pixmap, const std::string& name) {
  QDir().mkpath(screensDir());
  const QString path = screensDir() + "/" + QString::fromStdString(name) + ".png";
  ASSERT_TRUE(pixmap.save(path)) << path.toStdString();
}

inline void saveScreen(QWidget* widget, const std::string& name) {
  saveScreen(widget->grab(), name);
}

template <typename T>
T* child(const QWidget* root, const char* name) {
  T* found = root->findChild<T*>(name);
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// Stands in for the install flow: owns the content, records every report,
// click and close request.
class RecordingFlow : public quillo::InstallerMainWindowContent,
                      public quillo::InstallerViewDelegate,
                      public quillo::InstallerExistHintWindowDelegate {
 public:
  struct WillChange {
    InstallerViewState state;
    InstallerViewState fromState;
  };
  // What the step-one page showed when "did change" arrived.
  struct DidChange {
    InstallerViewState state;
    QString buttonTitle;
    QString hint;
  };

  explicit RecordingFlow(std::string installerName = "QuilloInstaller")
      : view_(new quillo::InstallerContentView(std::move(installerName), nullptr)) {
    container()->setDelegate(this);
  }
  ~RecordingFlow() override {
    container()->setDelegate(nullptr);
    if (!view_->parent()) delete view_;
  }

  [[nodiscard]] InstallerView* container() const { return view_->installerView(); }

  QWidget* view() override { return view_; }
  void viewDidAppear() override { ++appeared; }
  void windowDidBecomeKey() override { ++becameKey; }
  bool windowWillClose() override {
    ++closeRequests;
    return false;
  }

  void installerViewWillChangeToState(InstallerView*, const InstallerViewState& state,
                                      const InstallerViewState& fromState) override {
    willChanges.push_back({state, fromState});
  }
  void installerViewDidChangeToState(InstallerView* view, const InstallerViewState& state) override {
    didChanges.push_back({state, view->stepOneView()->btnView()->text(),
                          view->stepOneView()->stateHintView()->text()});
  }
  void installerViewDidClickInstallBtn(InstallerView*, QWidget* button) override {
    installClicks.push_back(button);
  }
  void installerViewDidClickEnableBtn(InstallerView*, QWidget* button) override {
    enableClicks.push_back(button);
  }
  void installerViewDidClickRetryBtn(InstallerView*, QWidget* button) override {
    retryClicks.push_back(button);
  }

  void existInstall() override { ++existInstalls; }
  void enableInput() override { ++enableInputs; }

  // Sets `state` and waits for its "did change".
  [[nodiscard]] bool show(const InstallerViewState& state) {
    const size_t before = didChanges.size();
    container()->setViewState(state);
    return waitFor([&] { return didChanges.size() > before && didChanges.back().state == state; });
  }

  std::vector<WillChange> willChanges;
  std::vector<DidChange> didChanges;
  std::vector<QWidget*> installClicks, enableClicks, retryClicks;
  int appeared = 0, becameKey = 0, closeRequests = 0, existInstalls = 0, enableInputs = 0;

 private:
  quillo::InstallerContentView* view_;  // the window's once it has taken it over
};

}  // namespace windowtest
