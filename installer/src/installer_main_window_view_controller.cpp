#include "installer/installer_main_window_view_controller.h"

#include <filesystem>

#include "installer/g.h"
#include "installer/identities.h"
#include "installer/installer_cask_manager.h"
#include "installer/page_content.h"
#include "installer/thread_helpers.h"
#include "installer/utils.h"
#include "jot/log_line.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/input_sources.h"
#include "platform/system_info.h"

namespace quillo {
namespace pb = com::norvane::tanix::pb;
namespace {
using vela::jot::LogError;
using vela::jot::LogInfo;
using vela::jot::LogWarn;
using Kind = InstallerViewState::Kind;
using ErrorKind = InstallerViewStateError::Kind;
using ViewReason = InstallerViewStateError::ViewStateDownloadErrorReason;
using RunState = InstallerMainWindowViewModel::InstallState;
using RunError = InstallerMainWindowViewModel::InstallError;
using RunReason = InstallerMainWindowViewModel::InstallErrorDownloadErrorReason;

constexpr double kDownloadFailureDelay = 0.5;
constexpr double kActivationDelay = 1.0;
constexpr double kActivateApplicationDelay = 1.0;
constexpr double kAgentRestartDelay = 3.0;
constexpr long kConsentMajorVersion = 12;


ViewReason viewReason(RunReason reason) {
  switch (reason) {
    case RunReason::lowDisk:
      return ViewReason::lowDiskSpace;
    case RunReason::network:
      return ViewReason::networkError;
    case RunReason::invalidPackage:
      return ViewReason::validateError;
  }
  return ViewReason::networkError;
}

pb::QlStatPcAppCommonScene downloadFailureScene(ViewReason reason) {
  switch (reason) {
    case ViewReason::lowDiskSpace:
      return pb::ql_pc_app_scene_download_failed_low_disk_space;
    case ViewReason::networkError:
      return pb::ql_pc_app_scene_download_failed_network_error;
    case ViewReason::validateError:
      return pb::ql_pc_app_scene_download_failed_package_invalid;
  }
  return pb::ql_pc_app_scene_download_failed_network_error;
}

}  // namespace

std::shared_ptr<InstallerMainWindowViewController> InstallerMainWindowViewController::create(
    Options options) {
  auto controller =
      std::shared_ptr<InstallerMainWindowViewController>(new InstallerMainWindowViewController(options));
  std::weak_ptr<InstallerMainWindowViewController> weak = controller;
  options.terminateApplication = [weak] {
    auto self = weak.lock();
    if (self && self->view_) self->view_->terminateApplication();
  };
  controller->viewModel_ = std::make_unique<InstallerMainWindowViewModel>(std::move(options));
  return controller;
}

InstallerMainWindowViewController::InstallerMainWindowViewController(Options options)
    : downloadManager_(options.downloadManager ? options.downloadManager
                                               : InstallerZipDownloadManager::shared()) {}

InstallerMainWindowViewController::~InstallerMainWindowViewController() = default;

// ---- Loading and the window ----

void InstallerMainWindowViewController::viewDidLoad() {
  InstallerCaskManager::setupCask();
  handler().setDelegate(weak_from_this());
  std::error_code ec;
  isReinstall_ = std::filesystem::exists(folders::systemPath(kInstalledBundleLocation), ec);
  if (auto store = InstallerCaskManager::getInstallerCask()) {
    if (!isReinstall_) store->setBool(true, InstallerCaskKeys::showGreenPointKey);
    store->removeValueForKey(InstallerCaskKeys::stepTwoOpenSettingsKey);
  }
  if (auto current = tis::copyCurrentKeyboardInputSource()) {
    originInputSourceID_ = tis::stringProperty(*current, tis::Property::InputSourceID).value_or("");
  }
  viewModel_->applyThirdSettingIfNeeded(originInputSourceID_);
  updateVersionTextFieldAsync();
  setState(ViewState::none());
}

void InstallerMainWindowViewController::viewDidAppear() {
  report(pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_exposure);
}

void InstallerMainWindowViewController::windowDidBecomeKey() {
  LogInfo("window did become key, will update version str");
  updateVersionTextFieldAsync();
}

bool InstallerMainWindowViewController::windowWillClose() {
  if (currentState().is(Kind::requireEnabling)) {
    if (view_) view_->showExistInstallerHint();
    return false;
  }
  viewModel_->terminateSelf(needReloadInputMenu_);
  return true;
}

void InstallerMainWindowViewController::existInstall() {
  LogWarn("existInstall.");
  if (view_) view_->closeExistInstallerHint();
  viewModel_->terminateSelf(needReloadInputMenu_);
}

void InstallerMainWindowViewController::enableInput() {
  LogWarn("enableInput.");
  if (view_) view_->closeExistInstallerHint();
  (void)handler().enableInputSource();
}

void InstallerMainWindowViewController::updateVersionTextFieldAsync() {
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  downloadManager_->getVersionString([weak](std::string version) {
    Queue::main()->async([weak, version = std::move(version)] {
      auto self = weak.lock();
      if (self && self->view_) self->view_->setVersionText(version);
    });
  });
}

// ---- Helpers ----

InstallerViewState InstallerMainWindowViewController::currentState() const {
  return view_ ? view_->viewState() : ViewState::none();
}

void InstallerMainWindowViewController::setState(const ViewState& state) {
  // Reports of a run come from several threads; the window is touched on
  // the main thread only, and only while this controller lives.
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  runBlockOnMainThread([weak, state] {
    auto self = weak.lock();
    if (self && self->view_) self->view_->setViewState(state);
  });
}

void InstallerMainWindowViewController::setWindowLevel(int level) {
  if (view_) view_->setWindowLevel(level);
}

void InstallerMainWindowViewController::report(pb::QlStatPcAppCommonScene scene,
                                               pb::QlStatPcAppCommonAction action) {
  viewModel_->report(scene, action);
}

// ---- Running an install ----

void InstallerMainWindowViewController::install() {
  installErrorFromStepTwo_ = false;
  setState(ViewState::none());
  needSelectInputMode_ = handler().isCurrentInputMode();
  if (needSelectInputMode_) handler().changeToSystemInputMode();
  updateVersionTextFieldAsync();
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  viewModel_->installZpKB([weak](RunState state) {
    if (auto self = weak.lock()) self->onInstallState(state);
  });
}

void InstallerMainWindowViewController::onInstallState(const RunState& state) {
  switch (state.kind()) {
    case RunState::Case::downLoadBegin:
      setState(ViewState::downloading(0.0));
      return;
    case RunState::Case::downLoading:
      setState(ViewState::downloading(state.fraction()));
      return;
    case RunState::Case::installBegin:
      setState(ViewState::installing());
      return;
    case RunState::Case::success:
      setState(ViewState::activiting());
      return;
    case RunState::Case::fail:
      break;
  }
  const RunError error = state.error().value_or(RunError::installError());
  switch (error.kind()) {
    case RunError::Case::downloadError: {
      const RunReason reason = error.reason().value_or(RunReason::network);
      std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
      Queue::main()->asyncAfter(kDownloadFailureDelay, [weak, reason] {
        if (auto self = weak.lock()) self->downloadFailed(reason);
      });
      return;
    }
    case RunError::Case::installError:
      installFailed();
      return;
    case RunError::Case::installCancel:
      installCanceled();
      return;
  }
}

void InstallerMainWindowViewController::downloadFailed(RunReason reason) {
  LogWarn("downloadFailed.");
  setState(ViewState::fail(InstallerViewStateError::downloadError(viewReason(reason))));
}

void InstallerMainWindowViewController::installFailed() {
  LogWarn("installFailed.");
  setState(ViewState::fail(InstallerViewStateError::installError()));
}

void InstallerMainWindowViewController::installCanceled() {
  LogWarn("installCanceled.");
  setState(ViewState::fail(InstallerViewStateError::authError()));
}

// ---- Reactions ----

void InstallerMainWindowViewController::installerViewWillChangeToState(const ViewState& state,
                                                                       const ViewState& fromState) {
  if (!(state.is(Kind::downloading) && fromState.is(Kind::downloading))) {
    LogInfo("installer view will change state: " + describe(fromState) + " -> " + describe(state));
  }
  if (state.is(Kind::complete) || state.is(Kind::fail) || state.is(Kind::requireEnabling)) {
    viewModel_->invalidateWatchDogTimer();
  }
}

void InstallerMainWindowViewController::installerViewDidChangeToState(const ViewState& state) {
  if (!state.is(Kind::downloading)) LogInfo("installer view did change to state: " + describe(state));
  viewDidChangeToState(state);
}

void InstallerMainWindowViewController::startWatchDogTimer() {
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  viewModel_->startWatchDogTimer([weak] {
    auto self = weak.lock();
    if (self && self->view_) self->view_->autoIncreaseProgress();
  });
}

void InstallerMainWindowViewController::viewDidChangeToState(const ViewState& state) {
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  switch (state.kind()) {
    case Kind::none:
    case Kind::downloading:
      return;
    case Kind::installing:
      startWatchDogTimer();
      return;
    case Kind::activiting:
      Queue::main()->asyncAfter(kActivationDelay, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->needReloadInputMenu_ = true;
        self->activateInputSource();
      });
      return;
    case Kind::complete:
      viewModel_->checkAndQuitRunningProcess();
      report(pb::ql_pc_app_scene_intro_installed_switched, pb::ql_pc_app_action_exposure);
      viewModel_->setupInstallChannelReportInfo(originInputSourceID_);
      if (needSelectInputMode_ && !handler().isCurrentInputMode()) handler().enableAndSelectInputMode(false);
      Queue::main()->asyncAfter(kAgentRestartDelay, [weak] {
        auto self = weak.lock();
        if (!self) return;
        InstallerMainWindowViewModel::restartInputMenuAgents();
        self->needReloadInputMenu_ = false;
      });
      setWindowLevel(InstallerMainWindowView::kFloatingLevel);
      return;
    case Kind::fail: {
      viewModel_->invalidateWatchDogTimer();
      const InstallerViewStateError error = state.error();
      switch (error.kind()) {
        case ErrorKind::authError:
          return;
        case ErrorKind::downloadError:
          setWindowLevel(InstallerMainWindowView::kFloatingLevel);
          report(downloadFailureScene(error.downloadReason()), pb::ql_pc_app_action_exposure);
          return;
        case ErrorKind::selectInputModeError:
          setWindowLevel(InstallerMainWindowView::kFloatingLevel);
          report(pb::ql_pc_app_scene_intro_installed_unswitched, pb::ql_pc_app_action_exposure);
          viewModel_->setupInstallChannelReportInfo(originInputSourceID_);
          return;
        case ErrorKind::installError:
          setWindowLevel(InstallerMainWindowView::kFloatingLevel);
          report(pb::ql_pc_app_scene_intro_install_failed, pb::ql_pc_app_action_exposure);
          return;
      }
      return;
    }
    case Kind::requireEnabling:
      if (!handler().enableInputSource()) installFailed();
      setWindowLevel(InstallerMainWindowView::kNormalLevel);
      return;
  }
}

void InstallerMainWindowViewController::activateInputSource() {
  LogWarn("activeInputSource.");
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  runBlockOnMainThread([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->viewModel_->reloadPasteBoard();
    auto& handler = self->handler();
    if (sysinfo::operatingSystemVersion().major >= kConsentMajorVersion) {
      if (handler.isInputSourceEnabled()) {
        self->setState(ViewState::complete(self->isReinstall_));
      } else if (!handler.registerInputSource()) {
        self->installFailed();
      } else {
        self->setState(ViewState::requireEnabling());
      }
      return;
    }
    handler.setDontSelectInputMode(handler.isInputSourceEnabled());
    if (!handler.hasRunDisable()) {
      LogWarn("disableInputSource");
      handler.setHasRunDisable(true);
      handler.disableAll();
    }
    // Success arrives through enableInputSourceFinished().
    if (!handler.registerInputSource() || !handler.enableInputSource()) self->installFailed();
  });
}

void InstallerMainWindowViewController::enableInputSourceFinished(bool selectModeFailed) {
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  runBlockOnMainThread([weak, selectModeFailed] {
    auto self = weak.lock();
    if (!self) return;
    // Enabling the mode changes the enabled set once more, so the handler
    // reports again after the flow has moved on (with selectModeFailed, as
    // the mode is selected by then). Only a flow that waits takes the report.
    // A step-two click that could not start enabling leaves the system's
    // consent prompt up; the user's later approval still completes the run.
    const ViewState state = self->currentState();
    const bool waiting = state.is(Kind::activiting) || state.is(Kind::requireEnabling) ||
                         state.isFail(ErrorKind::selectInputModeError) ||
                         (state.isFail(ErrorKind::installError) && self->installErrorFromStepTwo_);
    if (!waiting) {
      LogWarn("enable input source finished in state " + describe(state) + ", ignored");
      return;
    }
    auto& handler = self->handler();
    if (self->needSelectInputMode_ && !handler.isCurrentInputMode()) {
      handler.enableAndSelectInputMode(false);
    }
    self->setState(selectModeFailed
                       ? ViewState::fail(InstallerViewStateError::selectInputModeError(self->isReinstall_))
                       : ViewState::complete(self->isReinstall_));
    Queue::main()->asyncAfter(kActivateApplicationDelay, [weak] {
      auto app = weak.lock();
      if (app && app->view_) app->view_->activateApplication();
    });
  });
}

// ---- Buttons ----

void InstallerMainWindowViewController::installerViewDidClickInstallBtn() {
  LogInfo("installer view did click install btn");
  const ViewState state = currentState();
  switch (state.kind()) {
    case Kind::complete:
      openSettingsAndTerminate();
      return;
    case Kind::fail:
      if (!state.isFail(ErrorKind::selectInputModeError)) install();
      return;
    case Kind::none:
      install();
      report(currentState().is(Kind::fail) ? pb::ql_pc_app_scene_intro_install_failed
                                           : pb::ql_pc_app_scene_intro_install,
             pb::ql_pc_app_action_click_install);
      return;
    default:
      LogError("view state error, install btn should not be clikced here: " + describe(state));
      return;
  }
}

void InstallerMainWindowViewController::openSettingsAndTerminate() {
  if (view_) view_->orderOut();
  const std::string name = installerName(viewModel_->bundlePath());
  const bool deviceSync = !isReinstall_ && (name.ends_with("_d") || name.ends_with("_e"));
  const QuilloSettingsArgument argument =
      deviceSync ? QuilloSettingsArgument::showDeviceSync : QuilloSettingsArgument::showSettings;
  if (argument == QuilloSettingsArgument::showSettings) {
    report(pb::ql_pc_app_scene_intro_installed_switched, pb::ql_pc_app_action_click_personalised_keyboard);
  }
  LogInfo(std::string("[stepTwo] open Quillo Settings: ") + (deviceSync ? "showDeviceSync" : "showSettings"));
  std::weak_ptr<InstallerMainWindowViewController> weak = weak_from_this();
  viewModel_->openQuilloSettings(std::string(rawValue(argument)), [weak] {
    if (auto self = weak.lock()) self->viewModel_->terminateSelf(self->needReloadInputMenu_);
  });
}

void InstallerMainWindowViewController::installerViewDidClickEnableBtn() {
  const bool ok = handler().enableInputSource();
  LogInfo(std::string("[stepTwo] will enable input: ") + (ok ? "true" : "false"));
  if (!ok) {
    LogInfo("[stepTwo] do enable now");
    installErrorFromStepTwo_ = true;
    setState(ViewState::fail(InstallerViewStateError::installError()));
  }
}

void InstallerMainWindowViewController::installerViewDidClickRetryBtn() {
  LogInfo("installer view did click retry btn");
  install();
}

}  // namespace quillo
