#include "installer/verified_install.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "installer/md5.h"
#include "platform/process.h"

namespace {
namespace fs = std::filesystem;

class VerifiedInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("verified-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "stage");
    fs::permissions(dir_ / "stage", fs::perms::owner_all);
    std::ofstream(package()) << "the package";
    // The script notes its arguments and what it was handed.
    writeScript("printf '%s\\n' \"$0\" \"$1\" \"$PWD\" > '" + (dir_ / "args").string() + "'\n" +
                "cp \"$1\" '" + (dir_ / "unpacked").string() + "'\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void writeScript(const std::string& body) { std::ofstream(script()) << body; }
  fs::path script() const { return dir_ / "install it's.sh"; }
  fs::path package() const { return dir_ / "pack age.zip"; }
  std::string md5() const { return *quillo::md5HexOfFile(package().string()); }

  int install(const fs::path& pkg, const std::string& md5) {
    error_.clear();
    return quillo::runVerifiedInstall({.scriptPath = script().string(),
                                       .packagePath = pkg.string(),
                                       .expectedMd5 = md5,
                                       .stagingParent = (dir_ / "stage").string()},
                                      error_);
  }
  bool stageIsEmpty() const { return fs::is_empty(dir_ / "stage"); }

  fs::path dir_;
  std::string error_;
};

TEST_F(VerifiedInstallTest, ScriptRunsOnPrivateCopiesThatAreRemovedAfterwards) {
  EXPECT_EQ(install(package(), md5()), 0) << error_;
  std::ifstream in(dir_ / "args");
  std::string script, pkg, folder;
  std::getline(in, script);
  std::getline(in, pkg);
  std::getline(in, folder);
  EXPECT_EQ(fs::path(folder), fs::path(script).parent_path()) << "it runs in its private folder";
  EXPECT_EQ(fs::path(script).parent_path().parent_path(), dir_ / "stage");
  EXPECT_EQ(fs::path(pkg).parent_path(), fs::path(script).parent_path());
  EXPECT_EQ(quillo::md5HexOfFile((dir_ / "unpacked").string()), md5());
  EXPECT_TRUE(stageIsEmpty());
}

TEST_F(VerifiedInstallTest, ScriptStatusIsTheResult) {
  writeScript("exit 3\n");
  EXPECT_EQ(install(package(), md5()), 3);
  EXPECT_TRUE(stageIsEmpty());
  writeScript("kill -KILL $$\n");
  EXPECT_EQ(install(package(), md5()), 128 + SIGKILL);
}

// A /proc file says it is empty and reads as text: the copy is not what was inspected.
TEST_F(VerifiedInstallTest, FileThatReadsLongerThanItsSizeIsRefused) {
  const std::string proc = "/proc/version";
  std::ifstream in(proc);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  const auto run = [&](int64_t size) {
    return quillo::runVerifiedInstall({.scriptPath = script().string(),
                                       .packagePath = proc,
                                       .expectedMd5 = quillo::md5Hex(std::string_view(text)),
                                       .expectedSize = size,
                                       .stagingParent = (dir_ / "stage").string()},
                                      error_);
  };
  const auto size = static_cast<int64_t>(text.size());
  EXPECT_EQ(run(size), quillo::kVerifiedInstallBadInput);
  EXPECT_NE(error_.find("changed while it was copied"), std::string::npos) << error_;
  EXPECT_EQ(run(size - 1), quillo::kVerifiedInstallBadInput);
  EXPECT_NE(error_.find("is larger than"), std::string::npos) << error_;
  EXPECT_FALSE(fs::exists(dir_ / "args"));
  EXPECT_TRUE(stageIsEmpty());
}

TEST_F(VerifiedInstallTest, ScriptStatusesThePromptProgramUsesAreReportedAsAFailedScript) {
  // 126 and 127 would read as a dismissed or refused prompt.
  for (const int code : {126, 127}) {
    writeScript("exit " + std::to_string(code) + "\n");
    EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallScriptFailed) << code;
    EXPECT_NE(error_.find("could not run"), std::string::npos) << error_;
  }
}

TEST_F(VerifiedInstallTest, ScriptThatExitsLikeAMissingFolderLeavesTheErrorEmpty) {
  // The helper retries elsewhere only with a reason: a script that ran is never run twice.
  writeScript("exit 73\n");
  EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallNoStaging);
  EXPECT_TRUE(error_.empty()) << error_;
}

TEST_F(VerifiedInstallTest, DifferentPackageIsRefusedBeforeTheScriptRuns) {
  EXPECT_EQ(install(package(), std::string(32, '0')), quillo::kVerifiedInstallMismatch);
  EXPECT_NE(error_.find("MD5"), std::string::npos) << error_;
  EXPECT_FALSE(fs::exists(dir_ / "args"));
  EXPECT_TRUE(stageIsEmpty());
}

TEST_F(VerifiedInstallTest, MalformedMd5OrNegativeSizeIsAUsageError) {
  for (const std::string& md5 :
       {std::string(), md5().substr(1), std::string(32, 'A'), md5() + "0", md5().substr(1) + "g"}) {
    EXPECT_EQ(install(package(), md5), quillo::kVerifiedInstallUsage) << md5;
  }
  EXPECT_EQ(quillo::runVerifiedInstall({.scriptPath = script().string(),
                                        .packagePath = package().string(),
                                        .expectedMd5 = md5(),
                                        .expectedSize = -1,
                                        .stagingParent = (dir_ / "stage").string()},
                                       error_),
            quillo::kVerifiedInstallUsage);
  EXPECT_FALSE(fs::exists(dir_ / "args"));
  // An empty package is a size, not a usage error.
  std::ofstream(package(), std::ios::trunc).close();
  EXPECT_EQ(quillo::runVerifiedInstall({.scriptPath = script().string(),
                                        .packagePath = package().string(),
                                        .expectedMd5 = md5(),
                                        .expectedSize = 0,
                                        .stagingParent = (dir_ / "stage").string()},
                                       error_),
            0)
      << error_;
}

// A link (even to the genuine package), a pipe that never ends or a folder is
// never read as the package; neither is a linked script. Nothing but a
// regular file is even opened: a device's or a pipe's open has effects.
TEST_F(VerifiedInstallTest, OnlyRegularFilesAreCopied) {
  fs::create_symlink(package(), dir_ / "link.zip");
  ASSERT_EQ(::mkfifo((dir_ / "fifo.zip").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder.zip");
  const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(opens, 0);
  ASSERT_GE(::inotify_add_watch(opens, (dir_ / "fifo.zip").c_str(), IN_OPEN), 0);
  for (const char* name : {"link.zip", "fifo.zip", "folder.zip", "missing.zip"}) {
    EXPECT_EQ(install(dir_ / name, md5()), quillo::kVerifiedInstallBadInput) << name;
  }
  char event[sizeof(inotify_event) + 256];
  EXPECT_LT(::read(opens, event, sizeof event), 0) << "the pipe was opened";
  ::close(opens);
  fs::rename(script(), dir_ / "real.sh");
  fs::create_symlink(dir_ / "real.sh", script());
  EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallBadInput);
  EXPECT_FALSE(fs::exists(dir_ / "args"));
  EXPECT_TRUE(stageIsEmpty());
}

// Swapping a folder on the way for a link would steer root to another file.
TEST_F(VerifiedInstallTest, LinkAnywhereOnTheWayIsRefused) {
  fs::create_directory_symlink(dir_, dir_ / "linked");
  const auto viaLink = dir_ / "linked" / package().filename();
  EXPECT_EQ(install(viaLink, md5()), quillo::kVerifiedInstallBadInput);
  EXPECT_NE(error_.find("has a symbolic link on its path"), std::string::npos) << error_;
  error_.clear();
  EXPECT_EQ(quillo::runVerifiedInstall({.scriptPath = (dir_ / "linked" / script().filename()).string(),
                                        .packagePath = package().string(),
                                        .expectedMd5 = md5(),
                                        .stagingParent = (dir_ / "stage").string()},
                                       error_),
            quillo::kVerifiedInstallBadInput);
  EXPECT_FALSE(fs::exists(dir_ / "args"));
}

// Folders of runs whose process is gone are removed; a running one's, and
// anything not of that name, stay.
TEST_F(VerifiedInstallTest, StaleFoldersOfEndedRunsAreSwept) {
  quillo::Spawned ended;
  ASSERT_FALSE(quillo::spawnProcess({"/bin/true"}, {}, ended));
  ASSERT_EQ(quillo::waitForExit(ended.pid), 0);
  const auto stale = dir_ / "stage" / ("quillo-install." + std::to_string(ended.pid) + ".Ab12Cd");
  const auto running = dir_ / "stage" / ("quillo-install." + std::to_string(::getppid()) + ".Ab12Cd");
  const auto other = dir_ / "stage" / "quillo-install.notes";
  const auto longer = dir_ / "stage" / ("quillo-install." + std::to_string(ended.pid) + ".Ab12Cd7");
  for (const auto& folder : {stale, running, other, longer}) {
    fs::create_directories(folder / "inside");
    std::ofstream(folder / "inside/package.zip") << "left";
  }
  EXPECT_EQ(install(package(), md5()), 0) << error_;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(running));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::exists(longer));
}

// The name alone does not make a folder ours: one of another user stays,
// even when its run has ended.
TEST_F(VerifiedInstallTest, StaleFolderOfAnotherUserStays) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give the folder away";
  quillo::Spawned ended;
  ASSERT_FALSE(quillo::spawnProcess({"/bin/true"}, {}, ended));
  ASSERT_EQ(quillo::waitForExit(ended.pid), 0);
  const auto foreign = dir_ / "stage" / ("quillo-install." + std::to_string(ended.pid) + ".Ab12Cd");
  fs::create_directory(foreign);
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  EXPECT_EQ(install(package(), md5()), 0) << error_;
  EXPECT_TRUE(fs::exists(foreign));
}

TEST_F(VerifiedInstallTest, StagingParentOthersCouldRenameInIsRefused) {
  fs::permissions(dir_ / "stage", fs::perms::all);
  EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallNoStaging);
  fs::permissions(dir_ / "stage", fs::perms::owner_all | fs::perms::group_all);
  EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallNoStaging) << "the group may rename";
  fs::permissions(dir_ / "stage", fs::perms::all | fs::perms::sticky_bit);
  EXPECT_EQ(install(package(), md5()), 0) << "a sticky folder keeps our entries ours: " << error_;
}

TEST_F(VerifiedInstallTest, StagingParentOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give the folder away";
  ASSERT_EQ(::chown((dir_ / "stage").c_str(), 65534, 65534), 0);
  EXPECT_EQ(install(package(), md5()), quillo::kVerifiedInstallNoStaging);
}

}  // namespace
