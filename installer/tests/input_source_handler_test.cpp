#include "installer/input_source_handler.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "installer/identities.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace tis = quillo::tis;
using quillo::InstallerInputSourceHandler;
using quillo::sysinfo::OsVersion;

const std::string kSource(quillo::kInputSourceId);
const std::string kMode(quillo::kPinyinInputModeId);
const std::string kAbc(tis::kSystemLayoutId);

class RecordingDelegate : public quillo::InstallerInputSourceHandlerDelegate {
 public:
  void enableInputSourceFinished(bool selectModeFailed) override { calls.push_back(selectModeFailed); }
  std::vector<bool> calls;
};

class InputSourceHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("handler-" + std::to_string(::getpid()) + "-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    quillo::folders::setSystemRoot(root_.string());
    version(14);
    handler_ = InstallerInputSourceHandler::create();
    handler_->setDelegate(delegate_);
  }
  void TearDown() override {
    handler_.reset();
    quillo::mainPlainLoop().clear();
    quillo::folders::setSystemRoot("");
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
    fs::remove_all(root_);
  }
  static void version(long major) { quillo::sysinfo::setOperatingSystemVersion(OsVersion{major, 0, 0}); }
  // What the install script leaves: the package's Quillo.app at its location.
  void installBundle() {
    const auto target = fs::path(quillo::folders::systemPath(quillo::kInputMethodBundleLocation));
    fs::create_directories(target.parent_path());
    fs::copy(fs::path(QUILLO_FIXTURES_DIR) / "package/Quillo.app", target, fs::copy_options::recursive);
  }
  void installAndRegister() {
    installBundle();
    ASSERT_TRUE(handler_->registerInputSource());
  }
  // The user, in the system's settings: another process.
  int settings(const std::string& verb, const std::string& id) {
    quillo::Spawned tool;
    if (quillo::spawnProcess({QUILLO_INPUT_SOURCES_TOOL, "--root", root_.string(), verb, id}, {}, tool)) {
      return -1;
    }
    return quillo::waitForExit(tool.pid).value_or(-1);
  }
  static bool enabled(const std::string& id) {
    return tis::boolProperty(tis::InputSource(id), tis::Property::InputSourceIsEnabled) == true;
  }
  static std::string current() {
    auto c = tis::copyCurrentKeyboardInputSource();
    return c ? c->id() : "";
  }
  bool waitForDelegate(size_t calls) {
    return quillo::mainPlainLoop().runUntil([&] { return delegate_->calls.size() >= calls; }, 10s);
  }

  fs::path root_;
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<InstallerInputSourceHandler> handler_;
};

TEST_F(InputSourceHandlerTest, RegisteringWithoutTheInstalledBundleFails) {
  EXPECT_FALSE(handler_->registerInputSource());
  EXPECT_FALSE(handler_->enableInputSource()) << "not found: one more registration try, then false";
  EXPECT_FALSE(handler_->isInputSourceEnabled());
  EXPECT_TRUE(delegate_->calls.empty());
}

TEST_F(InputSourceHandlerTest, EnablingWaitsForTheUsersApprovalFromAnotherProcess) {
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  EXPECT_FALSE(handler_->isInputSourceEnabled()) << "pending until approved";
  EXPECT_TRUE(delegate_->calls.empty());

  ASSERT_EQ(settings("approve", kSource), 0);
  ASSERT_TRUE(waitForDelegate(1));
  EXPECT_EQ(delegate_->calls, std::vector<bool>{false});
  EXPECT_TRUE(enabled(kMode));
  EXPECT_TRUE(handler_->isCurrentInputMode());
  EXPECT_EQ(settings("approve", kSource), 1) << "nothing pending any more";
}

TEST_F(InputSourceHandlerTest, FromVersion12ZeroEnablingWaitsForApproval) {
  version(12);
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  EXPECT_FALSE(handler_->isInputSourceEnabled());
  EXPECT_TRUE(delegate_->calls.empty());
}

TEST_F(InputSourceHandlerTest, AlreadyEnabledSourceIsSelectedAtOnce) {
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_EQ(settings("approve", kSource), 0);
  ASSERT_TRUE(waitForDelegate(1));
  handler_->changeToSystemInputMode();
  EXPECT_EQ(current(), kAbc);

  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_EQ(delegate_->calls.size(), 2u) << "called synchronously";
  EXPECT_FALSE(delegate_->calls[1]);
  EXPECT_EQ(current(), kMode);
}

TEST_F(InputSourceHandlerTest, ModeAlreadyCurrentReportsSelectModeFailed) {
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_EQ(settings("approve", kSource), 0);
  ASSERT_TRUE(waitForDelegate(1));
  ASSERT_TRUE(handler_->isCurrentInputMode());
  handler_->enableAndSelectInputMode(true);
  EXPECT_EQ(delegate_->calls, (std::vector<bool>{false, true}));
  handler_->enableAndSelectInputMode(false);
  EXPECT_EQ(delegate_->calls.size(), 2u) << "no callback asked for";
}

TEST_F(InputSourceHandlerTest, BeforeVersion12EnableReportsAtOnce) {
  version(11);
  installAndRegister();
  handler_->setDontSelectInputMode(true);
  ASSERT_TRUE(handler_->enableInputSource());
  EXPECT_EQ(delegate_->calls, std::vector<bool>{false});
  EXPECT_TRUE(handler_->isInputSourceEnabled());
  EXPECT_FALSE(handler_->isCurrentInputMode()) << "told not to select";

  handler_->setDontSelectInputMode(false);
  ASSERT_TRUE(handler_->enableInputSource());  // already enabled: the delegate hears at once
  EXPECT_EQ(delegate_->calls.size(), 2u);
  EXPECT_FALSE(handler_->isCurrentInputMode());
}

TEST_F(InputSourceHandlerTest, BeforeVersion12EnableSelectsTheMode) {
  version(11);
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  EXPECT_EQ(delegate_->calls, std::vector<bool>{false});
  EXPECT_TRUE(handler_->isCurrentInputMode());
}

TEST_F(InputSourceHandlerTest, UserSelectingTheModeElsewhereIsSeenAsCurrent) {
  version(11);
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_EQ(settings("select", kAbc), 0);
  EXPECT_FALSE(handler_->isCurrentInputMode());
  ASSERT_EQ(settings("select", kMode), 0);
  EXPECT_TRUE(handler_->isCurrentInputMode());
  EXPECT_EQ(settings("select", "com.example.unknown"), 1);
}

TEST_F(InputSourceHandlerTest, DisableAllDisablesModeAndSourceAndFallsBackToTheSystemLayout) {
  version(11);
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_TRUE(handler_->isCurrentInputMode());
  handler_->disableAll();
  EXPECT_FALSE(enabled(kMode));
  EXPECT_FALSE(enabled(kSource));
  EXPECT_EQ(current(), kAbc);
  handler_->disableAll();  // nothing enabled: each lookup still finds the installed entries
  EXPECT_FALSE(handler_->isInputSourceEnabled());
}

TEST_F(InputSourceHandlerTest, DisableTouchesOnlyTheFirstOfTwoMatchingEntries) {
  version(11);
  installBundle();
  const auto manifest = fs::path(quillo::folders::systemPath(quillo::kInputMethodBundleLocation)) /
                        "Contents/Info.json";
  std::ofstream(manifest) << R"({"CFBundleIdentifier": "com.norvane.inputmethod.quillo",
    "TISInputSource": {"id": "com.norvane.inputmethod.quillo", "modes": [
      {"id": "first", "inputModeId": "com.norvane.inputmethod.quillo.pinyin"},
      {"id": "second", "inputModeId": "com.norvane.inputmethod.quillo.pinyin"}]}})";
  ASSERT_TRUE(handler_->registerInputSource());
  for (const char* id : {"com.norvane.inputmethod.quillo", "first", "second"}) {
    ASSERT_EQ(tis::enableInputSource(tis::InputSource(id)), tis::noErr);
  }
  handler_->disableAll();  // before 12: by input mode id
  EXPECT_FALSE(enabled("first"));
  EXPECT_TRUE(enabled("second"));
  EXPECT_FALSE(enabled(kSource));
}

TEST_F(InputSourceHandlerTest, ChangeToSystemInputModeSelectsTheAbcLayout) {
  version(11);
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  ASSERT_EQ(current(), kMode);
  handler_->changeToSystemInputMode();
  EXPECT_EQ(current(), kAbc);
  EXPECT_FALSE(handler_->isCurrentInputMode());
}

TEST_F(InputSourceHandlerTest, ReleasedHandlerHearsNoMoreNotifications) {
  installAndRegister();
  ASSERT_TRUE(handler_->enableInputSource());
  // A second handler waits for the same change; once it has reacted, the
  // first would have too.
  auto other = InstallerInputSourceHandler::create();
  auto otherDelegate = std::make_shared<RecordingDelegate>();
  other->setDelegate(otherDelegate);
  ASSERT_TRUE(other->enableInputSource());
  handler_.reset();
  ASSERT_EQ(settings("approve", kSource), 0);
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return !otherDelegate->calls.empty(); }, 10s));
  quillo::mainPlainLoop().runPending();
  EXPECT_TRUE(delegate_->calls.empty());
}

}  // namespace
