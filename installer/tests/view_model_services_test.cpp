// The view model's services that need no install run: the install channel,
// the pasteboard reload, quitting and opening applications.
#include <gtest/gtest.h>

#include "installer/installer_main_window_view_model.h"
#include "platform/dispatch.h"
#include "platform/pasteboard.h"
#include "platform/system_info.h"
#include "platform/workspace.h"
#include "support/flow_test_support.h"

namespace {
using namespace std::chrono_literals;
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

class PasteboardReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board_ = std::make_shared<quillo::MemoryPasteboard>();
    Pasteboard::setGeneral(board_);
  }
  void TearDown() override {
    Pasteboard::setGeneral(nullptr);
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
  }
  std::shared_ptr<quillo::MemoryPasteboard> board_;
  VM viewModel_{VM::Options{.bundlePath = "/Apps/QuilloInstaller.app"}};
};

TEST_F(PasteboardReloadTest, TextSurvivesAndAFileUrlIsDropped) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{12, 0, 0});
  board_->setData("你好 text", Pasteboard::kStringType);
  board_->setData("private", "com.example.private");
  viewModel_.reloadPasteBoard();
  EXPECT_EQ(board_->types(), std::vector<std::string>{std::string(Pasteboard::kStringType)});
  EXPECT_EQ(board_->dataForType(Pasteboard::kStringType), "你好 text");

  board_->setData("file:///tmp/a.txt", Pasteboard::kFileURLType);
  viewModel_.reloadPasteBoard();
  EXPECT_TRUE(board_->types().empty());
}

TEST_F(PasteboardReloadTest, BeforeVersion12ThePasteboardIsLeftAlone) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{11, 6, 0});
  board_->setData("file:///tmp/a.txt", Pasteboard::kFileURLType);
  viewModel_.reloadPasteBoard();
  EXPECT_EQ(board_->dataForType(Pasteboard::kFileURLType), "file:///tmp/a.txt");
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
  ASSERT_TRUE(waitUntil([&] { return world_.recorded("ready com.norvane.QuilloFeedback"); }));
  EXPECT_EQ(error, std::nullopt);
  EXPECT_TRUE(world_.recorded("launch com.norvane.QuilloFeedback --x y"));
  const auto apps = quillo::runningApplications("com.norvane.QuilloFeedback");
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].bundlePath(), fixtureApp("QuilloFeedback"));
  EXPECT_TRUE(quillo::runningApplications("com.norvane.QuilloSettings").empty());

  viewModel_.checkAndQuitRunningProcess();
  EXPECT_TRUE(waitUntil([&] { return world_.recorded("exit com.norvane.QuilloFeedback"); }));
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
