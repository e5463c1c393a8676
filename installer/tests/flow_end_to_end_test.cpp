// The installer end to end: the real window (offscreen) with the install
// flow, clicked like a user, against the loopback distribution server, with
// install.sh run as root under a private system root, the input method
// approved from another process by the input-source tool, and the log read
// back with jotdump.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <QPushButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app_delegate.h"
#include "installer/installer_cask_manager.h"
#include "installer_main_window_content.h"
#include "platform/privileged.h"
#include "platform/process.h"
#include "platform/workspace.h"
#include "support/flow_test_support.h"
#include "support/window_test_support.h"

namespace {
namespace fs = std::filesystem;
using flowtest::FlowWorld;
using flowtest::Report;
using ::testing::Contains;
using ::testing::UnorderedElementsAreArray;
using quillo::InstallerViewState;
using quillo::InstallerViewStateError;
using windowtest::child;
using windowtest::waitFor;

constexpr const char* kOtherVendorSource = "com.sogou.inputmethod.sogou";

class FlowEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windowtest::prepareEnvironment(0.01);
  }
  void TearDown() override {
    for (const auto& app : quillo::runningApplications("com.norvane.QuilloSettings")) app.terminate();
    if (delegate_) delegate_->applicationWillTerminate();
    delegate_.reset();
    quillo::setDelayScale(1.0);
  }

  void launch(const std::string& bundleName) {
    auto options = world_.options(bundleName);
    delegate_ = std::make_unique<quillo::AppDelegate>([this, options] {
      return std::make_unique<quillo::InstallerFlowContent>(options, [this] { ++terminated_; });
    });
    delegate_->applicationDidFinishLaunching();
    // The first report travels on its own; the user clicks after it.
    ASSERT_TRUE(waitFor([&] { return world_.reportCount() >= 1; }, 20000));
  }
  QWidget* window() const { return delegate_->windowController(); }
  quillo::InstallerFlowContent* content() const {
    return static_cast<quillo::InstallerFlowContent*>(delegate_->windowController()->contentViewController());
  }
  InstallerViewState state() const { return content()->viewState(); }
  void click(const char* name) { QTest::mouseClick(child<QPushButton>(window(), name), Qt::LeftButton); }
  bool waitForState(const InstallerViewState& s) {
    return waitFor([&] { return state() == s; }, 60000);
  }
  // requireEnabling has been shown and its reaction has asked the system to
  // enable the input method: the system's consent prompt is up.
  bool waitForConsentPrompt() {
    return waitForState(InstallerViewState::requireEnabling()) &&
           waitFor([] { return quillo::tis::isPendingApproval(quillo::tis::InputSource(flowtest::kInputMethod)); },
                   20000);
  }
  bool waitForReports(size_t n) {
    return waitFor([&] { return world_.reportCount() >= n; }, 20000);
  }

  // The input-source tool, from another process, as the user's approval.
  int inputSourcesTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUILLO_INPUT_SOURCES_TOOL, "--root", quillo::folders::systemRoot()};
    argv.insert(argv.end(), args.begin(), args.end());
    quillo::Spawned p;
    if (quillo::spawnProcess(argv, {}, p)) return -1;
    return quillo::waitForExit(p.pid).value_or(-1);
  }

  // A foreign input method, enabled and current before the installer starts.
  void makeOtherVendorSourceCurrent() {
    const auto bundle = world_.dir() / "system root/Library/Input Methods/Other.app";
    fs::create_directories(bundle / "Contents");
    std::ofstream(bundle / "Contents/Info.json")
        << R"({"CFBundleIdentifier":")" << kOtherVendorSource << R"(","TISInputSource":{"id":")"
        << kOtherVendorSource << R"(","modes":[]}})";
    namespace tis = quillo::tis;
    ASSERT_EQ(tis::registerInputSource(bundle.string()), 0);
    ASSERT_EQ(tis::enableInputSource(tis::InputSource(kOtherVendorSource)), 0);
    ASSERT_EQ(inputSourcesTool({"approve", kOtherVendorSource}), 0);
    ASSERT_EQ(inputSourcesTool({"select", kOtherVendorSource}), 0);
  }

  std::string decodedLog() {
    std::string text;
    const fs::path logs = world_.dir() / "cache/Quillo/Logs";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(logs, ec)) {
      if (entry.path().extension() != ".jot") continue;
      quillo::Spawned p;
      EXPECT_FALSE(quillo::spawnProcess({QUILLO_JOTDUMP, entry.path().string()}, {.captureOutput = true}, p));
      text += quillo::readAll(p.outputFd);
      ::close(p.outputFd);
      EXPECT_EQ(quillo::waitForExit(p.pid), 0);
    }
    return text;
  }

  FlowWorld world_;
  std::unique_ptr<quillo::AppDelegate> delegate_;
  int terminated_ = 0;
};

TEST_F(FlowEndToEndTest, ClickThroughInstallEnableAndOpenTheSettings) {
  makeOtherVendorSourceCurrent();
  launch("QuilloInstaller_k.app");
  click("installButton");
  ASSERT_TRUE(waitForConsentPrompt());
  EXPECT_TRUE(child<QWidget>(window(), "stepTwoView")->isVisible());
  EXPECT_EQ(quillo::windowLevel(window()), 0);
  EXPECT_TRUE(fs::is_regular_file(world_.installed() / "Contents/Info.json"));

  // Closing now asks first; the sheet's enable button retries and closes it.
  window()->close();
  ASSERT_NE(content()->existInstallerHintWC(), nullptr);
  EXPECT_TRUE(waitFor([&] { return content()->existInstallerHintWC()->isSheetVisible(); }));
  click("enableButton");  // step two's button: still waiting for the user's consent
  QTest::mouseClick(child<QPushButton>(content()->existInstallerHintWC()->window(), "enableInputButton"),
                    Qt::LeftButton);
  EXPECT_FALSE(content()->existInstallerHintWC()->isSheetVisible());
  EXPECT_EQ(state(), InstallerViewState::requireEnabling());
  EXPECT_EQ(terminated_, 0);

  ASSERT_EQ(inputSourcesTool({"approve", flowtest::kInputMethod}), 0);
  ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  EXPECT_TRUE(FlowWorld::pinyinIsCurrent());
  ASSERT_TRUE(waitForReports(3));
  EXPECT_EQ(quillo::windowLevel(window()), 3);
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray<Report>({{1, 1}, {1, 2}, {2, 1}}));

  auto store = quillo::InstallerCaskManager::getInstallerCask();
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->getBool(quillo::InstallerCaskKeys::showGreenPointKey));
  EXPECT_EQ(store->getString(quillo::InstallerCaskKeys::stepTwoOpenSettingsKey), "1");
  EXPECT_EQ(store->getInt64(quillo::InstallerCaskKeys::useThirdSettingKey), 1);
  const auto json = store->getData(quillo::InstallerCaskKeys::reportInstallEventKey);
  ASSERT_TRUE(json);
  const auto info = quillo::InstallerInstallEventInfo::fromJSON(std::string(json->begin(), json->end()));
  ASSERT_TRUE(info);
  EXPECT_EQ(*info, (quillo::InstallerInstallEventInfo{kOtherVendorSource, com::norvane::tanix::pb::ql_pc_install_cource_mac_zp_plugin}));

  click("installButton");  // "open the settings"
  EXPECT_TRUE(waitFor([&] { return terminated_ == 1; }));
  EXPECT_FALSE(window()->isVisible());
  EXPECT_TRUE(waitFor([&] { return world_.recorded("ready com.norvane.QuilloSettings"); }));
  EXPECT_TRUE(world_.recorded("launch com.norvane.QuilloSettings --ShowSettings"));
  ASSERT_TRUE(waitForReports(4));
  EXPECT_EQ(world_.reports().back(), (Report{2, 59}));

  delegate_->applicationWillTerminate();
  const std::string log = decodedLog();
  for (const char* line : {"installer view did click install btn", "activeInputSource.",
                           "installer view did change to state: requireEnabling",
                           "installer view did change to state: complete(false)",
                           "[stepTwo] open Quillo Settings: showSettings", "close log"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST_F(FlowEndToEndTest, NetworkFailureIsShownAndTheRetryCompletes) {
  world_.server().route(flowtest::kPackagePath, {.status = 503});
  launch("QuilloInstaller.app");
  click("installButton");
  const auto failed = InstallerViewState::fail(
      InstallerViewStateError::downloadError(InstallerViewStateError::ViewStateDownloadErrorReason::networkError));
  ASSERT_TRUE(waitForState(failed));
  ASSERT_TRUE(waitForReports(3));
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray<Report>({{1, 1}, {1, 2}, {57, 1}}));
  EXPECT_EQ(quillo::windowLevel(window()), 3);

  world_.server().route(flowtest::kPackagePath, {.bodyFile = world_.zip()});
  click("installButton");  // "retry"
  ASSERT_TRUE(waitForConsentPrompt());
  ASSERT_EQ(inputSourcesTool({"approve", flowtest::kInputMethod}), 0);
  ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  ASSERT_TRUE(waitForReports(4));
  EXPECT_EQ(world_.reports().back(), (Report{2, 1}));
  auto store = quillo::InstallerCaskManager::getInstallerCask();
  ASSERT_TRUE(store);
  const auto json = store->getData(quillo::InstallerCaskKeys::reportInstallEventKey);
  ASSERT_TRUE(json);
  EXPECT_EQ(quillo::InstallerInstallEventInfo::fromJSON(std::string(json->begin(), json->end()))->source, com::norvane::tanix::pb::ql_pc_install_source_website);
}

// The agent restarts after an install reach this session's stand-ins inside
// the system root only: processes of the same names on the host, or in
// another session, are never signalled.
TEST_F(FlowEndToEndTest, HostProcessesNamedLikeTheAgentsSurviveAnInstall) {
  std::vector<pid_t> started;
  const auto start = [&](const fs::path& folder, const std::string& name, const char* session) {
    fs::create_directories(folder);
    if (!fs::exists(folder / name)) fs::copy_file("/bin/sleep", folder / name);
    quillo::SpawnOptions options;
    if (session) options.environment = {{"DBUS_SESSION_BUS_ADDRESS", session}};
    quillo::Spawned child;
    EXPECT_FALSE(quillo::spawnProcess({(folder / name).string(), "600"}, options, child));
    // A start that failed leaves -1, and kill(-1) would reach every process.
    if (child.pid > 0) started.push_back(child.pid);
    return child.pid;
  };
  const fs::path agents = world_.dir() / "system root/System/Library/CoreServices";
  std::vector<pid_t> host;
  for (const char* name : {"TextInputMenuAgent", "TextInputSwitcher", "pboard"}) {
    host.push_back(start(world_.dir() / "host", name, nullptr));
    host.push_back(start(agents, name, "unix:path=/nonexistent/another-session"));
  }
  const pid_t standIn = start(agents, "TextInputSwitcher", nullptr);

  launch("QuilloInstaller.app");
  click("installButton");
  ASSERT_TRUE(waitForConsentPrompt());
  ASSERT_EQ(inputSourcesTool({"approve", flowtest::kInputMethod}), 0);
  ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  int status = 0;
  EXPECT_TRUE(waitFor([&] { return ::waitpid(standIn, &status, WNOHANG) == standIn; }));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "this session's stand-in is restarted";
  std::erase(started, standIn);
  for (pid_t pid : host) EXPECT_EQ(::kill(pid, 0), 0) << "a host process was signalled";
  for (pid_t pid : started) {
    ::kill(pid, SIGKILL);
    (void)quillo::waitForExit(pid);
  }
}

// Against a root this user does not administer the script goes through
// pkexec; without it the install fails, the page and the report say so, and
// the log names the cause in words.
TEST_F(FlowEndToEndTest, MissingPkexecFailsTheInstallWithTheReasonInTheLog) {
  quillo::privileged::setExecuteWithPrivilegesAvailableForTesting(false);
  quillo::privileged::setAdministratorPromptProgramForTesting((world_.dir() / "bin/pkexec").string());
  launch("QuilloInstaller.app");
  click("installButton");
  const bool failed = waitForState(InstallerViewState::fail(InstallerViewStateError::installError()));
  quillo::privileged::setExecuteWithPrivilegesAvailableForTesting(std::nullopt);
  quillo::privileged::setAdministratorPromptProgramForTesting("");
  ASSERT_TRUE(failed);
  ASSERT_TRUE(waitForReports(3));
  EXPECT_THAT(world_.reports(), Contains(Report{4, 1}));
  EXPECT_FALSE(fs::exists(world_.installed()));
  delegate_->applicationWillTerminate();
  EXPECT_NE(decodedLog().find("pkexec is not installed: Debian package pkexec"), std::string::npos);
}

}  // namespace
