#include "platform/privileged.h"

#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/folders.h"
#include "platform/process.h"

namespace {
namespace fs = std::filesystem;
namespace privileged = quillo::privileged;

class PrivilegedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("privileged-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    privileged::setAuthorizationPromptForTesting(nullptr);
    privileged::setExecuteWithPrivilegesAvailableForTesting(std::nullopt);
    privileged::setAdministratorPromptProgramForTesting("");
    quillo::folders::setSystemRoot("");
    fs::remove_all(dir_);
  }
  // A system root of this user's own: we administer it without a prompt.
  std::string ownRoot() {
    const auto root = dir_ / "it's root";
    fs::create_directories(root);
    quillo::folders::setSystemRoot(root.string());
    return root.string();
  }
  // A stand-in for the prompt program: a script with this body.
  std::string fakePrompt(const std::string& body) {
    const auto path = (dir_ / "pkexec").string();
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  fs::path dir_;
};

TEST_F(PrivilegedTest, ExecuteRunsTheToolAsTheRootsAdministratorWithItsArgvAndOutputPipe) {
  ownRoot();
  privileged::Authorization auth;
  ASSERT_EQ(privileged::authorizeAdministrator("/bin/sh", auth), 0);
  privileged::PrivilegedChild child;
  ASSERT_EQ(privileged::executeWithPrivileges(
                auth, "/bin/sh",
                {"-c", "printf '%s|%s|%s' \"$(id -u)\" \"$PWD\" \"$1\"", "sh", "a 'b' \"c\""},
                dir_.string(), child),
            0);
  EXPECT_GT(child.pid, 0);
  const auto out = quillo::readAll(child.outputFd);
  ::close(child.outputFd);
  EXPECT_EQ(quillo::waitForExit(child.pid), 0);
  EXPECT_EQ(out, std::to_string(::geteuid()) + "|" + dir_.string() + "|a 'b' \"c\"");
}

TEST_F(PrivilegedTest, PromptAnswersAndMissingToolsGiveTheirStatuses) {
  privileged::setAuthorizationPromptForTesting([](const std::string&) {
    return privileged::kErrAuthorizationCanceled;
  });
  privileged::Authorization auth;
  EXPECT_EQ(privileged::authorizeAdministrator("/bin/sh", auth), privileged::kErrAuthorizationCanceled);
  EXPECT_FALSE(auth.administratorGranted);
  privileged::PrivilegedChild child;
  EXPECT_EQ(privileged::executeWithPrivileges(auth, "/bin/sh", {}, "", child),
            privileged::kErrAuthorizationDenied);

  privileged::setAuthorizationPromptForTesting([](const std::string&) { return 0; });
  ASSERT_EQ(privileged::authorizeAdministrator("/nonexistent", auth), 0);
  EXPECT_EQ(privileged::executeWithPrivileges(auth, "/nonexistent", {}, "", child),
            privileged::kErrAuthorizationToolExecuteFailure);
  EXPECT_EQ(child.pid, -1);
}

TEST_F(PrivilegedTest, AvailabilityFollowsWhoAdministersTheRootUnlessOverridden) {
  quillo::folders::setSystemRoot("/");
  EXPECT_EQ(privileged::executeWithPrivilegesAvailable(), ::geteuid() == 0);
  ownRoot();
  EXPECT_TRUE(privileged::executeWithPrivilegesAvailable());
  privileged::setExecuteWithPrivilegesAvailableForTesting(false);
  EXPECT_FALSE(privileged::executeWithPrivilegesAvailable());
}

// Root administers every root: as root, the checks run in a child that
// has become an unprivileged user.
TEST_F(PrivilegedTest, ARootThatIsALinkMissingOrAnotherUsersIsNotOurs) {
  fs::create_directories(dir_ / "real");
  fs::create_directory_symlink(dir_ / "real", dir_ / "link");
  const auto check = [&] {
    int wrong = 0;
    for (const auto& root : {dir_ / "link", dir_ / "missing", fs::path("/usr"), fs::path("/")}) {
      quillo::folders::setSystemRoot(root.string());
      wrong += privileged::administersSystemRoot();
    }
    privileged::Authorization auth;
    wrong +=
        privileged::authorizeAdministrator("/bin/sh", auth) != privileged::kErrAuthorizationDenied;
    return wrong;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(check(), 0);
    return;
  }
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const gid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
        ::setresuid(nobody, nobody, nobody) != 0) {
      ::_exit(100);
    }
    ::_exit(check());
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "roots taken for ours (100: could not become nobody)";
}

TEST_F(PrivilegedTest, AdministratorShellRunsDirectlyForTheRootsAdministrator) {
  ownRoot();
  auto ok = privileged::runWithAdministratorPrivileges({"/bin/sh", "-c", "echo out; echo err >&2"});
  EXPECT_EQ(ok.errorNumber, std::nullopt);
  EXPECT_EQ(ok.output, "out");

  auto failed = privileged::runWithAdministratorPrivileges({"/bin/sh", "-c", "echo why >&2; exit 3"});
  EXPECT_EQ(failed.errorNumber, 3);
  EXPECT_EQ(failed.errorMessage, "why\n");

  auto killed = privileged::runWithAdministratorPrivileges({"/bin/sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(killed.errorNumber, 128 + 15) << "a killed tool is not a success";
}

// pkexec runs whatever its first word names: that is the tool itself, and
// nothing in the argv can pass for another program or an option.
TEST_F(PrivilegedTest, PromptProgramRunsExactlyTheToolsArgv) {
  quillo::folders::setSystemRoot("/opt/quillo");
  privileged::setAdministratorPromptProgramForTesting(
      fakePrompt("printf '%s\\n' \"$@\" > '" + (dir_ / "argv").string() + "'"));
  EXPECT_EQ(privileged::runWithAdministratorPrivileges({"/x/dl=1/helper", "A=b", "/y/Quillo.zip"}).errorNumber,
            std::nullopt);
  std::ifstream in(dir_ / "argv");
  std::string argv((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(argv, "/x/dl=1/helper\nA=b\n/y/Quillo.zip\n");

  for (const char* tool : {"-x", "env", "sub/tool"}) {
    const auto r = privileged::runWithAdministratorPrivileges({tool});
    EXPECT_EQ(r.errorNumber, privileged::kShellNotStartedErr) << tool;
    EXPECT_NE(r.errorMessage.find("not an absolute path"), std::string::npos) << r.errorMessage;
  }
}

TEST_F(PrivilegedTest, DismissedPromptIsUserCanceled) {
  privileged::setAdministratorPromptProgramForTesting(fakePrompt("exit 126"));
  auto r = privileged::runWithAdministratorPrivileges({"/bin/true"});
  EXPECT_EQ(r.errorNumber, privileged::kUserCanceledErr);
}

TEST_F(PrivilegedTest, ShellThatCannotStartIsAFailure) {
  privileged::setAdministratorPromptProgramForTesting((dir_ / "no-such-prompt").string());
  auto r = privileged::runWithAdministratorPrivileges({"/bin/true"});
  EXPECT_EQ(r.errorNumber, privileged::kShellNotStartedErr);
  EXPECT_NE(r.errorMessage.find("no-such-prompt"), std::string::npos);
  EXPECT_EQ(r.errorMessage.find("pkexec is not installed"), std::string::npos) << "not pkexec";
  EXPECT_EQ(privileged::runWithAdministratorPrivileges({}).errorNumber, privileged::kShellNotStartedErr);
}

TEST_F(PrivilegedTest, PkexecFailuresSayWhyInWords) {
  privileged::setAdministratorPromptProgramForTesting((dir_ / "pkexec").string());
  auto missing = privileged::runWithAdministratorPrivileges({"/bin/true"});
  EXPECT_EQ(missing.errorNumber, privileged::kShellNotStartedErr);
  EXPECT_THAT(missing.errorMessage, ::testing::HasSubstr("pkexec is not installed"));

  privileged::setAdministratorPromptProgramForTesting(
      fakePrompt("echo 'Error executing command as another user: No authentication agent found.' >&2; exit 127"));
  auto noAgent = privileged::runWithAdministratorPrivileges({"/bin/true"});
  EXPECT_EQ(noAgent.errorNumber, privileged::kShellNotStartedErr) << "127 is not the tool's status";
  EXPECT_THAT(noAgent.errorMessage, ::testing::HasSubstr("no polkit authentication agent"));
  EXPECT_THAT(noAgent.errorMessage, ::testing::HasSubstr("No authentication agent found."));
}

}  // namespace
