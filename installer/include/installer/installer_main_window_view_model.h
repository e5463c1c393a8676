#pragma once
// InstallerMainWindowViewModel: carries out install runs for the flow
// controller and offers the services around a run (reports, the install
// channel and other store records, quitting and opening the companion
// applications, the pasteboard reload, termination). A run has the package downloaded and verified,
// then runs the installer bundle's "install.sh" as root with the package's path, and reports each
// step through one callback. Root does not run the script from the bundle: the install helper
// copies script and package into a folder of its own and checks the MD5 there (verified_install.h).
//
// Reports:
//
//   viewModel.installZpKB([](InstallerMainWindowViewModel::InstallState s) { ... });
//   // downLoadBegin, downLoading(p)..., then fail(downloadError(r)), or
//   // installBegin and one of success, fail(installError), fail(installCancel)
//
// The script runs through the privileged task runner (platform version 13 and
// later, when it is available) or through the administrator shell; a launch
// failure of the runner other than a cancel falls back to the shell. Arguments
// travel as an argv; nothing is joined into a command line.
//
// Threads: downLoadBegin on the caller's (main) thread; downLoading and
// download failures on the download's callback threads; installBegin and the
// final states on the main thread. The script runs on the utility queue.
// Call installZpKB() on the main thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "installer/input_source_handler.h"
#include "installer/installer_cask_manager.h"
#include "installer/installer_net_manager.h"
#include "installer/installer_zip_download_manager.h"
#include "platform/dispatch.h"
#include "schema/QlAppPcInstallSource.pb.h"

namespace quillo {

class InstallerMainWindowViewModel {
 public:
  enum class InstallErrorDownloadErrorReason { lowDisk, network, invalidPackage };

  class InstallError {
   public:
    enum class Case { downloadError, installError, installCancel };
    [[nodiscard]] static InstallError downloadError(InstallErrorDownloadErrorReason reason) {
      return InstallError(Case::downloadError, reason);
    }
    [[nodiscard]] static InstallError installError() { return InstallError(Case::installError, {}); }
    [[nodiscard]] static InstallError installCancel() { return InstallError(Case::installCancel, {}); }

    [[nodiscard]] Case kind() const { return case_; }
    // Set only for downloadError.
    [[nodiscard]] std::optional<InstallErrorDownloadErrorReason> reason() const { return reason_; }
    // "downloadError(network)", "installError", "installCancel".
    [[nodiscard]] std::string description() const;
    friend bool operator==(const InstallError&, const InstallError&) = default;

   private:
    InstallError(Case c, std::optional<InstallErrorDownloadErrorReason> r) : case_(c), reason_(r) {}
    Case case_;
    std::optional<InstallErrorDownloadErrorReason> reason_;
  };

  class InstallState {
   public:
    enum class Case { downLoading, fail, downLoadBegin, installBegin, success };
    [[nodiscard]] static InstallState downLoading(double fraction) {
      return InstallState(Case::downLoading, fraction, std::nullopt);
    }
    [[nodiscard]] static InstallState fail(InstallError error) {
      return InstallState(Case::fail, 0, error);
    }
    [[nodiscard]] static InstallState downLoadBegin() { return InstallState(Case::downLoadBegin, 0, {}); }
    [[nodiscard]] static InstallState installBegin() { return InstallState(Case::installBegin, 0, {}); }
    [[nodiscard]] static InstallState success() { return InstallState(Case::success, 0, {}); }

    [[nodiscard]] Case kind() const { return case_; }
    // The downloaded fraction, for downLoading.
    [[nodiscard]] double fraction() const { return fraction_; }
    // Set only for fail.
    [[nodiscard]] const std::optional<InstallError>& error() const { return error_; }
    // "downLoading(0.25)", "fail(downloadError(lowDisk))", "success", ...
    [[nodiscard]] std::string description() const;
    friend bool operator==(const InstallState&, const InstallState&) = default;

   private:
    InstallState(Case c, double f, std::optional<InstallError> e) : case_(c), fraction_(f), error_(e) {}
    Case case_;
    double fraction_;
    std::optional<InstallError> error_;
  };

  using StateHandler = std::function<void(InstallState)>;

  struct Options {
    // Null: a new handler.
    std::shared_ptr<InstallerInputSourceHandler> inputSourceHandler;
    // Null: InstallerZipDownloadManager::shared().
    std::shared_ptr<InstallerZipDownloadManager> downloadManager;
    // The folder holding "install.sh". Nothing: the main bundle's resource path.
    std::optional<std::string> resourcePath;
    // The program run as root (kInstallHelperName). Nothing: the main bundle's
    // executable folder.
    std::optional<std::string> installHelperPath;
    // Where reports go. Null: InstallerNetManager::shared().
    std::shared_ptr<InstallerNetManager> netManager;
    // The installer bundle; its name carries the install channel. Nothing: G::bundlePath().
    std::optional<std::string> bundlePath;
    // Ends the application (the window layer's termination). Null: nothing ends.
    Block terminateApplication;
  };

  static constexpr const char* kScriptName = "install.sh";
  static constexpr const char* kShellPath = "/bin/sh";
  static constexpr const char* kInstallHelperName = "quillo-install-helper";
  static constexpr int kAppleScriptCancelled = -128;
  static constexpr int kAuthorizationCancelled = -60006;

  InstallerMainWindowViewModel();
  explicit InstallerMainWindowViewModel(Options options);
  // Invalidates the watchdog timer.
  ~InstallerMainWindowViewModel();
  InstallerMainWindowViewModel(const InstallerMainWindowViewModel&) = delete;
  InstallerMainWindowViewModel& operator=(const InstallerMainWindowViewModel&) = delete;

  [[nodiscard]] const std::shared_ptr<InstallerInputSourceHandler>& inputSourceHandler() const {
    return inputSourceHandler_;
  }
  // The installer bundle whose name carries the install channel.
  [[nodiscard]] const std::string& bundlePath() const { return bundlePath_; }

  // Starts a run. `onStateChange` must accept calls from several threads; the
  // run keeps no state here and may outlive this object.
  void installZpKB(StateHandler onStateChange);

  // Sends one usage event (scene, action); returns at once.
  void report(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
              com::norvane::tanix::pb::QlStatPcAppCommonAction action);

  // --- Services around a run. Main thread only. ---

  // The install channel of an installer bundle: its file name without the
  // extension, by suffix ("_b" 1, "_c" 4, ... "_k" 34), else 3 (website).
  [[nodiscard]] static com::norvane::tanix::pb::QlAppPcInstallSource installSourceForBundlePath(
      const std::string& bundlePath);
  // Stores the install-event record (origin source, this bundle's channel),
  // then "StepTwo_openSettings" = "1".
  void setupInstallChannelReportInfo(const std::string& originSourceId);
  // Stores the record as JSON; nothing (or a record that does not encode) removes it.
  void setInstallChannelReportInfo(const std::optional<InstallerInstallEventInfo>& info);
  // "use_third_setting" = 1 when the id belongs to one of the other vendors.
  void applyThirdSettingIfNeeded(const std::string& originInputSourceID);
  // Asks the feedback application, the settings application and the input
  // method, in that order, to quit (no waiting).
  void checkAndQuitRunningProcess();
  // Whether any application with the id ran; each was asked to quit.
  bool terminateProcessWithBundleId(const std::string& bundleId);
  // Hands `argument` ("ShowSettings", "ShowDeviceSync") to a running settings
  // application by the distributed notification, completion at once; else
  // launches it with "--" + argument, completion on the main queue once the
  // launch has been tried (a failure is only logged).
  void openQuilloSettings(const std::string& argument, Block completion);
  // From platform version 12: restarts the pasteboard server. The pasteboard
  // keeps all it held: untouched when no server was restarted, else put back
  // in every type.
  void reloadPasteBoard();
  // Restarts this session's input-menu agents (platform/workspace.h).
  static void restartInputMenuAgents();
  // Restarts the input-menu agents when asked, then ends the application.
  void terminateSelf(bool needReloadInputMenu);

  // Replaces the fake-progress timer with a repeating 0.05 s one on the main loop.
  void startWatchDogTimer(Block tick);
  // Stops and drops the fake-progress timer (none running is fine).
  void invalidateWatchDogTimer();
  [[nodiscard]] bool hasWatchDogTimer() const { return watchDogTimer_ != nullptr; }

 private:
  std::shared_ptr<InstallerInputSourceHandler> inputSourceHandler_;
  std::unique_ptr<Timer> watchDogTimer_;
  std::shared_ptr<InstallerZipDownloadManager> downloadManager_;
  std::optional<std::string> resourcePath_;
  std::optional<std::string> installHelperPath_;
  std::shared_ptr<InstallerNetManager> netManager_;
  std::string bundlePath_;
  Block terminateApplication_;
};

}  // namespace quillo
