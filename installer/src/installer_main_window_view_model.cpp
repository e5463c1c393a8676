#include "installer/installer_main_window_view_model.h"

#include <array>
#include <filesystem>
#include <span>
#include <cstdio>
#include <utility>
#include <vector>

#include "ext/string_path.h"
#include "installer/g.h"
#include "installer/identities.h"
#include "installer/page_content.h"
#include "installer/privileged_task.h"
#include "installer/thread_helpers.h"
#include "installer/utils.h"
#include "jot/log_line.h"
#include "platform/bundle.h"
#include "platform/folders.h"
#include "platform/notification_center.h"
#include "platform/pasteboard.h"
#include "platform/workspace.h"
#include "platform/privileged.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace quillo {
namespace pb = com::norvane::tanix::pb;
namespace {
using vela::jot::LogDebug;
using vela::jot::LogError;
using vela::jot::LogInfo;
using InstallError = InstallerMainWindowViewModel::InstallError;
using InstallState = InstallerMainWindowViewModel::InstallState;
using Reason = InstallerMainWindowViewModel::InstallErrorDownloadErrorReason;
using StateHandler = InstallerMainWindowViewModel::StateHandler;

using pb::QlAppPcInstallSource;

constexpr double kWatchDogInterval = 0.05;
constexpr long kPasteboardReloadMajorVersion = 12;

constexpr std::array<const char*, 3> kOtherVendorSourcePrefixes{
    "com.baidu.inputmethod", "com.sogou.inputmethod", "com.iflytek.inputmethod"};

// First match wins.
constexpr std::array<std::pair<const char*, QlAppPcInstallSource>, 10> kChannelSuffixes{{
    {"_b", pb::ql_pc_install_source_maczp},
    {"_c", pb::ql_pc_install_source_maczpauto},
    {"_d", pb::ql_pc_install_source_ios_ql_install_guide},
    {"_e", pb::ql_pc_install_source_and_ql_install_guide},
    {"_f", pb::ql_pc_install_source_maczp_install_guide},
    {"_g", pb::ql_pc_install_source_mac_zp_work_longtext},
    {"_h", pb::ql_pc_install_source_maczp_work_install_guide},
    {"_i", pb::ql_pc_install_source_lumo_reader_sidebar},
    {"_j", pb::ql_pc_install_source_lumo_website_topbar_revision},
    {"_k", pb::ql_pc_install_cource_mac_zp_plugin},
}};

constexpr sysinfo::OsVersion kTaskRunnerMinimumVersion{13, 0, 0};

const char* reasonName(Reason r) {
  switch (r) {
    case Reason::lowDisk:
      return "lowDisk";
    case Reason::network:
      return "network";
    case Reason::invalidPackage:
      return "invalidPackage";
  }
  return "";
}

InstallError mapDownloadError(InstallerZipDownloadError error) {
  switch (error) {
    case InstallerZipDownloadError::fetchZipDownloadURLError:
    case InstallerZipDownloadError::downloadZipError:
      return InstallError::downloadError(Reason::network);
    case InstallerZipDownloadError::noAvailableStorageError:
      return InstallError::downloadError(Reason::lowDisk);
    case InstallerZipDownloadError::validateZipError:
      return InstallError::downloadError(Reason::invalidPackage);
  }
  return InstallError::downloadError(Reason::network);
}

bool atLeast(const sysinfo::OsVersion& v, const sysinfo::OsVersion& min) {
  if (v.major != min.major) return v.major > min.major;
  if (v.minor != min.minor) return v.minor > min.minor;
  return v.patch >= min.patch;
}

void postState(const StateHandler& onStateChange, InstallState state) {
  runBlockOnMainThread([onStateChange, state] { onStateChange(state); });
}

// What the privileged side is given: the helper, the system root it
// installs under, the script and the package to copy, and the MD5 and size to
// check its copies against (verified_install.h). The root is an argument of
// the helper's own, so nothing in a path can make root run anything else.
struct PrivilegedInstall {
  std::string helperPath;
  std::string systemRoot;
  std::string shellPath;
  std::string zipPath;
  std::string md5;
  int64_t size = 0;

  [[nodiscard]] std::vector<std::string> arguments() const {
    return {"--system-root=" + systemRoot, shellPath, zipPath, md5, std::to_string(size)};
  }
  [[nodiscard]] std::vector<std::string> argv() const {
    auto all = arguments();
    all.insert(all.begin(), helperPath);
    return all;
  }
};

// `path` with no link left in it (root refuses links on the way), or as it is.
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved.string();
}

// The administrator shell, the stand-in for a script command run "with
// administrator privileges". The paths go as separate arguments: the package's
// name comes from the server, so joining it into a command line would let the
// server run commands as root.
void installViaAppleScript(const PrivilegedInstall& install, const StateHandler& onStateChange) {
  const auto argv = install.argv();
  LogInfo("Apple Script source: " + shellQuote(argv) + " with administrator privileges");
  const auto result = privileged::runWithAdministratorPrivileges(argv);
  if (result.errorNumber) {
    const bool cancelled = *result.errorNumber == InstallerMainWindowViewModel::kAppleScriptCancelled;
    postState(onStateChange, InstallState::fail(cancelled ? InstallError::installCancel()
                                                          : InstallError::installError()));
    // The helper explains itself on stdout.
    LogError("Apple Script run failed: \n{NSAppleScriptErrorNumber = " +
             std::to_string(*result.errorNumber) + "; NSAppleScriptErrorMessage = \"" +
             (result.errorMessage.empty() ? result.output : result.errorMessage) + "\"}");
    return;
  }
  LogInfo("Apple Script result: \n" + result.output);
  postState(onStateChange, InstallState::success());
}

void installViaRkPrivilegedTask(const PrivilegedInstall& install,
                                const StateHandler& onStateChange) {
  LogInfo("installViaRkPrivilegedTask: " + shellQuote(install.argv()));
  auto task = RkPrivilegedTask::create(install.helperPath, install.arguments());
  const auto status = task->launch();
  if (status == InstallerMainWindowViewModel::kAuthorizationCancelled) {
    LogInfo("RkPrivilegedTask: user cancelled authorization");
    postState(onStateChange, InstallState::fail(InstallError::installCancel()));
    return;
  }
  if (status != 0) {
    LogError("RkPrivilegedTask launch failed with OSStatus: " + std::to_string(status) +
             ", fallback to AppleScript");
    installViaAppleScript(install, onStateChange);
    return;
  }
  std::string output;
  if (auto* handle = task->outputFileHandle()) output = handle->readDataToEndOfFile();
  task->waitUntilExit();
  const int32_t exitStatus = task->terminationStatus();
  LogInfo("RkPrivilegedTask terminationStatus: " + std::to_string(exitStatus));
  if (!output.empty()) LogInfo("RkPrivilegedTask output:\n" + output);
  if (exitStatus != 0) {
    LogError("RkPrivilegedTask: install script exited with code " + std::to_string(exitStatus));
    postState(onStateChange, InstallState::fail(InstallError::installError()));
    return;
  }
  postState(onStateChange, InstallState::success());
}

// Runs on the utility queue.
void installStep(const std::string& resourcePath, const std::string& helperPath,
                 const DownloadedZip& zip, const StateHandler& onStateChange) {
  postState(onStateChange, InstallState::installBegin());
  const PrivilegedInstall install{
      .helperPath = resolvedPath(helperPath),
      .systemRoot = folders::systemRoot(),
      .shellPath = resourcePath.empty()
                       ? std::string()
                       : resolvedPath(ext::appendingPathComponent(
                             resourcePath, InstallerMainWindowViewModel::kScriptName)),
      .zipPath = resolvedPath(zip.path),
      .md5 = zip.md5,
      .size = zip.size};
  if (atLeast(sysinfo::operatingSystemVersion(), kTaskRunnerMinimumVersion) &&
      RkPrivilegedTask::authorizationFunctionAvailable()) {
    installViaRkPrivilegedTask(install, onStateChange);
  } else {
    installViaAppleScript(install, onStateChange);
  }
}

}  // namespace

std::string InstallError::description() const {
  switch (case_) {
    case Case::downloadError:
      return std::string("downloadError(") + reasonName(reason_.value_or(Reason::network)) + ")";
    case Case::installError:
      return "installError";
    case Case::installCancel:
      return "installCancel";
  }
  return "";
}

std::string InstallState::description() const {
  switch (case_) {
    case Case::downLoading: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "downLoading(%g)", fraction_);
      return buf;
    }
    case Case::fail:
      return "fail(" + (error_ ? error_->description() : std::string()) + ")";
    case Case::downLoadBegin:
      return "downLoadBegin";
    case Case::installBegin:
      return "installBegin";
    case Case::success:
      return "success";
  }
  return "";
}

InstallerMainWindowViewModel::InstallerMainWindowViewModel() : InstallerMainWindowViewModel(Options{}) {}

InstallerMainWindowViewModel::InstallerMainWindowViewModel(Options options)
    : inputSourceHandler_(options.inputSourceHandler ? std::move(options.inputSourceHandler)
                                                     : InstallerInputSourceHandler::create()),
      downloadManager_(std::move(options.downloadManager)),
      resourcePath_(std::move(options.resourcePath)),
      installHelperPath_(std::move(options.installHelperPath)),
      netManager_(std::move(options.netManager)),
      bundlePath_(options.bundlePath.value_or(G::bundlePath())),
      terminateApplication_(std::move(options.terminateApplication)) {}

void InstallerMainWindowViewModel::report(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
                                          com::norvane::tanix::pb::QlStatPcAppCommonAction action) {
  LogDebug("brenn report scene " + std::to_string(scene) + " \n action: " + std::to_string(action));
  (netManager_ ? netManager_ : InstallerNetManager::shared())->manualReport(scene, action);
}

InstallerMainWindowViewModel::~InstallerMainWindowViewModel() { invalidateWatchDogTimer(); }

void InstallerMainWindowViewModel::installZpKB(StateHandler onStateChange) {
  onStateChange(InstallState::downLoadBegin());
  auto manager = downloadManager_ ? downloadManager_ : InstallerZipDownloadManager::shared();
  const std::string resourcePath = resourcePath_.value_or(Bundle::main().resourcePath());
  const std::string helperPath =
      installHelperPath_.value_or(Bundle::main().executableFolder() + "/" + kInstallHelperName);
  // downLoadZpKB: progress passes through; results are mapped to the run's errors.
  manager->downloadZipPackage(
      [onStateChange](double fraction) { onStateChange(InstallState::downLoading(fraction)); },
      [onStateChange, resourcePath, helperPath](ZipDownloadResult result) {
        if (!result.isSuccess()) {
          onStateChange(InstallState::fail(mapDownloadError(result.error())));
          return;
        }
        const DownloadedZip zip = result.value();
        LogInfo("download ZpKB success: file://" + zip.path);
        Queue::global(Qos::Utility)->async([resourcePath, helperPath, zip, onStateChange] {
          installStep(resourcePath, helperPath, zip, onStateChange);
        });
      });
}

void InstallerMainWindowViewModel::startWatchDogTimer(Block tick) {
  invalidateWatchDogTimer();
  watchDogTimer_ = Timer::scheduled(kWatchDogInterval, /*repeats=*/true, std::move(tick));
}

void InstallerMainWindowViewModel::invalidateWatchDogTimer() {
  if (watchDogTimer_) watchDogTimer_->invalidate();
  watchDogTimer_.reset();
}

}  // namespace quillo

namespace quillo {

// ---- Services ----

pb::QlAppPcInstallSource InstallerMainWindowViewModel::installSourceForBundlePath(
    const std::string& bundlePath) {
  const std::string name = installerName(bundlePath);
  for (const auto& [suffix, source] : kChannelSuffixes) {
    if (name.ends_with(suffix)) return source;
  }
  return pb::ql_pc_install_source_website;
}

void InstallerMainWindowViewModel::setupInstallChannelReportInfo(const std::string& originSourceId) {
  const auto source = installSourceForBundlePath(bundlePath_);
  setInstallChannelReportInfo(InstallerInstallEventInfo{originSourceId, source});
  if (auto store = InstallerCaskManager::getInstallerCask()) {
    store->setString("1", InstallerCaskKeys::stepTwoOpenSettingsKey);
  }
}

void InstallerMainWindowViewModel::setInstallChannelReportInfo(
    const std::optional<InstallerInstallEventInfo>& info) {
  auto store = InstallerCaskManager::getInstallerCask();
  if (!store) return;
  if (!info) {
    store->removeValueForKey(InstallerCaskKeys::reportInstallEventKey);
    return;
  }
  const std::string json = info->toJSON();
  const std::vector<uint8_t> bytes(json.begin(), json.end());
  store->setData(std::span<const uint8_t>(bytes), InstallerCaskKeys::reportInstallEventKey);
}

void InstallerMainWindowViewModel::applyThirdSettingIfNeeded(const std::string& originInputSourceID) {
  for (const char* prefix : kOtherVendorSourcePrefixes) {
    if (!originInputSourceID.starts_with(prefix)) continue;
    if (auto store = InstallerCaskManager::getInstallerCask()) {
      store->setInt64(1, InstallerCaskKeys::useThirdSettingKey);
    }
    return;
  }
}

void InstallerMainWindowViewModel::checkAndQuitRunningProcess() {
  LogInfo("checkAndQuitRunningProcess");
  for (std::string_view id : {kFeedbackAppBundleId, kSettingsAppBundleId, kInputMethodBundleId}) {
    (void)terminateProcessWithBundleId(std::string(id));
  }
}

bool InstallerMainWindowViewModel::terminateProcessWithBundleId(const std::string& bundleId) {
  const auto apps = runningApplications(bundleId);
  if (apps.empty()) return false;
  LogInfo(bundleId + " is running, process count: " + std::to_string(apps.size()));
  for (const auto& app : apps) (void)app.terminate();
  return true;
}

void InstallerMainWindowViewModel::openQuilloSettings(const std::string& argument, Block completion) {
  if (!runningApplications(std::string(kInputMethodBundleId)).empty()) {
    if (auto store = InstallerCaskManager::getInstallerCask()) {
      store->setString("1", InstallerCaskKeys::stepTwoOpenSettingsKey);
    }
  }
  if (!runningApplications(std::string(kSettingsAppBundleId)).empty()) {
    LogInfo("QuilloSettings is running");
    DistributedNotificationCenter::defaultCenter().post(
        Notification{std::string(kSettingsChannelNotification), argument, nullptr});
    if (completion) completion();
    return;
  }
  LogInfo("do open Quillo Settings");
  openApplication(folders::systemPath(kSettingsAppLocation), {"--" + argument},
                  [completion = std::move(completion)](std::optional<std::string> error) {
                    if (error) LogError("open settings failed! error: " + *error);
                    Queue::main()->async([completion] {
                      if (completion) completion();
                    });
                  });
}

void InstallerMainWindowViewModel::reloadPasteBoard() {
  if (sysinfo::operatingSystemVersion().major < kPasteboardReloadMajorVersion) return;
  LogInfo("reloadInputMenu");
  // Every type is kept, not only the text: a copied file, image or rich text
  // is the user's as much as a copied word.
  auto board = Pasteboard::general();
  std::vector<std::pair<std::string, std::string>> kept;
  for (const auto& type : board->types()) {
    if (auto data = board->dataForType(type)) kept.emplace_back(type, std::move(*data));
  }
  // "killall -9 pboard". With no server restarted (on Linux there is none
  // but our stand-in) the pasteboard lost nothing and is left alone.
  if (restartSystemAgent(kPasteboardServer) == 0) return;
  board->clearContents();
  for (const auto& [type, data] : kept) board->setData(data, type);
}

void InstallerMainWindowViewModel::restartInputMenuAgents() {
  // "killall -9 TextInputMenuAgent", then "killall -9 TextInputSwitcher" on
  // the original platform; here only this session's stand-ins, never a host
  // process that happens to share the name.
  for (auto agent : {kTextInputMenuAgent, kTextInputSwitcher}) (void)restartSystemAgent(agent);
}

void InstallerMainWindowViewModel::terminateSelf(bool needReloadInputMenu) {
  // The agents are restarted before the application ends: posted to a
  // background queue, the restart would race the exit and could be lost.
  if (needReloadInputMenu) restartInputMenuAgents();
  if (terminateApplication_) terminateApplication_();
}

}  // namespace quillo
