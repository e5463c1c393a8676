#include "platform/workspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/process.h"

extern char** environ;

namespace quillo {
namespace {

constexpr std::string_view kSessionVariable = "DBUS_SESSION_BUS_ADDRESS";

// Empty when unreadable. A process may end while its /proc files are read;
// the read then fails (ESRCH), which a stream would throw.
std::string readFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text = readAll(fd);
  ::close(fd);
  return text;
}

// The real user id from /proc/<pid>/status; nothing when unreadable.
std::optional<uid_t> realUid(const std::string& procDir) {
  std::istringstream status(readFile(procDir + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Uid:", 0) == 0) {
      std::istringstream fields(line.substr(4));
      long uid = -1;
      if (fields >> uid && uid >= 0) return static_cast<uid_t>(uid);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The session bus address in a NUL-separated environment block; empty when unset.
std::string sessionOf(const std::string& environBlock) {
  const std::string prefix = std::string(kSessionVariable) + "=";
  size_t start = 0;
  while (start < environBlock.size()) {
    size_t end = environBlock.find('\0', start);
    if (end == std::string::npos) end = environBlock.size();
    if (environBlock.compare(start, prefix.size(), prefix) == 0) {
      return environBlock.substr(start + prefix.size(), end - start - prefix.size());
    }
    start = end + 1;
  }
  return {};
}

std::string ourSession() {
  const char* value = std::getenv(std::string(kSessionVariable).c_str());
  return value ? value : "";
}

std::optional<std::string> executableOf(const std::string& procDir) {
  char buf[4096];
  const ssize_t n = ::readlink((procDir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::nullopt;
  std::string path(buf, static_cast<size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  return path;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> ptrs;
  for (auto& s : strings) ptrs.push_back(s.data());
  ptrs.push_back(nullptr);
  return ptrs;
}

// Forks twice so that the program is nobody's child here and never a zombie
// of ours; exec's errno comes back through a close-on-exec pipe.
std::optional<std::string> launchDetached(std::vector<std::string> argv) {
  auto argPtrs = pointers(argv);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t middle = ::fork();
  if (middle < 0) {
    const int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    return std::string("fork: ") + std::strerror(err);
  }
  if (middle == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t program = ::fork();
    if (program != 0) ::_exit(program < 0 ? 1 : 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGHUP}) ::signal(sig, SIG_DFL);
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      ::dup2(devNull, 0);
      ::dup2(devNull, 1);
      ::dup2(devNull, 2);
      if (devNull > 2) ::close(devNull);
    }
    // Nothing of ours but the report pipe (closed by exec) reaches the program.
    if (report[1] > 3) ::close_range(3, static_cast<unsigned>(report[1]) - 1, 0);
    ::close_range(static_cast<unsigned>(report[1]) + 1, ~0U, 0);
    ::execve(argPtrs[0], argPtrs.data(), environ);
    const int err = errno;
    ssize_t ignored = ::write(report[1], &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int childErrno = 0;
  ssize_t n;
  while ((n = ::read(report[0], &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof childErrno)) {
    return "cannot execute " + argv[0] + ": " + std::strerror(childErrno);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::string("fork failed");
  return std::nullopt;
}

// Calls `visit(pid, executable)` for every other process of this session
// whose executable `wanted` accepts; the cheap test on the path runs before
// the session is read.
template <typename Wanted, typename Visit>
void forEachSessionProcess(Wanted wanted, Visit visit) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  const pid_t self = ::getpid();
  const uid_t uid = ::getuid();
  const std::string session = ourSession();
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*entry->d_name == '\0' || *end != '\0' || pid <= 0 || pid == self) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    const auto exe = executableOf(dir);
    if (!exe || !wanted(*exe)) continue;
    if (realUid(dir) != uid) continue;
    if (sessionOf(readFile(dir + "/environ")) != session) continue;
    visit(static_cast<pid_t>(pid), *exe);
  }
  ::closedir(proc);
}

}  // namespace

bool RunningApplication::terminate() const { return ::kill(pid_, SIGTERM) == 0; }

std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) {
  std::vector<RunningApplication> found;
  forEachSessionProcess(
      [&](const std::string& exe) {
        const auto bundlePath = Bundle::enclosingBundlePath(exe);
        return bundlePath && Bundle(*bundlePath).bundleIdentifier() == bundleIdentifier;
      },
      [&](pid_t pid, const std::string& exe) {
        found.emplace_back(pid, bundleIdentifier, *Bundle::enclosingBundlePath(exe));
      });
  return found;
}

int restartSystemAgent(std::string_view name) {
  const std::string root = folders::systemRoot();
  if (root.empty() || name.empty()) return 0;
  const std::string inside = root + "/";
  int signalled = 0;
  forEachSessionProcess(
      [&](const std::string& exe) {
        return exe.starts_with(inside) && std::string_view(exe).substr(exe.rfind('/') + 1) == name;
      },
      [&](pid_t pid, const std::string&) {
        if (::kill(pid, SIGKILL) == 0) ++signalled;
      });
  return signalled;
}

std::string bundleExecutablePath(const std::string& bundlePath) {
  const Bundle bundle(bundlePath);
  std::string name = bundle.infoString("CFBundleExecutable").value_or("");
  if (name.empty() || name.find('/') != std::string::npos) {
    std::string folder = bundlePath;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    name = folder.substr(folder.find_last_of('/') + 1);
    if (name.ends_with(".app")) name.resize(name.size() - 4);
  }
  return bundle.executableFolder() + "/" + name;
}

void openApplication(const std::string& bundlePath, std::vector<std::string> arguments,
                     OpenApplicationCompletion completion) {
  Queue::global(Qos::Default)->async([bundlePath, arguments = std::move(arguments),
                                      completion = std::move(completion)] {
    const std::string program = bundleExecutablePath(bundlePath);
    std::optional<std::string> error;
    if (::access(program.c_str(), X_OK) != 0) {
      error = "The application \"" + bundlePath + "\" cannot be opened: " + std::strerror(errno);
    } else {
      std::vector<std::string> argv{program};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      error = launchDetached(std::move(argv));
    }
    if (completion) completion(std::move(error));
  });
}

}  // namespace quillo
