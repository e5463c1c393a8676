// quillo-install-helper as the installer runs it: a separate process, its
// command line, its output, and what it leaves behind when it is stopped.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
           ("install-helper-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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
    for (const auto& folder : {callerFiles_, dir_}) {
      if (folder.empty()) continue;
      std::error_code ec;
      fs::permissions(folder / "closed", fs::perms::owner_all, ec);
      fs::remove_all(folder, ec);
    }
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
  // Files another user must be able to reach (root's tests only).
  fs::path callerFiles_;
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
  const std::string self = std::to_string(::geteuid());
  const HelperRun custom = run(args(), {{"PKEXEC_UID", self}});
  EXPECT_EQ(custom.status, quillo::kVerifiedInstallBadInput);
  EXPECT_NE(custom.out.find("only this bundle's install script runs"), std::string::npos) << custom.out;
  EXPECT_FALSE(fs::exists(pids()));

  auto bundled = args();
  bundled[2] = QUILLO_BUNDLE_DIR "/Contents/Resources/install.sh";
  const HelperRun ran = run(bundled, {{"PKEXEC_UID", self}});
  EXPECT_EQ(ran.status, 1) << "install.sh itself refuses a package that is no archive: " << ran.out;
}

// Whatever is wrong with the command line, nothing runs as root.
TEST_F(InstallHelperTest, MalformedCommandLinesAreUsageErrorsAndRunNothing) {
  writeScript("echo ran > '" + pids().string() + "'\n");
  const auto with = [&](size_t at, const std::string& value) {
    auto argv = args();
    argv[at] = value;
    return argv;
  };
  auto extra = args();
  extra.push_back("extra");
  auto missing = args();
  missing.pop_back();
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"a sixth argument", extra},
      {"four arguments", missing},
      {"no --system-root", with(1, "--root=" + (dir_ / "root").string())},
      {"a relative root", with(1, "--system-root=root")},
      {"an empty root", with(1, "--system-root=")},
      {"a size that is no number", with(5, "12a")},
      {"a negative size", with(5, "-1")},
      {"a size of 19 digits", with(5, "9999999999999999999")},
  };
  for (const auto& [what, argv] : cases) {
    const HelperRun r = run(argv);
    EXPECT_EQ(r.status, quillo::kVerifiedInstallUsage) << what << ": " << r.out;
    EXPECT_NE(r.out.find("usage: quillo-install-helper"), std::string::npos) << what;
  }
  // The largest size it takes, 18 digits, is no usage error: the package is checked.
  auto largest = with(5, "999999999999999999");
  largest[4] = std::string(32, '0');
  const HelperRun taken = run(largest);
  EXPECT_EQ(taken.status, quillo::kVerifiedInstallMismatch) << taken.out;
  for (const char* help : {"--help", "-h"}) {
    const HelperRun r = run({kHelper, help});
    EXPECT_EQ(r.status, 0) << help << ": " << r.out;
    EXPECT_EQ(r.out.rfind("usage: quillo-install-helper", 0), 0u) << help << ": " << r.out;
  }
  EXPECT_FALSE(fs::exists(pids()));
}

// 73 is also what the helper answers when it cannot make its folder in
// /var/tmp and tries /tmp: a script that exits so has run, and runs once.
TEST_F(InstallHelperTest, ScriptThatExitsLikeAMissingFolderRunsOnce) {
  writeScript("echo ran >> '" + pids().string() + "'\nexit 73\n");
  const HelperRun r = run(args());
  EXPECT_EQ(r.status, quillo::kVerifiedInstallNoStaging);
  EXPECT_EQ(r.out, "");
  std::ifstream in(pids());
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "ran\n");
}

// Root's script sees a fixed environment, no input and no ignored signal
// (on which a trap of its own would not work), whoever started the helper
// with whatever PATH (a folder of theirs holding a mkdir, say).
TEST_F(InstallHelperTest, ScriptRunsWithAFixedEnvironmentAndNoInput) {
  const auto seen = dir_ / "env";
  const auto input = dir_ / "input";
  const auto ignored = dir_ / "ignored";
  writeScript("env > '" + seen.string() + "'\ncat > '" + input.string() + "'\n" +
              "grep SigIgn /proc/$$/status > '" + ignored.string() + "'\n");
  std::ofstream(dir_ / "typed") << "typed by the caller\n";
  auto argv = args();
  argv.insert(argv.begin(),
              {"/bin/sh", "-c", "trap '' HUP INT QUIT PIPE; exec \"$0\" \"$@\" < \"$TYPED\""});
  const HelperRun r = run(argv, {{"PATH", dir_.string() + ":/usr/bin:/bin"},
                                 {"LD_LIBRARY_PATH", dir_.string()},
                                 {"TYPED", (dir_ / "typed").string()}});
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(seen);
  std::map<std::string, std::string> variables;
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    variables[line.substr(0, eq)] = line.substr(eq + 1);
  }
  variables.erase("PWD");  // The shell's own.
  EXPECT_EQ(variables,
            (std::map<std::string, std::string>{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"},
                                                {"LC_ALL", "C"},
                                                {"QUILLO_SYSTEM_ROOT", (dir_ / "root").string()}}));
  EXPECT_EQ(fs::file_size(input), 0u);
  std::ifstream mask(ignored);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(mask)), {}), "SigIgn:\t0000000000000000\n");
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

namespace {

// Through pkexec the caller names the package: what they could not open and
// read themselves gets one answer, in the same words and with the same
// status, and its MD5 or size is never told.
TEST_F(InstallHelperTest, StartedThroughPkexecTheCallerMustBeAbleToReadThePackage) {
  // Root asks for another user; anyone else can only ask for themselves.
  const bool root = ::geteuid() == 0;
  const uid_t caller = root ? 65534 : ::geteuid();
  callerFiles_ =
      root ? fs::path("/tmp") / ("quillo-caller-" + std::to_string(::getpid())) : dir_ / "files";
  const fs::path files = callerFiles_;
  fs::create_directories(files / "closed");
  fs::permissions(files, fs::perms(0755));
  const auto secret = files / "secret";
  std::ofstream(secret) << "what the caller may not read";
  const std::string secretMd5 = *quillo::md5HexOfFile(secret.string());
  fs::permissions(secret, root ? fs::perms(0600) : fs::perms::none);
  std::ofstream(files / "closed/package.zip") << "the package";
  fs::permissions(files / "closed", fs::perms::none);
  const auto readable = files / "readable.zip";
  std::ofstream(readable) << "a package the caller may read";
  fs::create_symlink(readable, files / "link.zip");
  ASSERT_EQ(::mkfifo((files / "fifo.zip").c_str(), 0666), 0);

  const auto helperArgs = [&](const fs::path& pkg, int64_t size) {
    auto argv = args(pkg, secretMd5, size);
    argv[2] = QUILLO_BUNDLE_DIR "/Contents/Resources/install.sh";
    return argv;
  };
  std::vector<std::pair<std::string, std::vector<std::string>>> refused = {
      {"missing", helperArgs(files / "missing.zip", 100)},
      {"not readable by the caller", helperArgs(secret, 100)},
      {"in a folder the caller cannot enter", helperArgs(files / "closed/package.zip", 100)},
      {"larger than its size", helperArgs(readable, 5)},
      {"a device", helperArgs("/dev/zero", 100)},
      {"a pipe", helperArgs(files / "fifo.zip", 100)},
      {"a link", helperArgs(files / "link.zip", 100)},
  };
  if (root) {
    // Readable through a group root is in and the caller is not.
    const auto grouped = files / "grouped.zip";
    std::ofstream(grouped) << "the group's";
    ASSERT_EQ(::chown(grouped.c_str(), 0, 4242), 0);
    fs::permissions(grouped, fs::perms(0640));
    auto argv = helperArgs(grouped, 100);
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--groups", "4242", "--"});
    refused.emplace_back("readable by a group of root's only", argv);
  }
  for (const auto& [what, argv] : refused) {
    const HelperRun r = run(argv, {{"PKEXEC_UID", std::to_string(caller)}});
    EXPECT_EQ(r.status, quillo::kVerifiedInstallBadInput) << what;
    EXPECT_EQ(r.out, "quillo-install-helper: cannot use this package\n") << what;
  }
  // Ids that are no user's, and one that would wrap round to the caller's.
  for (const std::string& uid :
       {std::string(), std::string("x"), std::string("-1"), std::string("4294967295"),
        std::to_string((uint64_t{1} << 32) + caller), std::string("99999999999")}) {
    const HelperRun r = run(helperArgs(readable, 100), {{"PKEXEC_UID", uid}});
    EXPECT_EQ(r.out, "quillo-install-helper: cannot use this package\n") << uid;
  }
  // A file the caller can read is used; its MD5 may be told.
  const HelperRun used = run(helperArgs(readable, 100), {{"PKEXEC_UID", std::to_string(caller)}});
  EXPECT_EQ(used.status, quillo::kVerifiedInstallMismatch) << used.out;
  EXPECT_NE(used.out.find(*quillo::md5HexOfFile(readable.string())), std::string::npos) << used.out;
  EXPECT_TRUE(fs::is_empty(dir_ / "root"));
}

}  // namespace
