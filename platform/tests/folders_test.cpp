#include "platform/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {
namespace fs = std::filesystem;

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::path(::testing::TempDir()) /
            ("folders-" + std::to_string(::getpid()) + "-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(base_);
    fs::create_directories(base_);
  }
  void TearDown() override {
    fs::remove_all(base_);
    quillo::folders::setSystemRoot("");
  }
  fs::path base_;
};

void expectPrivateFolder(const std::string& path) {
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << path;
  EXPECT_EQ(st.st_uid, ::geteuid()) << path;
  EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
}

TEST_F(FoldersTest, TemporaryDirectoryIsAPrivateFolderPerUserUnderTmpdir) {
  ::setenv("TMPDIR", (base_.string() + "/plain//").c_str(), 1);
  fs::create_directories(base_ / "plain");
  const auto path = quillo::folders::temporaryDirectory();
  ::unsetenv("TMPDIR");
  EXPECT_EQ(path, (base_ / "plain").string() + "/quillo-" + std::to_string(::geteuid()));
  expectPrivateFolder(path);
}

// Another local user pre-creates the usual name (as a folder open to all, or
// as a link to a folder of theirs): we take a name they cannot predict.
TEST_F(FoldersTest, SquattedTemporaryDirectoryIsReplacedByAnUnpredictableOne) {
  const std::string name = "quillo-" + std::to_string(::geteuid());
  fs::create_directories(base_ / "open" / name);
  fs::permissions(base_ / "open" / name, fs::perms::all);
  fs::create_directories(base_ / "linked" / "theirs");
  fs::permissions(base_ / "linked" / "theirs", fs::perms::owner_all);
  fs::create_directory_symlink(base_ / "linked" / "theirs", base_ / "linked" / name);
  for (const char* squat : {"open", "linked"}) {
    ::setenv("TMPDIR", (base_ / squat).c_str(), 1);
    const auto path = quillo::folders::temporaryDirectory();
    EXPECT_EQ(quillo::folders::temporaryDirectory(), path) << "stable for the process";
    ::unsetenv("TMPDIR");
    EXPECT_TRUE(path.starts_with((base_ / squat / name).string() + "-")) << path;
    expectPrivateFolder(path);
  }
  EXPECT_EQ(fs::status(base_ / "open" / name).permissions(), fs::perms::all)
      << "theirs is left alone";
}

TEST_F(FoldersTest, PrivateDirectoryIsCreatedWithMode0700) {
  const auto dir = (base_ / "private").string();
  ASSERT_FALSE(quillo::folders::ensurePrivateDirectory(dir));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(quillo::folders::ensurePrivateDirectory(dir)) << "existing private folder is fine";
}

TEST_F(FoldersTest, PrivateDirectoryRefusesAPrePlantedSymlink) {
  const auto target = base_ / "elsewhere";
  fs::create_directories(target);
  fs::permissions(target, fs::perms::owner_all);
  const auto link = base_ / "planted";
  fs::create_directory_symlink(target, link);
  EXPECT_EQ(quillo::folders::ensurePrivateDirectory(link.string()),
            std::make_error_code(std::errc::too_many_symbolic_link_levels));
}

TEST_F(FoldersTest, PrivateDirectoryRefusesOpenPermissionsAndFiles) {
  const auto open = base_ / "open";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all);
  EXPECT_EQ(quillo::folders::ensurePrivateDirectory(open.string()),
            std::make_error_code(std::errc::permission_denied));
  const auto file = base_ / "file";
  std::ofstream(file).put('x');
  EXPECT_EQ(quillo::folders::ensurePrivateDirectory(file.string()),
            std::make_error_code(std::errc::not_a_directory));
}

TEST_F(FoldersTest, XdgFoldersFollowTheEnvironment) {
  ::setenv("XDG_CACHE_HOME", "/c", 1);
  ::setenv("XDG_DATA_HOME", "/d", 1);
  EXPECT_EQ(quillo::folders::cachesDirectory(), "/c");
  EXPECT_EQ(quillo::folders::applicationSupportDirectory(), "/d");
  ::unsetenv("XDG_CACHE_HOME");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(quillo::folders::cachesDirectory(), "/home/u/.cache");
  EXPECT_EQ(quillo::folders::applicationSupportDirectory(), "/home/u/.local/share");
}

TEST_F(FoldersTest, SystemPathsResolveUnderTheRoot) {
  quillo::folders::setSystemRoot("/srv/sys/");
  EXPECT_EQ(quillo::folders::systemPath("/Library/Input Methods"), "/srv/sys/Library/Input Methods");
  quillo::folders::setSystemRoot("");
  EXPECT_EQ(quillo::folders::systemPath("/Library"), "/Library");
}

}  // namespace
