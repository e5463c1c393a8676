#pragma once
// Real second processes for the store's tests: the test binary re-executes
// itself as `<binary> --cask-child=<role> <args...>`, and the role's function
// runs instead of the tests. The child's stdout and stdin are pipes to the
// parent, for acknowledgements and commands.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace cask::testing {

using ChildRole = int (*)(const std::vector<std::string>& args);

struct ChildRoleRegistrar {
  ChildRoleRegistrar(const char* name, ChildRole role);
};

// CASK_CHILD_ROLE(appender) { ...; return 0; }  — `args` holds the arguments.
#define CASK_CHILD_ROLE(name)                                                            \
  static int name##ChildRole(const std::vector<std::string>& args);                      \
  static ::cask::testing::ChildRoleRegistrar name##ChildRegistrar(#name, name##ChildRole); \
  static int name##ChildRole([[maybe_unused]] const std::vector<std::string>& args)

class ChildProcess {
 public:
  // Extra environment entries are "NAME=value".
  [[nodiscard]] static ChildProcess spawn(const std::string& role, const std::vector<std::string>& args,
                                          const std::vector<std::string>& env = {});
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();

  // One line of the child's stdout without its newline; nothing at EOF.
  [[nodiscard]] std::optional<std::string> readLine();
  void writeLine(const std::string& line);
  // SIGKILL, then reap.
  void kill();
  // Waits for the exit; returns the raw wait status.
  int wait();
  [[nodiscard]] pid_t pid() const { return pid_; }

 private:
  ChildProcess() = default;

  pid_t pid_ = -1;
  int fromChild_ = -1;
  int toChild_ = -1;
  std::string buffered_;
  bool reaped_ = false;
  int status_ = 0;
};

// In the child: writes one line to the parent.
void sendLine(const std::string& line);
// In the child: one line from the parent; nothing at EOF.
std::optional<std::string> receiveLine();

// In the child: honours CASK_KILL_AT=<point>[:<hit>] (SIGKILL at that hit of
// the named write point, after sending "point <name>") and
// CASK_HANG_AT=<point> (sends "hang", then waits to be killed).
void installTestPointsFromEnvironment();

// A fresh directory under $QUILLO_TEST_TMP (else /tmp) unique to this
// process and call. Removed by removeTempDir(), or else when the process
// exits.
[[nodiscard]] std::string makeTempDir(const std::string& name);
void removeTempDir(const std::string& path);

// Exit status helpers.
[[nodiscard]] bool exitedCleanly(int status);
[[nodiscard]] std::string describeStatus(int status);

int runChildIfRequested(int argc, char** argv);

}  // namespace cask::testing
