#pragma once
// Running applications and launching them: the stand-in for the platform's
// workspace. An application is a process whose executable lies inside an
// application bundle ("X.app", see bundle.h); its bundle identifier comes from
// that bundle's Contents/Info.json.
//
//   for (auto& app : quillo::runningApplications("com.norvane.QuilloSettings")) app.terminate();
//   quillo::openApplication("/x/QuilloSettings.app", {"--ShowSettings"},
//                           [](std::optional<std::string> error) { ... });  // background thread
//
// "Running" means running in this user's desktop session: processes of our
// real user id that share our session bus address ($DBUS_SESSION_BUS_ADDRESS,
// both unset counting as equal). Other sessions' copies are not ours to quit.
// Safe from any thread.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

class RunningApplication {
 public:
  RunningApplication(pid_t pid, std::string bundleIdentifier, std::string bundlePath)
      : pid_(pid), bundleIdentifier_(std::move(bundleIdentifier)), bundlePath_(std::move(bundlePath)) {}

  [[nodiscard]] pid_t processIdentifier() const { return pid_; }
  [[nodiscard]] const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  [[nodiscard]] const std::string& bundlePath() const { return bundlePath_; }

  // Asks the application to quit (SIGTERM) and returns at once; false when
  // the signal could not be sent (the process is gone).
  bool terminate() const;

 private:
  pid_t pid_;
  std::string bundleIdentifier_;
  std::string bundlePath_;
};

// This session's applications with `bundleIdentifier`, by process id; this
// process is never listed. Unreadable processes are skipped.
[[nodiscard]] std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier);

// The program of a bundle: Contents/MacOS/<CFBundleExecutable>, or the
// bundle's name without ".app" when the manifest names none.
[[nodiscard]] std::string bundleExecutablePath(const std::string& bundlePath);

// Nothing on success, else why the application could not be started.
using OpenApplicationCompletion = std::function<void(std::optional<std::string> error)>;

// Starts the bundle's program with `arguments`, detached from us (its own
// session, standard streams on /dev/null, never our child to reap), on a
// background queue. The completion runs exactly once on that background
// thread, after the program was started or failed to start.
void openApplication(const std::string& bundlePath, std::vector<std::string> arguments,
                     OpenApplicationCompletion completion);

// The system agents the installer restarts: the input menu's two agents (so
// that the menu reloads the input sources) and the pasteboard server.
inline constexpr std::string_view kTextInputMenuAgent = "TextInputMenuAgent";
inline constexpr std::string_view kTextInputSwitcher = "TextInputSwitcher";
inline constexpr std::string_view kPasteboardServer = "pboard";

// Restarts the system agent `name` for this session: kills (SIGKILL) its
// stand-ins, for their supervisor to start afresh as the platform's agents
// are. A stand-in is a process of this session (as runningApplications()
// counts it) whose program is named `name` and lies inside the system root
// (folders::systemRoot()). A process of that name anywhere else, another
// user's or another session's, is never signalled; with an empty root nothing
// is. Returns how many processes were signalled.
int restartSystemAgent(std::string_view name);

}  // namespace quillo
