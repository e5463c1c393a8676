#include "installer/installer_main_window_view_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/privileged.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace privileged = quillo::privileged;
using VM = quillo::InstallerMainWindowViewModel;
using State = VM::InstallState;
using Error = VM::InstallError;
using Reason = VM::InstallErrorDownloadErrorReason;

// The package's name as the server announces it: blanks and quotes, percent-encoded.
constexpr const char* kPackagePath = "/pkg/Quillo%20it%27s%20%22new%22.zip";
constexpr const char* kPackageName = "Quillo it's \"new\".zip";

class InstallRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("run-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A root of the test user's own: the user administers it, as root or not.
    fs::create_directories(dir_ / "system root");
    quillo::folders::setSystemRoot((dir_ / "system root").string());
    quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{14, 0, 0});
    const std::string zip = std::string(QUILLO_FIXTURES_DIR) + "/Quillo.zip";
    serveInfo(*quillo::md5HexOfFile(zip));
    server_.route(kPackagePath, {.bodyFile = zip});
    resources_ = fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources";
    helper_ = fs::path(QUILLO_BUNDLE_DIR) / "Contents/MacOS/quillo-install-helper";
    downloads_ = dir_ / "downloads 'q'";
  }
  void TearDown() override {
    privileged::setAuthorizationPromptForTesting(nullptr);
    privileged::setExecuteWithPrivilegesAvailableForTesting(std::nullopt);
    privileged::setAdministratorPromptProgramForTesting("");
    quillo::mainPlainLoop().clear();
    quillo::folders::setSystemRoot("");
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
    fs::remove_all(dir_);
  }
  void serveInfo(const std::string& md5) {
    server_.route("/info", {.body = R"({"zip_download_url":")" + server_.url(kPackagePath) +
                                    R"(","zip_download_md5":")" + md5 + R"(","zip_version":"3.2.0.1"})"});
  }
  // A resource folder (its name has blanks and quotes) holding this install.sh.
  void useScript(const std::string& body) {
    resources_ = dir_ / "Resources it's \"x\"";
    fs::create_directories(resources_);
    std::ofstream(resources_ / "install.sh") << body;
  }
  // A prompt program that notes its use in `marker`, then runs the command (or exits `status`).
  void usePrompt(const fs::path& marker, std::optional<int> status = std::nullopt) {
    const auto path = dir_ / "prompt";
    std::ofstream(path) << "#!/bin/sh\necho used >> '" << marker.string() << "'\n"
                        << (status ? "exit " + std::to_string(*status) : "exec \"$@\"") << "\n";
    fs::permissions(path, fs::perms::owner_all);
    privileged::setAdministratorPromptProgramForTesting(path.string());
  }
  // Runs one install to its end; the states in the order they arrived.
  std::vector<State> run() {
    auto net = quillo::InstallerNetManager::create({.endpoint = server_.url("/info")});
    auto manager = quillo::InstallerZipDownloadManager::create(
        {.netManager = net, .downloadFolder = downloads_.string()});
    VM viewModel({.downloadManager = manager,
                  .resourcePath = resources_.string(),
                  .installHelperPath = helper_.string()});
    auto states = std::make_shared<std::vector<State>>();
    auto mu = std::make_shared<std::mutex>();
    viewModel.installZpKB([states, mu](State s) {
      {
        std::lock_guard lock(*mu);
        states->push_back(s);
      }
      quillo::Queue::main()->async([] {});  // wakes the loop for reports from other threads
    });
    const bool ended = quillo::mainPlainLoop().runUntil(
        [&] {
          std::lock_guard lock(*mu);
          return !states->empty() && (states->back().kind() == State::Case::fail ||
                                      states->back().kind() == State::Case::success);
        },
        60s);
    EXPECT_TRUE(ended);
    std::lock_guard lock(*mu);
    return *states;
  }
  // The states without the progress reports, as text.
  static std::vector<std::string> milestones(const std::vector<State>& states) {
    std::vector<std::string> out;
    for (const auto& s : states) {
      if (s.kind() != State::Case::downLoading) out.push_back(s.description());
    }
    return out;
  }
  fs::path installed() const {
    return fs::path(quillo::folders::systemPath("/Library/Input Methods/Quillo.app"));
  }
  fs::path downloaded() const { return downloads_ / kPackageName; }
  // Packs `entries` of `work` into dir_/`name` (links kept as links).
  fs::path zip(const std::string& name, const fs::path& work,
               const std::vector<std::string>& entries) {
    std::vector<std::string> argv{"zip", "-q", "-r", "-y", (dir_ / name).string()};
    argv.insert(argv.end(), entries.begin(), entries.end());
    quillo::Spawned p;
    EXPECT_FALSE(quillo::spawnProcess(argv, {.workingDirectory = work.string()}, p));
    EXPECT_EQ(quillo::waitForExit(p.pid), 0);
    return dir_ / name;
  }
  // A package holding a Quillo.app with a manifest and one `marker` file.
  fs::path packApp(const std::string& name, const std::string& marker) {
    const auto work = dir_ / ("work-" + name);
    fs::create_directories(work / "Quillo.app/Contents");
    std::ofstream(work / "Quillo.app/Contents/Info.json") << "{}";
    std::ofstream(work / "Quillo.app/Contents" / marker) << marker;
    return zip(name, work, {"Quillo.app"});
  }
  // Serves `package` as the one the install information announces.
  void servePackage(const fs::path& package) {
    server_.route(kPackagePath, {.bodyFile = package.string()});
    serveInfo(*quillo::md5HexOfFile(package.string()));
  }

  // Installs a bundle whose archive leaves it open to all, with a set-id
  // tool that belongs to `toolOwner` and `toolGroup`.
  void installLooseBundle(uid_t toolOwner, gid_t toolGroup) {
    const auto work = dir_ / "loose";
    const auto contents = work / "Quillo.app/Contents";
    fs::create_directories(contents / "MacOS");
    std::ofstream(contents / "Info.json") << "{}";
    std::ofstream(contents / "MacOS/tool") << "#!/bin/sh\n";
    ASSERT_EQ(::chmod((contents / "Info.json").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((contents / "MacOS").c_str(), 0777), 0);
    ASSERT_EQ(::chown((contents / "MacOS/tool").c_str(), toolOwner, toolGroup), 0);
    ASSERT_EQ(::chmod((contents / "MacOS/tool").c_str(), 06777), 0);
    servePackage(zip("loose.zip", work, {"Quillo.app"}));
    ASSERT_EQ(milestones(run()).back(), "success");
  }
  // Every installed entry belongs to `owner` and `group`, and only the owner
  // may change it; nothing runs with other rights than its caller's.
  void expectInstalledOnlyWritableBy(uid_t owner, gid_t group) {
    ASSERT_TRUE(fs::exists(installed()));
    for (const auto& entry : fs::recursive_directory_iterator(installed())) {
      struct stat st {};
      ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, owner) << entry.path();
      EXPECT_EQ(st.st_gid, group) << entry.path();
      EXPECT_EQ(st.st_mode & 07022, 0u) << entry.path();
    }
  }

  fs::path dir_;
  fs::path resources_;
  fs::path helper_;
  fs::path downloads_;
  quillo::testing::LoopbackHttpServer server_;
};

TEST_F(InstallRunTest, RealRunDownloadsVerifiesAndInstallsTheBundle) {
  const auto states = run();
  ASSERT_GE(states.size(), 4u);
  EXPECT_EQ(states.front(), State::downLoadBegin());
  EXPECT_EQ(states[1].kind(), State::Case::downLoading);
  double last = 0;
  for (const auto& s : states) {
    if (s.kind() != State::Case::downLoading) continue;
    EXPECT_GE(s.fraction(), last);
    last = s.fraction();
  }
  EXPECT_EQ(last, 1.0);
  EXPECT_EQ(milestones(states), (std::vector<std::string>{"downLoadBegin", "installBegin", "success"}));
  EXPECT_TRUE(fs::is_regular_file(installed() / "Contents/Info.json"));
  EXPECT_TRUE(fs::is_regular_file(installed() / "Contents/MacOS/QuilloSettings.app/Contents/MacOS/QuilloSettings"));
  EXPECT_TRUE(fs::is_regular_file(dir_ / "downloads 'q'" / kPackageName)) << "the package stays";
}

TEST_F(InstallRunTest, ReinstallReplacesTheInstalledBundle) {
  fs::create_directories(installed() / "Contents");
  std::ofstream(installed() / "Contents/stale") << "old";
  EXPECT_EQ(milestones(run()).back(), "success");
  EXPECT_FALSE(fs::exists(installed() / "Contents/stale"));
  EXPECT_TRUE(fs::exists(installed() / "Contents/Info.json"));
}

TEST_F(InstallRunTest, ScriptRunsOnPrivateCopiesOfItselfAndThePackage) {
  // The resource folder's name has blanks and quotes; the script notes what it was given.
  const auto args = dir_ / "args";
  useScript("printf '%s\\n' \"$0\" \"$1\" > '" + args.string() + "'\ncp \"$1\" '" +
            (dir_ / "seen.zip").string() + "'\n");
  EXPECT_EQ(milestones(run()).back(), "success");
  std::ifstream in(args);
  std::string script, package;
  std::getline(in, script);
  std::getline(in, package);
  EXPECT_EQ(fs::path(script).parent_path(), fs::path(package).parent_path());
  EXPECT_NE(fs::path(script).parent_path(), resources_);
  EXPECT_EQ(quillo::md5HexOfFile((dir_ / "seen.zip").string()),
            quillo::md5HexOfFile(downloaded().string()));
  EXPECT_FALSE(fs::exists(fs::path(script).parent_path())) << "the private folder is removed";
}

// Another process of the same user renames a different archive over the
// verified package between the check and root's unpacking.
TEST_F(InstallRunTest, ArchiveSwappedInAfterTheCheckIsNeverInstalled) {
  const auto forged = packApp("forged.zip", "forged");
  privileged::setAuthorizationPromptForTesting([&](const std::string&) {
    quillo::Spawned mover;
    EXPECT_FALSE(
        quillo::spawnProcess({"/bin/mv", "-f", forged.string(), downloaded().string()}, {}, mover));
    EXPECT_EQ(quillo::waitForExit(mover.pid), 0);
    return privileged::kErrAuthorizationSuccess;
  });
  EXPECT_EQ(milestones(run()),
            (std::vector<std::string>{"downLoadBegin", "installBegin", "fail(installError)"}));
  EXPECT_FALSE(fs::exists(installed()));
}

TEST_F(InstallRunTest, InstalledBundleBelongsToRootAndIsClosedToOthers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root; a user's own root: UserOwnedRootIsInstalledAsItsOwner";
  installLooseBundle(4242, 4242);
  expectInstalledOnlyWritableBy(0, 0);
}

// Not root, on a root of one's own: no prompt, and the bundle is the user's.
TEST_F(InstallRunTest, UserOwnedRootIsInstalledAsItsOwner) {
  if (::geteuid() == 0) GTEST_SKIP() << "root installs as root: InstalledBundleBelongsToRootAndIsClosedToOthers";
  usePrompt(dir_ / "prompt-used");
  installLooseBundle(::geteuid(), ::getegid());
  EXPECT_FALSE(fs::exists(dir_ / "prompt-used"));
  expectInstalledOnlyWritableBy(::geteuid(), ::getegid());
}

TEST_F(InstallRunTest, ScriptExitingWithThreeIsAnInstallError) {
  useScript("echo 'half done'\nexit 3\n");
  EXPECT_EQ(milestones(run()),
            (std::vector<std::string>{"downLoadBegin", "installBegin", "fail(installError)"}));
}

TEST_F(InstallRunTest, MissingScriptIsAnInstallError) {
  resources_ = dir_ / "no resources";
  EXPECT_EQ(milestones(run()).back(), "fail(installError)");
}

TEST_F(InstallRunTest, CancelledAuthorizationIsAnInstallCancel) {
  privileged::setAuthorizationPromptForTesting([](const std::string&) {
    return privileged::kErrAuthorizationCanceled;
  });
  usePrompt(dir_ / "prompt-used");
  EXPECT_EQ(milestones(run()).back(), "fail(installCancel)");
  EXPECT_FALSE(fs::exists(dir_ / "prompt-used")) << "a cancel does not fall back";
  EXPECT_FALSE(fs::exists(installed()));
}

TEST_F(InstallRunTest, RunnerLaunchFailureFallsBackToTheAdministratorShell) {
  privileged::setAuthorizationPromptForTesting([](const std::string&) {
    return privileged::kErrAuthorizationDenied;
  });
  usePrompt(dir_ / "prompt-used");
  EXPECT_EQ(milestones(run()).back(), "success");
  EXPECT_TRUE(fs::exists(dir_ / "prompt-used"));
  EXPECT_TRUE(fs::exists(installed() / "Contents/Info.json"));
}

TEST_F(InstallRunTest, BeforeVersion13OrWithoutTheRunnerTheShellIsUsed) {
  for (bool oldSystem : {true, false}) {
    SCOPED_TRACE(oldSystem ? "version 12" : "runner unavailable");
    if (oldSystem) {
      quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{12, 6, 0});
    } else {
      privileged::setExecuteWithPrivilegesAvailableForTesting(false);
    }
    const auto marker = dir_ / (oldSystem ? "prompt-12" : "prompt-none");
    usePrompt(marker);
    EXPECT_EQ(milestones(run()).back(), "success");
    EXPECT_TRUE(fs::exists(marker));
  }
}

TEST_F(InstallRunTest, FromVersion13ZeroTheRunnerIsUsed) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{13, 0, 0});
  usePrompt(dir_ / "prompt-used");
  EXPECT_EQ(milestones(run()).back(), "success");
  EXPECT_FALSE(fs::exists(dir_ / "prompt-used"));
}

TEST_F(InstallRunTest, DismissedShellPromptIsAnInstallCancelAndAFailedOneAnError) {
  privileged::setExecuteWithPrivilegesAvailableForTesting(false);
  usePrompt(dir_ / "prompt-used", privileged::kPromptDismissedExitStatus);
  EXPECT_EQ(milestones(run()).back(), "fail(installCancel)");
  privileged::setAdministratorPromptProgramForTesting((dir_ / "no such prompt").string());
  EXPECT_EQ(milestones(run()).back(), "fail(installError)") << "a shell that cannot start is no success";
}

// No name can make root run anything but the helper: a bundle and a download
// folder whose names hold "=", blanks, a leading "-" and a newline install
// through either privileged path, and root is handed the helper itself.
TEST_F(InstallRunTest, OddFolderNamesInstallAndRootRunsOnlyTheHelper) {
  // A root of the test user's own: either path runs without a prompt, as any user.
  fs::create_directories(quillo::folders::systemRoot());
  const auto odd = dir_ / "-dl=1 x\ny";
  fs::create_directories(odd / "Bundle.app/Contents/MacOS");
  fs::create_directories(odd / "Bundle.app/Contents/Resources");
  fs::copy_file(helper_, odd / "Bundle.app/Contents/MacOS/quillo-install-helper");
  fs::copy_file(resources_ / "install.sh", odd / "Bundle.app/Contents/Resources/install.sh");
  helper_ = odd / "Bundle.app/Contents/MacOS/quillo-install-helper";
  resources_ = odd / "Bundle.app/Contents/Resources";
  downloads_ = odd / "downloads=1";
  const auto argv = dir_ / "argv";
  const auto prompt = dir_ / "prompt";
  std::ofstream(prompt) << "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" << argv.string() << "'\nexec \"$@\"\n";
  fs::permissions(prompt, fs::perms::owner_all);
  for (const bool throughPrompt : {false, true}) {
    SCOPED_TRACE(throughPrompt ? "administrator shell" : "task runner");
    fs::remove_all(installed());
    privileged::setExecuteWithPrivilegesAvailableForTesting(!throughPrompt);
    privileged::setAdministratorPromptProgramForTesting(throughPrompt ? prompt.string() : "");
    EXPECT_EQ(milestones(run()).back(), "success");
    EXPECT_TRUE(fs::exists(installed() / "Contents/Info.json"));
  }
  std::ifstream in(argv);
  std::string first, second;
  std::getline(in, first, '\0');
  std::getline(in, second, '\0');
  EXPECT_EQ(first, helper_.string());
  EXPECT_EQ(second, "--system-root=" + quillo::folders::systemRoot());
}

TEST_F(InstallRunTest, DownloadFailuresEndTheRunWithTheirReasons) {
  serveInfo("00000000000000000000000000000000");
  EXPECT_EQ(milestones(run()),
            (std::vector<std::string>{"downLoadBegin", "fail(downloadError(invalidPackage))"}));
  server_.route("/info", {.status = 404});
  EXPECT_EQ(milestones(run()).back(), "fail(downloadError(network))");
  EXPECT_FALSE(fs::exists(installed()));
}

// install.sh on its own: bad packages fail and leave the installed copy alone.
TEST_F(InstallRunTest, InstallScriptRefusesBadPackagesAndKeepsTheInstalledCopy) {
  fs::create_directories(installed() / "Contents");
  std::ofstream(installed() / "Contents/Info.json") << "{}";
  const auto work = dir_ / "work";
  fs::create_directories(work / "Other.app");
  std::ofstream(work / "Other.app/x") << "x";
  fs::create_directories(work / "Quillo.app/Contents");
  fs::create_symlink("/etc", work / "Quillo.app/Contents/link");
  zip("other.zip", work, {"Other.app"});
  zip("link.zip", work, {"Quillo.app"});
  std::ofstream(dir_ / "garbage.zip") << "not a zip";
  for (const char* package : {"other.zip", "link.zip", "garbage.zip", "missing.zip"}) {
    quillo::Spawned p;
    ASSERT_FALSE(quillo::spawnProcess(
        {"/bin/sh", (fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources/install.sh").string(),
         (dir_ / package).string()},
        {.environment = {{"QUILLO_SYSTEM_ROOT", quillo::folders::systemRoot()}}}, p));
    EXPECT_NE(quillo::waitForExit(p.pid), 0) << package;
  }
  EXPECT_TRUE(fs::exists(installed() / "Contents/Info.json"));
  EXPECT_FALSE(fs::exists(installed() / "Contents/link"));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(installed().parent_path())) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"Quillo.app"}) << "no staging folders left behind";
}

TEST(InstallStateTest, DescriptionsNameTheCaseAndPayload) {
  EXPECT_EQ(State::downLoading(0.25).description(), "downLoading(0.25)");
  EXPECT_EQ(State::fail(Error::downloadError(Reason::lowDisk)).description(), "fail(downloadError(lowDisk))");
  EXPECT_EQ(State::fail(Error::installCancel()).description(), "fail(installCancel)");
  EXPECT_NE(State::fail(Error::installError()), State::fail(Error::installCancel()));
}

}  // namespace
