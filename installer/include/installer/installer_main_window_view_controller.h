#pragma once
// InstallerMainWindowViewController: the install flow. It starts a run when
// the user clicks install, turns the run's reports into the container's view
// states, and reacts to each state once the step-one page has finished
// showing it: the fake-progress timer, activating the input source, quitting
// stale processes, window levels, reports, both pages' buttons, closing and
// the hint sheet. The run itself is the view model's.
//
// Plain C++: it talks to the window only through InstallerMainWindowView,
// which the Qt layer implements (installer/ui/installer_main_window_content.h)
// and tests fake.
//
//   auto flow = InstallerMainWindowViewController::create(options);
//   flow->setView(&window);   // window outlives flow, or setView(nullptr) first
//   flow->viewDidLoad();
//   // relay: installerViewDidChangeToState(...), installerViewDidClickInstallBtn(), ...
//
// Every public call comes on the main thread. Delayed steps, timers and
// completions hold the controller weakly and do nothing once it is gone.
#include <memory>
#include <string>

#include "installer/input_source_handler.h"
#include "installer/installer_main_window_view_model.h"
#include "installer/view_state.h"
#include "schema/QlStatPcAppCommonAction.pb.h"
#include "schema/QlStatPcAppCommonScene.pb.h"

namespace quillo {

// The window as the flow sees it. Main thread only.
class InstallerMainWindowView {
 public:
  static constexpr int kFloatingLevel = 3;
  static constexpr int kNormalLevel = 0;

  virtual ~InstallerMainWindowView() = default;
  // The container's state. Setting it reports will-change and, once the
  // step-one page has shown it, did-change back to the flow.
  [[nodiscard]] virtual InstallerViewState viewState() const = 0;
  virtual void setViewState(const InstallerViewState& state) = 0;
  virtual void setWindowLevel(int level) = 0;
  // The step-one logo's version line.
  virtual void setVersionText(const std::string& text) = 0;
  // One tick of the fake install progress.
  virtual void autoIncreaseProgress() = 0;
  // The not-enabled hint sheet: created on first use, then shown on the
  // window (a sheet already up stays); and ended.
  virtual void showExistInstallerHint() = 0;
  virtual void closeExistInstallerHint() = 0;
  // Hides the window.
  virtual void orderOut() = 0;
  // Brings the application to the front.
  virtual void activateApplication() = 0;
  // Ends the application.
  virtual void terminateApplication() = 0;
};

class InstallerMainWindowViewController
    : public InstallerInputSourceHandlerDelegate,
      public std::enable_shared_from_this<InstallerMainWindowViewController> {
 public:
  using Options = InstallerMainWindowViewModel::Options;
  using ViewState = InstallerViewState;

  // The installed bundle whose presence makes a run a reinstall.
  static constexpr std::string_view kInstalledBundleLocation = "/Library/Input Methods/Quillo.app";

  // `options.terminateApplication` is replaced by the view's termination.
  [[nodiscard]] static std::shared_ptr<InstallerMainWindowViewController> create(Options options = {});
  ~InstallerMainWindowViewController() override;
  InstallerMainWindowViewController(const InstallerMainWindowViewController&) = delete;
  InstallerMainWindowViewController& operator=(const InstallerMainWindowViewController&) = delete;

  // Borrowed; null detaches (every later view call is skipped).
  void setView(InstallerMainWindowView* view) { view_ = view; }

  // The store, the reinstall check, the origin input source, the initial
  // `none`, the version line. Call once, after setView().
  void viewDidLoad();
  // The window was shown: report (1, 1).
  void viewDidAppear();
  void windowDidBecomeKey();
  // The close button: in requireEnabling the hint sheet (false), else the
  // application ends (true). The window never closes by itself.
  bool windowWillClose();

  // The container's reports and clicks.
  void installerViewWillChangeToState(const ViewState& state, const ViewState& fromState);
  void installerViewDidChangeToState(const ViewState& state);
  void installerViewDidClickInstallBtn();
  void installerViewDidClickEnableBtn();
  void installerViewDidClickRetryBtn();

  // The hint sheet's buttons: quit, and try to enable.
  void existInstall();
  void enableInput();

  // The input-source handler's end of an enable-and-select run (any thread).
  void enableInputSourceFinished(bool selectModeFailed) override;

  [[nodiscard]] InstallerMainWindowViewModel& viewModel() { return *viewModel_; }
  [[nodiscard]] bool isReinstall() const { return isReinstall_; }
  [[nodiscard]] const std::string& originInputSourceID() const { return originInputSourceID_; }
  [[nodiscard]] bool needSelectInputMode() const { return needSelectInputMode_; }
  [[nodiscard]] bool needReloadInputMenu() const { return needReloadInputMenu_; }

 private:
  explicit InstallerMainWindowViewController(Options options);

  [[nodiscard]] InstallerInputSourceHandler& handler() { return *viewModel_->inputSourceHandler(); }
  [[nodiscard]] ViewState currentState() const;
  void setState(const ViewState& state);
  void setWindowLevel(int level);
  void report(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
              com::norvane::tanix::pb::QlStatPcAppCommonAction action);
  void updateVersionTextFieldAsync();

  void install();
  void onInstallState(const InstallerMainWindowViewModel::InstallState& state);
  void downloadFailed(InstallerMainWindowViewModel::InstallErrorDownloadErrorReason reason);
  void installFailed();
  void installCanceled();
  void viewDidChangeToState(const ViewState& state);
  void activateInputSource();
  void startWatchDogTimer();
  void openSettingsAndTerminate();

  std::unique_ptr<InstallerMainWindowViewModel> viewModel_;
  std::shared_ptr<InstallerZipDownloadManager> downloadManager_;
  InstallerMainWindowView* view_ = nullptr;
  bool isReinstall_ = false;
  std::string originInputSourceID_;
  bool needSelectInputMode_ = false;
  bool needReloadInputMenu_ = false;
  // fail(installError) came from the step-two button; cleared by a new run.
  bool installErrorFromStepTwo_ = false;
};

}  // namespace quillo
