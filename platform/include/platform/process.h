#pragma once
// Child processes, started with an argv (never a shell string) through
// fork/exec, and waited for with waitpid. Safe from any thread.
//
//   quillo::Spawned child;
//   if (auto ec = quillo::spawnProcess({"/bin/sh", script, zip}, {.captureOutput = true}, child)) ...
//   auto text = quillo::readAll(child.outputFd);   // the caller closes outputFd
//   auto status = quillo::waitForExit(child.pid);  // 0..255, or 128 + signal
#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace quillo {

struct SpawnOptions {
  // Folder the child starts in; empty keeps this process's.
  std::string workingDirectory;
  // Set (or replaced) in the child's environment; the rest is inherited.
  std::vector<std::pair<std::string, std::string>> environment;
  // Give the child pipes for stdout / stderr; otherwise it shares ours.
  bool captureOutput = false;
  bool captureError = false;
  // stdin from /dev/null rather than ours.
  bool nullInput = true;
};

struct Spawned {
  pid_t pid = -1;
  int outputFd = -1;  // Read end of the child's stdout, when captured; the caller closes it.
  int errorFd = -1;   // Read end of the child's stderr, when captured; the caller closes it.
};

// Starts argv[0] (searched in PATH when it has no slash) with argv. Returns
// an error and starts nothing when argv is empty, a pipe or fork fails, or the
// program cannot be executed (exec's errno comes back through a pipe), and
// then leaves `out` untouched with no descriptor open.
[[nodiscard]] std::error_code spawnProcess(const std::vector<std::string>& argv,
                                           const SpawnOptions& options, Spawned& out);

// Blocks until `pid` has ended (retrying on EINTR). Returns its exit code, or
// 128 + the signal number when a signal ended it, or nothing when the wait
// itself failed (not our child, already reaped).
[[nodiscard]] std::optional<int> waitForExit(pid_t pid);

// Reads `fd` to end of file (retrying on EINTR); stops at the first error.
[[nodiscard]] std::string readAll(int fd);

// Reads two descriptors to end of file at once, so that a child that fills
// one pipe while we wait on the other cannot stall.
void readBoth(int outFd, std::string& out, int errFd, std::string& err);

// One argument quoted for a shell, for log lines only: a'b c -> 'a'\''b c'.
[[nodiscard]] std::string shellQuote(const std::string& argument);
// Every argument quoted and joined by blanks, for log lines only.
[[nodiscard]] std::string shellQuote(const std::vector<std::string>& argv);

}  // namespace quillo
