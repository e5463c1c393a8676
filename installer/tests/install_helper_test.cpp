// quillo-install-helper as the installer runs it: a separate process, its
// command line, its output, and what it leaves behind when it is stopped.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "installer/md5.h"
#include "installer/verified_install.h"
#include "platform/process.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kHelper = QUILLO_BUNDLE_DIR "/Contents/MacOS/quillo-install-helper";

struct HelperRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Whether `pid` has ended (a zombie nobody reaps counts as ended).
bool isGone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// Waits up to 30 s for `condition`.
template <typename F>
bool eventually(F condition) {
  for (auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

class InstallHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("install-helper-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "root");
    std::ofstream(package()) << "the package";
    // The script notes its own pid and its child's, then waits for the
    // child; asked to stop, it notes that it could clean up.
    writeScript("trap 'echo cleaned > \"" + cleaned().string() + "\"; exit 1' TERM\necho $$ > '" +
                pids().string() + "'\nsleep 300 &\necho $! >> '" + pids().string() + "'\nwait\n");
  }
  void TearDown() override {
    if (helper_.pid > 0) {
      ::kill(helper_.pid, SIGKILL);
      (void)quillo::waitForExit(helper_.pid);
    }
    if (helper_.outputFd >= 0) ::close(helper_.outputFd);
    fs::remove_all(dir_);
  }

  void writeScript(const std::string& body) { std::ofstream(dir_ / "install.sh") << body; }
  fs::path package() const { return dir_ / "package.zip"; }
  fs::path pids() const { return dir_ / "pids"; }
  fs::path cleaned() const { return dir_ / "cleaned"; }
  std::vector<std::string> args(const fs::path& pkg, const std::string& md5, int64_t size) const {
    return {kHelper, "--system-root=" + (dir_ / "root").string(), (dir_ / "install.sh").string(),
            pkg.string(), md5, std::to_string(size)};
  }
  std::vector<std::string> args() const {
    return args(package(), *quillo::md5HexOfFile(package().string()), fs::file_size(package()));
  }

  static HelperRun run(const std::vector<std::string>& argv,
                       std::vector<std::pair<std::string, std::string>> environment = {}) {
    HelperRun r;
    quillo::Spawned p;
    if (quillo::spawnProcess(argv, {.environment = std::move(environment), .captureOutput = true,
                                    .captureError = true},
                             p)) {
      return r;
    }
    quillo::readBoth(p.outputFd, r.out, p.errorFd, r.err);
    ::close(p.outputFd);
    ::close(p.errorFd);
    r.status = quillo::waitForExit(p.pid).value_or(-1);
    return r;
  }
  void start(const std::vector<std::string>& argv) {
    ASSERT_FALSE(quillo::spawnProcess(argv, {.captureOutput = true}, helper_));
  }
  // Ends the started helper; its status and what it printed.
  HelperRun finish() {
    HelperRun r;
    r.out = quillo::readAll(helper_.outputFd);
    ::close(helper_.outputFd);
    helper_.outputFd = -1;
    r.status = quillo::waitForExit(helper_.pid).value_or(-1);
    helper_.pid = -1;
    return r;
  }
  // The private folders of the run of the helper `pid`.
  static std::vector<fs::path> stagingFolders(pid_t pid) {
    std::vector<fs::path> found;
    const std::string prefix = std::string(quillo::kStagingFolderPrefix) + std::to_string(pid) + ".";
    std::error_code ec;
    for (fs::directory_iterator it("/var/tmp", ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().filename().string().starts_with(prefix)) found.push_back(it->path());
    }
    return found;
  }
  // The script's pids, once it has noted both.
  std::vector<pid_t> scriptPids() const {
    std::vector<pid_t> out;
    EXPECT_TRUE(eventually([&] {
      std::ifstream in(pids());
      out.clear();
      for (pid_t pid = 0; in >> pid;) out.push_back(pid);
      return out.size() == 2;
    }));
    return out;
  }

  fs::path dir_;
  quillo::Spawned helper_;
};

TEST_F(InstallHelperTest, ErrorsArePrintedOnceWhereTheTaskRunnerReadsThem) {
  auto argv = args();
  argv[4] = "not an md5";
  const HelperRun r = run(argv);
  EXPECT_EQ(r.status, quillo::kVerifiedInstallUsage);
  EXPECT_EQ(r.out, "quillo-install-helper: the expected MD5 is not 32 lower-case hexadecimal digits\n");
  EXPECT_EQ(r.err, "");
}

// A rule that lets users install without a password names this program: it
// must not let them run a script of their own as root.
TEST_F(InstallHelperTest, StartedThroughPkexecOnlyItsBundlesScriptRuns) {
  const HelperRun custom = run(args(), {{"PKEXEC_UID", "1000"}});
  EXPECT_EQ(custom.status, quillo::kVerifiedInstallBadInput);
  EXPECT_NE(custom.out.find("only this bundle's install script runs"), std::string::npos) << custom.out;
  EXPECT_FALSE(fs::exists(pids()));

  auto bundled = args();
  bundled[2] = QUILLO_BUNDLE_DIR "/Contents/Resources/install.sh";
  const HelperRun ran = run(bundled, {{"PKEXEC_UID", "1000"}});
  EXPECT_EQ(ran.status, 1) << "install.sh itself refuses a package that is no archive: " << ran.out;
}

TEST_F(InstallHelperTest, StopSignalsEndTheScriptAndRemoveThePrivateFolder) {
  // Large enough that the copy is still going when the signal comes; sparse,
  // so only what is copied before takes room.
  const auto large = dir_ / "large.zip";
  std::ofstream(large).close();
  fs::resize_file(large, int64_t{4} << 30);
  const std::string md5(32, '0');
  struct Case {
    const char* phase;
    int signal;
  };
  for (const auto& [phase, sig] : {Case{"copy", SIGTERM}, Case{"copy", SIGHUP}, Case{"copy", SIGINT},
                                   Case{"script", SIGTERM}}) {
    SCOPED_TRACE(std::string(phase) + " " + ::sigabbrev_np(sig));
    const bool duringCopy = std::string(phase) == "copy";
    fs::remove(pids());
    fs::remove(cleaned());
    start(duringCopy ? args(large, md5, fs::file_size(large)) : args());
    const pid_t pid = helper_.pid;
    std::vector<pid_t> script;
    if (duringCopy) {
      ASSERT_TRUE(eventually([&] {
        const auto folders = stagingFolders(pid);
        std::error_code ec;
        return folders.size() == 1 && fs::file_size(folders[0] / "package.zip", ec) > 0;
      }));
    } else {
      script = scriptPids();
    }
    ASSERT_EQ(stagingFolders(pid).size(), 1u);
    ::kill(pid, sig);
    const HelperRun r = finish();
    EXPECT_EQ(r.status, quillo::kVerifiedInstallStopped) << r.out;
    EXPECT_NE(r.out.find(std::string("stopped by SIG") + ::sigabbrev_np(sig)), std::string::npos) << r.out;
    EXPECT_TRUE(stagingFolders(pid).empty()) << "the private folder is removed";
    for (const pid_t p : script) EXPECT_TRUE(eventually([&] { return isGone(p); })) << p;
    EXPECT_EQ(fs::exists(cleaned()), !duringCopy) << "a running script is asked to stop first";
  }
}

TEST_F(InstallHelperTest, KilledHelperTakesItsScriptAlongAndTheNextRunSweepsItsFolder) {
  start(args());
  const auto script = scriptPids();
  ASSERT_EQ(script.size(), 2u);
  const auto left = stagingFolders(helper_.pid);
  ASSERT_EQ(left.size(), 1u);
  ::kill(helper_.pid, SIGKILL);
  (void)finish();
  for (const pid_t p : script) EXPECT_TRUE(eventually([&] { return isGone(p); })) << p;
  EXPECT_TRUE(fs::exists(cleaned())) << "the script is asked to stop first";
  EXPECT_TRUE(fs::exists(left[0])) << "nothing could remove it yet";

  auto mismatch = args();
  mismatch[4] = std::string(32, '0');
  EXPECT_EQ(run(mismatch).status, quillo::kVerifiedInstallMismatch);
  EXPECT_FALSE(fs::exists(left[0]));
}

TEST_F(InstallHelperTest, PackageLargerThanToldIsRefusedBeforeItIsCopied) {
  const auto md5 = *quillo::md5HexOfFile(package().string());
  const HelperRun smaller = run(args(package(), md5, 5));
  EXPECT_EQ(smaller.status, quillo::kVerifiedInstallBadInput);
  EXPECT_NE(smaller.out.find("is larger than 5 bytes"), std::string::npos) << smaller.out;

  const auto huge = dir_ / "huge.zip";
  std::ofstream(huge).close();
  fs::resize_file(huge, quillo::kMaxPackageSize + 1);
  const HelperRun capped = run(args(huge, md5, quillo::kMaxPackageSize * 2));
  EXPECT_EQ(capped.status, quillo::kVerifiedInstallBadInput);
  EXPECT_NE(capped.out.find("is larger than 5368709120 bytes"), std::string::npos) << capped.out;
  EXPECT_FALSE(fs::exists(pids()));
}

}  // namespace
