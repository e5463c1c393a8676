#pragma once
// InstallerMainWindowViewModel: carries out install runs for the flow
// controller. A run has the package downloaded and verified, then runs the
// installer bundle's "install.sh" as root with the package's path, and
// reports each step through one callback:
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
#include "installer/installer_net_manager.h"
#include "installer/installer_zip_download_manager.h"
#include "platform/dispatch.h"

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
    // Where reports go. Null: InstallerNetManager::shared().
    std::shared_ptr<InstallerNetManager> netManager;
  };

  static constexpr const char* kScriptName = "install.sh";
  static constexpr const char* kShellPath = "/bin/sh";
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

  // Starts a run. `onStateChange` must accept calls from several threads; the
  // run keeps no state here and may outlive this object.
  void installZpKB(StateHandler onStateChange);

  // Sends one usage event (scene, action); returns at once.
  void report(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
              com::norvane::tanix::pb::QlStatPcAppCommonAction action);

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
  std::shared_ptr<InstallerNetManager> netManager_;
};

}  // namespace quillo
