#pragma once
// The installer's one window. It never closes by itself: the close button
// and Ctrl+W go to the content controller (the install flow), which shows
// the hint sheet or ends the application. Main thread only.
//
//   auto window = std::make_unique<InstallerMainWindowController>(
//       std::make_unique<MyFlowController>());
//   centerWindow(window.get());
//   window->show();
#include <memory>

#include <QMainWindow>

#include "installer_view.h"

namespace quillo {

// The window levels the flow uses: floating (stays above ordinary windows)
// and normal.
inline constexpr int kFloatingWindowLevel = 3;
inline constexpr int kNormalWindowLevel = 0;

// Sets `window`'s level (above 0: stays on top). A shown window stays shown
// and where it was. Does nothing for a null window.
void setWindowLevel(QWidget* window, int level);
// The level last set, 0 for a window never set.
[[nodiscard]] int windowLevel(const QWidget* window);

// Centres `window` on its screen's available area.
void centerWindow(QWidget* window);

// What the window shows and who answers its events: the install flow's
// controller. All calls come on the main thread.
class InstallerMainWindowContent {
 public:
  virtual ~InstallerMainWindowContent() = default;
  // The content, 500 x 392; the window takes it over (reparents it) once, at
  // its creation. Its window is then view()->window(), for window levels and
  // sheets.
  [[nodiscard]] virtual QWidget* view() = 0;
  // The window was shown for the first time.
  virtual void viewDidAppear() {}
  // The window became the active one.
  virtual void windowDidBecomeKey() {}
  // The user asked to close the window (close button or Ctrl+W). The window
  // stays open whatever this returns; the content ends the application
  // itself when it wants to (see terminateApplication()).
  virtual bool windowWillClose() = 0;
};

// The content's background (named colour "bg06", following the appearance)
// with the container filling it: the view a content controller returns.
class InstallerContentView : public QWidget {
 public:
  struct UI {
    static constexpr QSize size{500, 392};
    static constexpr std::string_view backgroundColor = "bg06";
  };

  explicit InstallerContentView(QWidget* parent = nullptr);
  InstallerContentView(std::string installerName, QWidget* parent);

  [[nodiscard]] InstallerView* installerView() const { return installerView_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  InstallerView* installerView_;
  QColor background_;
};

// The window: title and close button only, fixed content size, the
// application menu. Starts at level 0.
class InstallerMainWindowController : public QMainWindow {
 public:
  explicit InstallerMainWindowController(std::unique_ptr<InstallerMainWindowContent> content);
  ~InstallerMainWindowController() override;

  [[nodiscard]] InstallerMainWindowContent* contentViewController() const { return content_.get(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Ctrl+W (without Shift) asks to close like the close button; every other
  // key is dropped here.
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  std::unique_ptr<InstallerMainWindowContent> content_;
  bool appeared_ = false;
};

}  // namespace quillo
