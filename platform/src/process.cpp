#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace quillo {
namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() { closeBoth(); }
  bool open() { return ::pipe2(fds, O_CLOEXEC) == 0; }
  void closeBoth() {
    for (int& fd : fds) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }
  int release(int i) {
    int fd = fds[i];
    fds[i] = -1;
    return fd;
  }
};

// The child's environment: ours with `overrides` set. Built before fork,
// since the child of a threaded process may only call async-signal-safe code.
std::vector<std::string> buildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    bool replaced = false;
    for (const auto& [name, value] : overrides) {
      if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
          entry[name.size()] == '=') {
        replaced = true;
        break;
      }
    }
    if (!replaced) env.push_back(std::move(entry));
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> ptrs;
  ptrs.reserve(strings.size() + 1);
  for (auto& s : strings) ptrs.push_back(s.data());
  ptrs.push_back(nullptr);
  return ptrs;
}

[[noreturn]] void childFail(int reportFd) {
  const int err = errno;
  ssize_t ignored = ::write(reportFd, &err, sizeof err);
  (void)ignored;
  ::_exit(127);
}

}  // namespace

std::error_code spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options,
                             Spawned& out) {
  if (argv.empty() || argv[0].empty()) return std::make_error_code(std::errc::invalid_argument);
  std::vector<std::string> args = argv;
  auto argPtrs = pointers(args);
  std::vector<std::string> env = buildEnvironment(options.environment);
  auto envPtrs = pointers(env);

  Pipe report, output, error;
  if (!report.open()) return {errno, std::generic_category()};
  if (options.captureOutput && !output.open()) return {errno, std::generic_category()};
  if (options.captureError && !error.open()) return {errno, std::generic_category()};
  const char* cwd = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  const pid_t pid = ::fork();
  if (pid < 0) return {errno, std::generic_category()};
  if (pid == 0) {
    // Child: async-signal-safe calls only.
    if (options.nullInput) {
      int devNull = ::open("/dev/null", O_RDONLY);
      if (devNull < 0 || ::dup2(devNull, STDIN_FILENO) < 0) childFail(report.fds[1]);
    }
    if (options.captureOutput && ::dup2(output.fds[1], STDOUT_FILENO) < 0) childFail(report.fds[1]);
    if (options.captureError && ::dup2(error.fds[1], STDERR_FILENO) < 0) childFail(report.fds[1]);
    if (cwd && ::chdir(cwd) != 0) childFail(report.fds[1]);
    ::execvpe(argPtrs[0], argPtrs.data(), envPtrs.data());
    childFail(report.fds[1]);
  }

  // Parent: the report pipe closes on a successful exec (O_CLOEXEC) or
  // carries the child's errno.
  ::close(report.release(1));
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(report.fds[0], &childErrno, sizeof childErrno);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof childErrno)) {
    (void)waitForExit(pid);
    return {childErrno, std::generic_category()};
  }
  out = Spawned{};
  out.pid = pid;
  if (options.captureOutput) {
    ::close(output.release(1));
    out.outputFd = output.release(0);
  }
  if (options.captureError) {
    ::close(error.release(1));
    out.errorFd = error.release(0);
  }
  return {};
}

std::optional<int> waitForExit(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r != pid) return std::nullopt;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return std::nullopt;
}

std::string readAll(int fd) {
  std::string text;
  if (fd < 0) return text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

void readBoth(int outFd, std::string& out, int errFd, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  char buf[4096];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fds[i].fd = -1;  // poll ignores negative descriptors
        continue;
      }
      sinks[i]->append(buf, static_cast<size_t>(n));
    }
  }
}

std::string shellQuote(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string shellQuote(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += shellQuote(a);
  }
  return line;
}

}  // namespace quillo
