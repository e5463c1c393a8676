// Restarting system agents: only this session's stand-ins inside the system
// root are signalled, never a host process that shares the name.
#include "platform/workspace.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/folders.h"
#include "platform/process.h"

namespace {
namespace fs = std::filesystem;

class SystemAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("agents-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "root/System/Library/CoreServices");
    fs::create_directories(dir_ / "host");
    quillo::folders::setSystemRoot((dir_ / "root").string());
  }
  void TearDown() override {
    for (pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      (void)quillo::waitForExit(pid);
    }
    quillo::folders::setSystemRoot("");
    fs::remove_all(dir_);
  }

  // Starts a long sleep under `name` in `folder`; `session` replaces our bus address.
  pid_t start(const fs::path& folder, const std::string& name, const char* session = nullptr) {
    const fs::path program = folder / name;
    if (!fs::exists(program)) fs::copy_file("/bin/sleep", program);
    quillo::SpawnOptions options;
    if (session) options.environment = {{"DBUS_SESSION_BUS_ADDRESS", session}};
    quillo::Spawned child;
    EXPECT_FALSE(quillo::spawnProcess({program.string(), "600"}, options, child));
    // A failed start leaves -1, and kill(-1) in TearDown signals every process we may.
    if (child.pid > 0) running_.push_back(child.pid);
    return child.pid;
  }
  fs::path agents() const { return dir_ / "root/System/Library/CoreServices"; }
  static bool alive(pid_t pid) { return ::kill(pid, 0) == 0; }
  // Reaps `pid` and gives its exit status.
  int exitStatus(pid_t pid) {
    std::erase(running_, pid);
    return quillo::waitForExit(pid).value_or(-1);
  }

  fs::path dir_;
  std::vector<pid_t> running_;
};

TEST_F(SystemAgentTest, TheSessionsStandInInsideTheRootIsRestarted) {
  const pid_t agent = start(agents(), "TextInputMenuAgent");
  EXPECT_EQ(quillo::restartSystemAgent(quillo::kTextInputMenuAgent), 1);
  EXPECT_EQ(exitStatus(agent), 128 + SIGKILL);
}

TEST_F(SystemAgentTest, ProcessesOutsideTheRootOrTheSessionSurvive) {
  const pid_t host = start(dir_ / "host", "TextInputMenuAgent");
  const pid_t otherSession = start(agents(), "TextInputMenuAgent", "unix:path=/nonexistent/other-bus");
  const pid_t otherName = start(agents(), "TextInputSwitcherX");
  EXPECT_EQ(quillo::restartSystemAgent(quillo::kTextInputMenuAgent), 0);
  EXPECT_EQ(quillo::restartSystemAgent(quillo::kTextInputSwitcher), 0);
  EXPECT_TRUE(alive(host));
  EXPECT_TRUE(alive(otherSession));
  EXPECT_TRUE(alive(otherName));
}

TEST_F(SystemAgentTest, AnEmptyRootRestartsNothing) {
  const pid_t agent = start(agents(), "pboard");
  quillo::folders::setSystemRoot("");
  EXPECT_EQ(quillo::restartSystemAgent(quillo::kPasteboardServer), 0);
  EXPECT_TRUE(alive(agent));
}

// Agents that end while the scan reads their /proc files (a read then fails
// with ESRCH) are passed over; the scan never throws.
TEST_F(SystemAgentTest, AgentsEndingWhileTheyAreScannedArePassedOver) {
  const fs::path program = agents() / "TextInputMenuAgent";
  fs::copy_file("/bin/sleep", program);
  std::atomic<bool> stop{false};
  std::vector<std::thread> churn;
  for (int i = 0; i < 6; ++i) {
    churn.emplace_back([&] {
      while (!stop) {
        quillo::Spawned child;
        if (quillo::spawnProcess({program.string(), "0"}, {}, child)) break;
        (void)quillo::waitForExit(child.pid);
      }
    });
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    EXPECT_NO_THROW((void)quillo::restartSystemAgent(quillo::kTextInputMenuAgent));
  }
  stop = true;
  for (auto& thread : churn) thread.join();
}

}  // namespace
