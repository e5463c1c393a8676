#include "installer/privileged_task.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "platform/build_config.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/notification_center.h"
#include "platform/privileged.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using quillo::RkPrivilegedTask;
namespace privileged = quillo::privileged;

class PrivilegedTaskTest : public ::testing::Test {
 protected:
  // A system root of the test user's own: tools run without a prompt, as any user.
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("privileged-task-root-" + std::to_string(::getpid()));
    fs::create_directories(root_);
    quillo::folders::setSystemRoot(root_.string());
  }
  void TearDown() override {
    quillo::folders::setSystemRoot("");
    fs::remove_all(root_);
    privileged::setAuthorizationPromptForTesting(nullptr);
    privileged::setExecuteWithPrivilegesAvailableForTesting(std::nullopt);
    quillo::mainPlainLoop().clear();
  }
  // Launches, reads the output to end of file, waits: what the install run does.
  static std::string runToEnd(RkPrivilegedTask& task) {
    EXPECT_EQ(task.launch(), 0);
    EXPECT_TRUE(task.isRunning());
    auto out = task.outputFileHandle()->readDataToEndOfFile();
    task.waitUntilExit();
    EXPECT_FALSE(task.isRunning());
    return out;
  }
  fs::path root_;
};

TEST_F(PrivilegedTaskTest, ArgumentsWithBlanksAndQuotesArriveAsOneArgumentEach) {
  const std::string script = "printf '[%s]' \"$@\"; printf '|%s' \"$(id -u)\" \"$PWD\"";
  auto task = RkPrivilegedTask::create(
      "/bin/sh", {"-c", script, "sh", "/tmp/My Files/it's \"quoted\".zip", "$(reboot)"}, "/");
  EXPECT_EQ(runToEnd(*task), "[/tmp/My Files/it's \"quoted\".zip][$(reboot)]|" + std::to_string(::geteuid()) + "|/");
  EXPECT_EQ(task->terminationStatus(), 0);
  EXPECT_GT(task->processIdentifier(), 0);
}

TEST_F(PrivilegedTaskTest, ExitCodeAndKillingSignalAreReported) {
  auto three = RkPrivilegedTask::create("/bin/sh", {"-c", "echo partial; exit 3"});
  EXPECT_EQ(runToEnd(*three), "partial\n");
  EXPECT_EQ(three->terminationStatus(), 3);

  auto killed = RkPrivilegedTask::create("/bin/sh", {"-c", "kill -KILL $$"});
  runToEnd(*killed);
  EXPECT_EQ(killed->terminationStatus(), 128 + SIGKILL) << "a killed tool must not read as success";
}

TEST_F(PrivilegedTaskTest, CancelledPromptAndMissingFunctionStartNothing) {
  privileged::setAuthorizationPromptForTesting([](const std::string&) {
    return privileged::kErrAuthorizationCanceled;
  });
  auto task = RkPrivilegedTask::create("/bin/true");
  EXPECT_EQ(task->launch(), -60006);
  EXPECT_FALSE(task->isRunning());
  EXPECT_EQ(task->outputFileHandle(), nullptr);

  privileged::setExecuteWithPrivilegesAvailableForTesting(false);
  EXPECT_FALSE(RkPrivilegedTask::authorizationFunctionAvailable());
  EXPECT_EQ(task->launch(), RkPrivilegedTask::kFunctionUnavailable);
}

TEST_F(PrivilegedTaskTest, ToolThatCannotStartIsALaunchFailure) {
  auto task = RkPrivilegedTask::create("/nonexistent/tool");
  EXPECT_EQ(task->launch(), privileged::kErrAuthorizationToolExecuteFailure);
  EXPECT_FALSE(task->isRunning());
}

TEST_F(PrivilegedTaskTest, WaitingForATaskThatNeverStartedOnlyLogs) {
  auto task = RkPrivilegedTask::launchedPrivilegedTaskWithLaunchPath("/nonexistent/tool");
  EXPECT_FALSE(task->isRunning());
  EXPECT_EQ(task->terminationStatus(), 0);
  auto done = RkPrivilegedTask::launchedPrivilegedTaskWithLaunchPath("/bin/sh", {"-c", "exit 5"});
  EXPECT_EQ(done->terminationStatus(), 5);
}

TEST_F(PrivilegedTaskTest, SecondLaunchWhileRunningIsRefusedWithSuccess) {
  auto task = RkPrivilegedTask::create("/bin/sh", {"-c", "read line"});
  ASSERT_EQ(task->launch(), 0);
  const auto pid = task->processIdentifier();
  EXPECT_EQ(task->launch(), 0);
  EXPECT_EQ(task->processIdentifier(), pid);
  task->waitUntilExit();  // stdin is /dev/null: read ends at once
  EXPECT_EQ(task->terminationStatus(), 1);
}

TEST_F(PrivilegedTaskTest, LaunchedOnTheMainThreadThePollReportsTheExit) {
  const struct {
    const char* script;
    int32_t status;
  } rows[] = {
      {"exit 4", 4},
      {"kill -KILL $$", 128 + SIGKILL},  // a killed tool must not read as success
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    auto task = RkPrivilegedTask::create("/bin/sh", {"-c", row.script});
    int handled = 0;
    const void* posted = nullptr;
    auto obs = quillo::NotificationCenter::defaultCenter().addObserver(
        RkPrivilegedTask::kDidTerminateNotification,
        [&](const quillo::Notification& n) { posted = n.sender; });
    task->setTerminationHandler([&](RkPrivilegedTask& t) {
      ++handled;
      EXPECT_EQ(t.terminationStatus(), row.status);
    });
    ASSERT_EQ(task->launch(), 0);
    ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return handled == 1; }, 10s));
    EXPECT_FALSE(task->isRunning());
    EXPECT_EQ(posted, task.get());
  }
}

// Polls that come while the tool still runs leave it running: only its own
// exit ends the task.
TEST_F(PrivilegedTaskTest, PollsWhileTheToolRunsLeaveItRunning) {
  const fs::path go = root_ / "go";
  // Gives up by itself after about 20 s, should the test die before `go`.
  auto task = RkPrivilegedTask::create(
      "/bin/sh", {"-c", "i=0; while [ ! -e \"$1\" ] && [ $i -lt 1000 ]; do sleep 0.02; i=$((i+1)); done; exit 4",
                  "sh", go.string()});
  int handled = 0;
  task->setTerminationHandler([&](RkPrivilegedTask&) { ++handled; });
  ASSERT_EQ(task->launch(), 0);
  quillo::mainPlainLoop().runFor(300ms);
  EXPECT_TRUE(task->isRunning());
  EXPECT_EQ(handled, 0);
  std::ofstream(go).put('x');
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return handled == 1; }, 10s));
  EXPECT_EQ(task->terminationStatus(), 4);
}

// A tool that someone else reaped cannot be waited for any more: the poll
// ends the task as a failed wait instead of polling forever.
TEST_F(PrivilegedTaskTest, ToolReapedElsewhereEndsThePollAsAFailedWait) {
  auto task = RkPrivilegedTask::create("/bin/sh", {"-c", "exit 4"});
  int handled = 0;
  task->setTerminationHandler([&](RkPrivilegedTask&) { ++handled; });
  ASSERT_EQ(task->launch(), 0);
  int waitStatus = 0;
  ASSERT_EQ(::waitpid(task->processIdentifier(), &waitStatus, 0), task->processIdentifier());
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return handled == 1; }, 10s));
  EXPECT_FALSE(task->isRunning());
  EXPECT_EQ(task->terminationStatus(), RkPrivilegedTask::kWaitFailedStatus);
}

TEST_F(PrivilegedTaskTest, DescriptionQuotesEachArgument) {
  auto task = RkPrivilegedTask::create("/bin/sh", {"a b", "c"}, "/x");
  const auto text = task->description();
  EXPECT_EQ(text.rfind("<RkPrivilegedTask: 0x", 0), 0u) << text;
  EXPECT_NE(text.find("> /bin/sh 'a b' 'c' (CWD:/x)"), std::string::npos) << text;
  EXPECT_EQ(RkPrivilegedTask::create()->currentDirectoryPath(), fs::current_path().string());
}

// The polkit action in the bundle matches the install helper with the
// compiled-in root as its first argument, and no other program.
TEST(PolkitActionTest, NamesOnlyTheInstallHelperOfTheCompiledRoot) {
  std::ifstream in(fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources/com.norvane.quillo.installer.policy");
  ASSERT_TRUE(in);
  const std::string policy((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(policy.find(std::string("<action id=\"") + privileged::kPolkitActionId + "\">"), std::string::npos);
  EXPECT_NE(policy.find("<annotate key=\"org.freedesktop.policykit.exec.path\">" QUILLO_INSTALL_HELPER_PATH
                        "</annotate>"),
            std::string::npos)
      << policy;
  EXPECT_NE(policy.find(std::string("<annotate key=\"org.freedesktop.policykit.exec.argv1\">--system-root=") +
                        quillo::kCompiledSystemRoot + "</annotate>"),
            std::string::npos);
  EXPECT_EQ(policy.find("/usr/bin/env"), std::string::npos);
}

}  // namespace
