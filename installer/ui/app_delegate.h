#pragma once
// The application's start and end: the menu, the main window around the
// content controller, and termination. Main thread only.
#include <functional>
#include <memory>

#include "main_window.h"

namespace quillo {

// Ends the application now: leaves the event loop, which emits aboutToQuit.
// (QCoreApplication::quit() would first ask every window to close, and the
// main window always refuses.)
void terminateApplication();

// Stands in for the install flow until one is plugged in: shows the
// container in state `none` and ends the application on close.
class InstallerIdleContent : public InstallerMainWindowContent {
 public:
  InstallerIdleContent();
  [[nodiscard]] QWidget* view() override { return view_; }
  bool windowWillClose() override;

 private:
  InstallerContentView* view_;  // owned by the window once it has taken it over
};

class AppDelegate {
 public:
  using ContentFactory = std::function<std::unique_ptr<InstallerMainWindowContent>()>;

  // `makeContent` builds the window's content controller at launch.
  explicit AppDelegate(ContentFactory makeContent);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Fonts, the menu, the window (centred, shown, made active). Needs a
  // QApplication.
  void applicationDidFinishLaunching();
  // Flushes the log; the last thing the installer does.
  void applicationWillTerminate();
  // The window's state may be restored only from trusted (encoded) data.
  [[nodiscard]] bool applicationSupportsSecureRestorableState() const { return true; }

  [[nodiscard]] InstallerMainWindowController* windowController() const {
    return windowController_.get();
  }

 private:
  // "About QuilloInstaller", a separator, "Quit QuilloInstaller" (Ctrl+Q).
  void setupMainMenu();
  void showAboutPanel();

  ContentFactory makeContent_;
  std::unique_ptr<InstallerMainWindowController> windowController_;
};

}  // namespace quillo
