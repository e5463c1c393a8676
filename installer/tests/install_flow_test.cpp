// The install flow on the plain loop: the real run (download from the
// loopback server, install.sh as root under a private system root), the
// real input-source registry and notifications, and a fake window that
// reports "did change" the way the step-one page does, once per state that
// is not replaced before the page has shown it.
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "installer/installer_cask_manager.h"
#include "installer/installer_main_window_view_controller.h"
#include "platform/dispatch.h"
#include "platform/privileged.h"
#include "platform/workspace.h"
#include "support/flow_test_support.h"

namespace {
using namespace std::chrono_literals;
using flowtest::FlowWorld;
using flowtest::Report;
using ::testing::UnorderedElementsAreArray;
using quillo::InstallerMainWindowViewController;
using quillo::InstallerViewState;
using quillo::InstallerViewStateError;
using Kind = InstallerViewState::Kind;
using Reason = InstallerViewStateError::ViewStateDownloadErrorReason;
namespace tis = quillo::tis;

class FakeWindow : public quillo::InstallerMainWindowView {
 public:
  InstallerMainWindowViewController* flow = nullptr;
  std::vector<InstallerViewState> shown;  // did-change, in order
  std::vector<int> levels;
  int hintShown = 0;
  int hintClosed = 0;
  int orderedOut = 0;
  int terminated = 0;
  std::string version;

  InstallerViewState viewState() const override { return state_; }
  void setViewState(const InstallerViewState& state) override {
    const auto from = state_;
    flow->installerViewWillChangeToState(state, from);
    state_ = state;
    const uint64_t generation = ++generation_;
    // The page's progress animation: did-change comes later, and only for
    // the state it still shows.
    quillo::Queue::main()->async([this, generation, state] {
      if (generation != generation_) return;
      shown.push_back(state);
      flow->installerViewDidChangeToState(state);
    });
  }
  void setWindowLevel(int level) override { levels.push_back(level); }
  void setVersionText(const std::string& text) override { version = text; }
  void autoIncreaseProgress() override { ++ticks_; }
  void showExistInstallerHint() override { ++hintShown; }
  void closeExistInstallerHint() override { ++hintClosed; }
  void orderOut() override { ++orderedOut; }
  void activateApplication() override {}
  void terminateApplication() override { ++terminated; }

  int shownCount(const InstallerViewState& state) const {
    return static_cast<int>(std::count(shown.begin(), shown.end(), state));
  }

 private:
  InstallerViewState state_;
  uint64_t generation_ = 0;
  int ticks_ = 0;
};

class InstallFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quillo::setDelayScale(0.01);
  }
  void TearDown() override {
    for (const auto& app : quillo::runningApplications("com.norvane.QuilloSettings")) app.terminate();
    if (flow_) flow_->setView(nullptr);
    flow_.reset();
    quillo::mainPlainLoop().clear();
    quillo::setDelayScale(1.0);
  }

  void start(InstallerMainWindowViewController::Options options) {
    flow_ = InstallerMainWindowViewController::create(std::move(options));
    window_.flow = flow_.get();
    flow_->setView(&window_);
    flow_->viewDidLoad();
    flow_->viewDidAppear();
    // Reports travel on their own; wait for the first so the order is the user's.
    ASSERT_TRUE(waitForReports(1));
  }
  void start() { start(world_.options()); }

  // Serves the main queue until `done`; reports arrive on the server's threads.
  bool waitUntil(const std::function<bool()>& done, std::chrono::seconds timeout = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      quillo::mainPlainLoop().runFor(2ms);
    }
    return true;
  }
  bool waitForState(const InstallerViewState& state) {
    return waitUntil([&] { return !window_.shown.empty() && window_.shown.back() == state; });
  }
  bool waitForReports(size_t count) {
    return waitUntil([&] { return world_.reportCount() >= count; });
  }
  // The user allows the input method in the system's settings.
  void approve() { ASSERT_EQ(tis::approvePendingInputSource(tis::InputSource(flowtest::kInputMethod)), 0); }

  // From the click to `complete(false)`, approving when asked.
  void runToCompletion() {
    flow_->installerViewDidClickInstallBtn();
    ASSERT_TRUE(waitForState(InstallerViewState::requireEnabling()));
    approve();
    ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  }

  FlowWorld world_;
  FakeWindow window_;
  std::shared_ptr<InstallerMainWindowViewController> flow_;
};

TEST_F(InstallFlowTest, HappyPathInstallsEnablesSelectsAndRecordsTheChannel) {
  quillo::InstallerCaskManager::setupCask();
  ASSERT_TRUE(quillo::InstallerCaskManager::getInstallerCask());
  quillo::InstallerCaskManager::getInstallerCask()->setString("42", quillo::InstallerCaskKeys::userLegalUinKey);
  start();
  runToCompletion();
  EXPECT_TRUE(FlowWorld::pinyinIsCurrent());
  EXPECT_TRUE(std::filesystem::exists(world_.installed() / "Contents/Info.json"));
  ASSERT_TRUE(waitForReports(3));
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray<Report>({{1, 1}, {1, 2}, {2, 1}}));
  for (const auto& r : world_.decodedReports()) EXPECT_EQ(r.base_log().vid(), 42u) << "the account number";
  EXPECT_EQ(window_.levels, (std::vector<int>{0, 3}));
  for (auto s : {InstallerViewState::installing(), InstallerViewState::activiting(),
                 InstallerViewState::requireEnabling(), InstallerViewState::complete(false)}) {
    EXPECT_EQ(window_.shownCount(s), 1) << quillo::describe(s);
  }
  auto store = quillo::InstallerCaskManager::getInstallerCask();
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->getBool(quillo::InstallerCaskKeys::showGreenPointKey));
  EXPECT_EQ(store->getString(quillo::InstallerCaskKeys::stepTwoOpenSettingsKey), "1");
  const auto json = store->getData(quillo::InstallerCaskKeys::reportInstallEventKey);
  ASSERT_TRUE(json);
  const auto info = quillo::InstallerInstallEventInfo::fromJSON(std::string(json->begin(), json->end()));
  ASSERT_TRUE(info);
  EXPECT_EQ(static_cast<int>(info->source), 34);
  EXPECT_EQ(info->originSourceId, "com.apple.keylayout.ABC");
  EXPECT_FALSE(store->containsKey(quillo::InstallerCaskKeys::useThirdSettingKey));
  EXPECT_TRUE(window_.version.starts_with("3.2.0")) << window_.version;
}

// Enabling the mode changes the enabled set once more, so the handler reports
// again, with selectModeFailed, after the flow has completed.
TEST_F(InstallFlowTest, EnableFinishedAfterCompletionIsIgnored) {
  start();
  runToCompletion();
  ASSERT_TRUE(waitForReports(3));
  flow_->enableInputSourceFinished(true);
  quillo::mainPlainLoop().runFor(50ms);
  EXPECT_EQ(window_.viewState(), InstallerViewState::complete(false));
  EXPECT_EQ(window_.shownCount(InstallerViewState::fail(InstallerViewStateError::selectInputModeError(false))), 0);
  EXPECT_EQ(world_.reportCount(), 3u);
}

// The step-two button fails when the source cannot be found for a moment;
// the system's consent prompt stays up, and the user's approval completes.
TEST_F(InstallFlowTest, ApprovalAfterAFailedStepTwoClickCompletes) {
  start();
  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitForState(InstallerViewState::requireEnabling()));
  const std::filesystem::path registry = tis::registryPath();
  const std::filesystem::path aside = registry.string() + ".aside";
  std::filesystem::rename(registry, aside);
  flow_->installerViewDidClickEnableBtn();
  ASSERT_TRUE(waitForState(InstallerViewState::fail(InstallerViewStateError::installError())));
  std::filesystem::rename(aside, registry);

  approve();
  ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  EXPECT_TRUE(FlowWorld::pinyinIsCurrent());
}

// From 12.0 the user is asked to enable the input source; before it the
// install registers, enables and selects at once.
struct VersionCase {
  const char* name;
  quillo::sysinfo::OsVersion version;
  InstallerViewState end;
  friend void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
};

class InstallFlowVersionTest : public InstallFlowTest,
                               public ::testing::WithParamInterface<VersionCase> {};

TEST_P(InstallFlowVersionTest, EndsAsTheVersionAsks) {
  quillo::sysinfo::setOperatingSystemVersion(GetParam().version);
  start();
  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitUntil([&] {
    return window_.shownCount(InstallerViewState::requireEnabling()) > 0 ||
           window_.shownCount(InstallerViewState::complete(false)) > 0 ||
           window_.viewState().kind() == InstallerViewState::Kind::fail;
  }));
  EXPECT_EQ(window_.viewState(), GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, InstallFlowVersionTest,
    ::testing::Values(
        VersionCase{"From12ZeroTheUserIsAskedToEnable", {12, 0, 0}, InstallerViewState::requireEnabling()},
        VersionCase{"Before12TheInstallEnablesWithoutAsking", {11, 7, 0}, InstallerViewState::complete(false)}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(InstallFlowTest, ClickingInstallDuringARunChangesNothing) {
  start();
  flow_->installerViewDidClickInstallBtn();
  flow_->installerViewDidClickInstallBtn();  // downloading(0): refused
  ASSERT_TRUE(waitForState(InstallerViewState::requireEnabling()));
  EXPECT_EQ(world_.packageDownloads(), 1u);
  ASSERT_TRUE(waitForReports(2));
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray<Report>({{1, 1}, {1, 2}}));
}

struct FailureCase {
  const char* name;
  InstallerViewState failure;
  std::vector<Report> reports;  // after (1, 1), (1, 2)
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class InstallFlowFailureTest : public InstallFlowTest,
                               public ::testing::WithParamInterface<FailureCase> {
 protected:
  // Breaks the world the way the case says; returns how to mend it.
  std::function<void()> breakWorld(const FailureCase& c) {
    const auto& e = c.failure.error();
    if (e.kind() == InstallerViewStateError::Kind::authError) {
      quillo::privileged::setAuthorizationPromptForTesting(
          [](const std::string&) { return quillo::privileged::kErrAuthorizationCanceled; });
      return [] { quillo::privileged::setAuthorizationPromptForTesting(nullptr); };
    }
    if (e.kind() == InstallerViewStateError::Kind::installError) {
      const auto broken = world_.dir() / "broken resources";
      std::filesystem::create_directories(broken);
      std::ofstream(broken / "install.sh") << "echo failing >&2\nexit 4\n";
      scriptFolder_ = broken.string();
      return [this] { scriptFolder_ = (std::filesystem::path(QUILLO_BUNDLE_DIR) / "Contents/Resources").string(); };
    }
    switch (e.downloadReason()) {
      case Reason::networkError:
        world_.server().route(flowtest::kPackagePath, {.status = 500});
        return [this] { world_.server().route(flowtest::kPackagePath, {.bodyFile = world_.zip()}); };
      case Reason::lowDiskSpace:
        lowDisk_ = true;
        return [this] { lowDisk_ = false; };
      case Reason::validateError:
        world_.serveInfo("00000000000000000000000000000000");
        return [this] {
          world_.serveInfo(*quillo::md5HexOfFile(world_.zip()));
          world_.expireInstallInfo();  // the bad answer is kept for an hour
        };
    }
    return [] {};
  }

  bool lowDisk_ = false;
  std::string scriptFolder_ = (std::filesystem::path(QUILLO_BUNDLE_DIR) / "Contents/Resources").string();
};

TEST_P(InstallFlowFailureTest, FailureIsShownReportedOnceAndARetryCompletes) {
  const FailureCase& c = GetParam();
  auto options = world_.options("QuilloInstaller_k.app", [this](const std::string&) {
    quillo::InstallerZipDownloadManager::DiskSpace space;
    space.basic = space.important = lowDisk_ ? 1024 : int64_t{1} << 40;
    return space;
  });
  const auto mend = breakWorld(c);
  // The script folder is read per run: point the flow at a folder we can swap.
  const auto swap = world_.dir() / "resources";
  std::filesystem::create_symlink(scriptFolder_, swap);
  options.resourcePath = swap.string();
  start(std::move(options));

  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitForState(c.failure));
  std::vector<Report> expected{{1, 1}, {1, 2}};
  expected.insert(expected.end(), c.reports.begin(), c.reports.end());
  ASSERT_TRUE(waitForReports(expected.size()));
  quillo::mainPlainLoop().runFor(30ms);
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray(expected));
  EXPECT_EQ(window_.levels, c.reports.empty() ? std::vector<int>{} : std::vector<int>{3});
  EXPECT_FALSE(std::filesystem::exists(world_.installed()));

  mend();
  std::filesystem::remove(swap);
  std::filesystem::create_symlink(scriptFolder_, swap);
  if (c.failure.isFail(InstallerViewStateError::Kind::authError)) {
    flow_->installerViewDidClickRetryBtn();
  } else {
    flow_->installerViewDidClickInstallBtn();
  }
  ASSERT_TRUE(waitForState(InstallerViewState::requireEnabling()));
  approve();
  ASSERT_TRUE(waitForState(InstallerViewState::complete(false)));
  EXPECT_TRUE(FlowWorld::pinyinIsCurrent());
  expected.push_back({2, 1});
  ASSERT_TRUE(waitForReports(expected.size()));
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray(expected));
  EXPECT_EQ(window_.shownCount(c.failure), 1);
}

InstallerViewState downloadFailure(Reason r) {
  return InstallerViewState::fail(InstallerViewStateError::downloadError(r));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InstallFlowFailureTest,
    ::testing::Values(
        FailureCase{"NetworkError", downloadFailure(Reason::networkError), {{57, 1}}},
        FailureCase{"LowDisk", downloadFailure(Reason::lowDiskSpace), {{56, 1}}},
        FailureCase{"BadMd5", downloadFailure(Reason::validateError), {{58, 1}}},
        FailureCase{"ScriptFailure", InstallerViewState::fail(InstallerViewStateError::installError()), {{4, 1}}},
        FailureCase{"Cancel", InstallerViewState::fail(InstallerViewStateError::authError()), {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(InstallFlowTest, CloseWhileEnablingShowsTheHintAndItsButtonsWork) {
  start();
  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitForState(InstallerViewState::requireEnabling()));
  EXPECT_FALSE(flow_->windowWillClose());
  EXPECT_FALSE(flow_->windowWillClose());
  EXPECT_EQ(window_.hintShown, 2);
  EXPECT_EQ(window_.terminated, 0);
  flow_->enableInput();  // still pending: nothing changes but the sheet closes
  EXPECT_EQ(window_.hintClosed, 1);
  EXPECT_EQ(window_.viewState(), InstallerViewState::requireEnabling());
  flow_->existInstall();
  EXPECT_EQ(window_.hintClosed, 2);
  EXPECT_EQ(window_.terminated, 1);
}

TEST_F(InstallFlowTest, CloseInAnyOtherStateTerminates) {
  start();
  EXPECT_TRUE(flow_->windowWillClose());
  EXPECT_EQ(window_.hintShown, 0);
  EXPECT_EQ(window_.terminated, 1);
}

TEST_F(InstallFlowTest, SettingsAlreadyRunningGetsTheArgumentByNotification) {
  start();
  runToCompletion();
  ASSERT_TRUE(waitForReports(3));  // So the click's report is the last to arrive.
  const auto settings = world_.installed() / "Contents/MacOS/QuilloSettings.app";
  std::optional<std::string> launchError = "pending";
  quillo::openApplication(settings.string(), {}, [&](std::optional<std::string> e) { launchError = e; });
  ASSERT_TRUE(waitUntil([&] {
    return world_.recorded("ready com.norvane.QuilloSettings") && launchError != "pending";
  }));
  EXPECT_EQ(launchError, std::nullopt);
  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitUntil([&] { return window_.terminated == 1; }));
  EXPECT_EQ(window_.orderedOut, 1);
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("notification com.norvane.QuilloSettings ShowSettings"); }));
  for (const auto& app : quillo::runningApplications("com.norvane.QuilloSettings")) app.terminate();
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("exit com.norvane.QuilloSettings"); }));
  ASSERT_TRUE(waitForReports(4));
  EXPECT_EQ(world_.reports().back(), (Report{2, 59}));
}

TEST_F(InstallFlowTest, CrossDeviceBuildOpensDeviceSyncWithoutTheSettingsReport) {
  start(world_.options("QuilloInstaller_d.app"));
  runToCompletion();
  flow_->installerViewDidClickInstallBtn();
  ASSERT_TRUE(waitUntil([&] { return window_.terminated == 1; }));
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("ready com.norvane.QuilloSettings"); }));
  EXPECT_TRUE(world_.recorded("launch com.norvane.QuilloSettings --ShowDeviceSync"));
  for (const auto& app : quillo::runningApplications("com.norvane.QuilloSettings")) app.terminate();
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("exit com.norvane.QuilloSettings"); }));
  quillo::mainPlainLoop().runFor(50ms);
  EXPECT_THAT(world_.reports(), UnorderedElementsAreArray<Report>({{1, 1}, {1, 2}, {2, 1}}));
}

TEST_F(InstallFlowTest, OriginSourceOfAnotherVendorSetsTheThirdSettingFlag) {
  // A foreign input method, enabled and current before the installer starts.
  const auto bundle = world_.dir() / "system root/Library/Input Methods/Other.app";
  std::filesystem::create_directories(bundle / "Contents");
  std::ofstream(bundle / "Contents/Info.json")
      << R"({"CFBundleIdentifier":"com.sogou.inputmethod.sogou","TISInputSource":{"id":"com.sogou.inputmethod.sogou","modes":[]}})";
  ASSERT_EQ(tis::registerInputSource(bundle.string()), 0);
  const tis::InputSource other("com.sogou.inputmethod.sogou");
  ASSERT_EQ(tis::enableInputSource(other), 0);
  (void)tis::approvePendingInputSource(other);
  ASSERT_EQ(tis::selectInputSource(other), 0);
  start();
  EXPECT_EQ(flow_->originInputSourceID(), "com.sogou.inputmethod.sogou");
  auto store = quillo::InstallerCaskManager::getInstallerCask();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->getInt64(quillo::InstallerCaskKeys::useThirdSettingKey), 1);
}

}  // namespace
