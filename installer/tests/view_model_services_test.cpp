// The view model's services that need no install run: the install channel,
// the pasteboard reload, quitting and opening applications.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "installer/installer_main_window_view_model.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/pasteboard.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "platform/workspace.h"
#include "support/flow_test_support.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using VM = quillo::InstallerMainWindowViewModel;
using quillo::Pasteboard;

TEST(InstallChannel, BundleNameSuffixPicksTheSource) {
  const std::vector<std::pair<const char*, int>> table{
      {"/Apps/QuilloInstaller_b.app", 1},  {"/Apps/QuilloInstaller_c.app", 4},
      {"/Apps/QuilloInstaller_d.app", 10}, {"/Apps/QuilloInstaller_e.app", 11},
      {"/Apps/QuilloInstaller_f.app", 5},  {"/Apps/QuilloInstaller_g.app", 13},
      {"/Apps/QuilloInstaller_h.app", 23}, {"/Apps/QuilloInstaller_i.app", 26},
      {"/Apps/QuilloInstaller_j.app", 27}, {"/Apps/QuilloInstaller_k.app", 34},
      {"/Apps/QuilloInstaller_k.app/", 34}, {"/Apps/QuilloInstaller.app", 3},
      {"/Apps/QuilloInstaller_x.app", 3},  {"/Apps/QuilloInstaller_B.app", 3},
      {"/Apps/Quillo_b.old.app", 3},       {"", 3}};
  for (const auto& [path, source] : table) {
    EXPECT_EQ(VM::installSourceForBundlePath(path), source) << path;
  }
}

// A pasteboard in memory that counts its writes.
class RecordingPasteboard final : public Pasteboard {
 public:
  std::vector<std::string> types() override { return inner_.types(); }
  std::optional<std::string> dataForType(std::string_view type) override { return inner_.dataForType(type); }
  void clearContents() override {
    ++writes;
    inner_.clearContents();
  }
  bool setData(const std::optional<std::string>& data, std::string_view type) override {
    ++writes;
    return inner_.setData(data, type);
  }

  int writes = 0;

 private:
  quillo::MemoryPasteboard inner_;
};

class PasteboardReloadTest : public ::testing::Test {
 protected:
  using Contents = std::map<std::string, std::string>;

  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("pasteboard-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "root/System/Library/CoreServices");
    quillo::folders::setSystemRoot((dir_ / "root").string());
    quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{12, 0, 0});
    board_ = std::make_shared<RecordingPasteboard>();
    Pasteboard::setGeneral(board_);
    for (const auto& [type, data] : kHeld) board_->setData(data, type);
    board_->writes = 0;
  }
  void TearDown() override {
    if (server_ > 0) {
      ::kill(server_, SIGKILL);
      (void)quillo::waitForExit(server_);
    }
    Pasteboard::setGeneral(nullptr);
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
    quillo::folders::setSystemRoot("");
    fs::remove_all(dir_);
  }
  // The pasteboard server's stand-in of this session, inside the root.
  void startServer() {
    const fs::path program = dir_ / "root/System/Library/CoreServices/pboard";
    fs::copy_file("/bin/sleep", program);
    quillo::Spawned child;
    ASSERT_FALSE(quillo::spawnProcess({program.string(), "600"}, {}, child));
    server_ = child.pid;
  }
  Contents held() const {
    Contents out;
    for (const auto& type : board_->types()) out[type] = board_->dataForType(type).value_or("");
    return out;
  }

  // A copied image and two files, with the text and rich text beside them.
  const Contents kHeld = {
      {"image/png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
      {std::string(Pasteboard::kFileURLType), "file:///home/u/a.txt\r\nfile:///home/u/b%20c.png\r\n"},
      {"text/html", "<b>你好</b>"},
      {std::string(Pasteboard::kStringType), "你好"},
  };
  fs::path dir_;
  pid_t server_ = -1;
  std::shared_ptr<RecordingPasteboard> board_;
  VM viewModel_{VM::Options{.bundlePath = "/Apps/QuilloInstaller.app"}};
};

TEST_F(PasteboardReloadTest, WithNoServerRestartedThePasteboardIsLeftAlone) {
  viewModel_.reloadPasteBoard();
  EXPECT_EQ(board_->writes, 0);
  EXPECT_EQ(held(), kHeld);
}

TEST_F(PasteboardReloadTest, ARestartedServerGetsEveryTypeBack) {
  startServer();
  viewModel_.reloadPasteBoard();
  EXPECT_EQ(quillo::waitForExit(server_), 128 + SIGKILL);
  server_ = -1;
  EXPECT_GT(board_->writes, 0);
  EXPECT_EQ(held(), kHeld);
}

TEST_F(PasteboardReloadTest, BeforeVersion12ThePasteboardIsLeftAlone) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{11, 6, 0});
  startServer();
  viewModel_.reloadPasteBoard();
  EXPECT_EQ(::kill(server_, 0), 0) << "no server is restarted";
  EXPECT_EQ(board_->writes, 0);
}

class ApplicationsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* id : {"com.norvane.QuilloSettings", "com.norvane.QuilloFeedback"}) {
      for (const auto& app : quillo::runningApplications(id)) app.terminate();
    }
    quillo::mainPlainLoop().clear();
  }
  bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      quillo::mainPlainLoop().runFor(2ms);
    }
    return true;
  }
  // The fixture package's companion applications, unpacked.
  static std::string fixtureApp(const char* name) {
    return std::string(QUILLO_FIXTURES_DIR) + "/package/Quillo.app/Contents/MacOS/" + name + ".app";
  }

  flowtest::FlowWorld world_;
  VM viewModel_{VM::Options{.bundlePath = "/Apps/QuilloInstaller.app"}};
};

TEST_F(ApplicationsTest, LaunchedApplicationIsFoundByBundleIdAndQuitPolitely) {
  EXPECT_FALSE(viewModel_.terminateProcessWithBundleId("com.norvane.QuilloFeedback"));
  std::optional<std::string> error = "pending";
  quillo::openApplication(fixtureApp("QuilloFeedback"), {"--x y"}, [&](auto e) { error = e; });
  // The application may be up before its launch's completion reaches the main queue.
  ASSERT_TRUE(waitUntil(
      [&] { return world_.recorded("ready com.norvane.QuilloFeedback") && error != "pending"; }));
  EXPECT_EQ(error, std::nullopt);
  EXPECT_TRUE(world_.recorded("launch com.norvane.QuilloFeedback --x y"));
  const auto apps = quillo::runningApplications("com.norvane.QuilloFeedback");
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].bundlePath(), fixtureApp("QuilloFeedback"));
  EXPECT_TRUE(quillo::runningApplications("com.norvane.QuilloSettings").empty());

  viewModel_.checkAndQuitRunningProcess();
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("exit com.norvane.QuilloFeedback"); }));
  EXPECT_TRUE(waitUntil([] { return quillo::runningApplications("com.norvane.QuilloFeedback").empty(); }));

  // Asked by its id, a running one is reported as found and quits too.
  quillo::openApplication(fixtureApp("QuilloFeedback"), {}, [](auto) {});
  ASSERT_TRUE(waitUntil([] { return quillo::runningApplications("com.norvane.QuilloFeedback").size() == 1; }));
  EXPECT_TRUE(viewModel_.terminateProcessWithBundleId("com.norvane.QuilloFeedback"));
  EXPECT_TRUE(waitUntil([] { return quillo::runningApplications("com.norvane.QuilloFeedback").empty(); }));
}

TEST_F(ApplicationsTest, MissingSettingsApplicationIsReportedAndTheCompletionStillRuns) {
  std::optional<std::string> error;
  bool done = false;
  quillo::openApplication((world_.dir() / "Nothing.app").string(), {}, [&](auto e) {
    error = e;
    done = true;
  });
  ASSERT_TRUE(waitUntil([&] { return done; }));
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("Nothing.app"), std::string::npos) << *error;

  bool completed = false;
  viewModel_.openQuilloSettings("ShowSettings", [&] { completed = true; });  // nothing installed
  EXPECT_TRUE(waitUntil([&] { return completed; }));
}

}  // namespace
