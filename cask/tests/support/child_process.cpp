#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "cask_internal.h"

extern char** environ;

namespace cask::testing {

namespace {

std::map<std::string, ChildRole>& roles() {
  static std::map<std::string, ChildRole> registry;
  return registry;
}

std::string g_killPoint;
int g_killHit = 1;
std::atomic<int> g_hits{0};
std::string g_hangPoint;

void testPointHook(const char* name) {
  if (!g_hangPoint.empty() && g_hangPoint == name) {
    sendLine("hang");
    for (;;) pause();
  }
  if (!g_killPoint.empty() && g_killPoint == name && ++g_hits == g_killHit) {
    sendLine(std::string("point ") + name);
    raise(SIGKILL);
  }
}

}  // namespace

ChildRoleRegistrar::ChildRoleRegistrar(const char* name, ChildRole role) { roles()[name] = role; }

ChildProcess ChildProcess::spawn(const std::string& role, const std::vector<std::string>& args,
                                 const std::vector<std::string>& env) {
  int out[2];
  int in[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> argvStrings = {"/proc/self/exe", "--cask-child=" + role};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(in[0], STDIN_FILENO);
    execve("/proc/self/exe", argv.data(), envp.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(in[0]);
  ChildProcess child;
  child.pid_ = pid;
  child.fromChild_ = out[0];
  child.toChild_ = in[1];
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_),
      fromChild_(other.fromChild_),
      toChild_(other.toChild_),
      buffered_(std::move(other.buffered_)),
      reaped_(other.reaped_),
      status_(other.status_) {
  other.pid_ = -1;
  other.fromChild_ = -1;
  other.toChild_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) kill();
  if (fromChild_ >= 0) ::close(fromChild_);
  if (toChild_ >= 0) ::close(toChild_);
}

std::optional<std::string> ChildProcess::readLine() {
  for (;;) {
    if (const size_t newline = buffered_.find('\n'); newline != std::string::npos) {
      std::string line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return line;
    }
    char chunk[4096];
    const ssize_t got = read(fromChild_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<size_t>(got));
  }
}

void ChildProcess::writeLine(const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(toChild_, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

void ChildProcess::kill() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  wait();
}

int ChildProcess::wait() {
  if (reaped_) return status_;
  while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return status_;
}

void sendLine(const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

std::optional<std::string> receiveLine() {
  std::string line;
  char c;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line += c;
  }
}

void installTestPointsFromEnvironment() {
  if (const char* kill = std::getenv("CASK_KILL_AT")) {
    std::string setting = kill;
    if (const size_t colon = setting.find(':'); colon != std::string::npos) {
      g_killHit = std::atoi(setting.c_str() + colon + 1);
      setting.resize(colon);
    }
    g_killPoint = setting;
  }
  if (const char* hang = std::getenv("CASK_HANG_AT")) g_hangPoint = hang;
  if (!g_killPoint.empty() || !g_hangPoint.empty()) detail::g_testPointHook = &testPointHook;
}

namespace {

std::mutex g_tempDirsMutex;
std::set<std::string> g_tempDirs;  // Guarded by g_tempDirsMutex.
pid_t g_tempDirsOwner = 0;

// Whatever a test did not remove itself (a failed assertion, a fixture that
// keeps stores open across tests) goes when the process exits.
void removeLeftoverTempDirs() {
  std::lock_guard<std::mutex> lock(g_tempDirsMutex);
  if (getpid() != g_tempDirsOwner) return;
  for (const std::string& dir : g_tempDirs) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
  g_tempDirs.clear();
}

}  // namespace

std::string makeTempDir(const std::string& name) {
  static std::atomic<int> counter{0};
  const char* base = std::getenv("QUILLO_TEST_TMP");
  std::string root = base != nullptr ? base : "/tmp";
  mkPath(root);
  std::string flat = name;  // parameterised test names hold "/"
  std::replace(flat.begin(), flat.end(), '/', '_');
  const std::string path = root + "/cask-" + flat + "-" + std::to_string(getpid()) + "-" +
                           std::to_string(counter.fetch_add(1));
  std::error_code error;
  std::filesystem::remove_all(path, error);
  if (!mkPath(path)) throw std::runtime_error("cannot create " + path);
  std::lock_guard<std::mutex> lock(g_tempDirsMutex);
  if (g_tempDirsOwner != getpid()) {
    g_tempDirsOwner = getpid();
    std::atexit(removeLeftoverTempDirs);
  }
  g_tempDirs.insert(path);
  return path;
}

void removeTempDir(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
  std::lock_guard<std::mutex> lock(g_tempDirsMutex);
  g_tempDirs.erase(path);
}

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

int runChildIfRequested(int argc, char** argv) {
  constexpr std::string_view kFlag = "--cask-child=";
  if (argc < 2 || std::string_view(argv[1]).substr(0, kFlag.size()) != kFlag) return -1;
  const std::string role(std::string_view(argv[1]).substr(kFlag.size()));
  const auto found = roles().find(role);
  if (found == roles().end()) return 126;
  installTestPointsFromEnvironment();
  return found->second(std::vector<std::string>(argv + 2, argv + argc));
}

}  // namespace cask::testing
