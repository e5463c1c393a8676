#include "platform/privileged.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/folders.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace quillo::privileged {
namespace {

constexpr const char* kDefaultPromptProgram = "pkexec";

struct Hooks {
  std::mutex mu;
  std::function<OSStatus(const std::string&)> prompt;  // Guarded by mu.
  std::optional<bool> available;                       // Guarded by mu.
  std::string promptProgram;                           // Guarded by mu.
};

Hooks& hooks() {
  static auto* h = new Hooks;
  return *h;
}

bool isRoot() { return ::geteuid() == 0; }

// Why pkexec failed, in words; its own message follows.
std::string promptFailure(int exitStatus, const std::string& stderrText) {
  std::string why = exitStatus == kPromptFailedExitStatus
                        ? "pkexec could not obtain the administrator right (no polkit "
                          "authentication agent in this session, or polkit is not running)"
                        : "pkexec failed";
  return stderrText.empty() ? why : why + ": " + stderrText;
}

}  // namespace

bool administersSystemRoot() {
  if (isRoot()) return true;
  const std::string root = folders::systemRoot();
  if (root.empty()) return false;
  struct stat st {};
  return ::lstat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool executeWithPrivilegesAvailable() {
  std::optional<bool> available;
  {
    std::lock_guard lock(hooks().mu);
    available = hooks().available;
  }
  return available ? *available : administersSystemRoot();
}

OSStatus authorizeAdministrator(const std::string& toolPath, Authorization& authorization) {
  std::function<OSStatus(const std::string&)> prompt;
  {
    std::lock_guard lock(hooks().mu);
    prompt = hooks().prompt;
  }
  OSStatus status = prompt ? prompt(toolPath)
                           : (administersSystemRoot() ? kErrAuthorizationSuccess
                                                      : kErrAuthorizationDenied);
  authorization.administratorGranted = status == kErrAuthorizationSuccess;
  return status;
}

OSStatus executeWithPrivileges(const Authorization& authorization, const std::string& toolPath,
                               const std::vector<std::string>& arguments,
                               const std::string& workingDirectory, PrivilegedChild& child) {
  if (!authorization.administratorGranted) return kErrAuthorizationDenied;
  std::vector<std::string> argv{toolPath};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  SpawnOptions options;
  options.workingDirectory = workingDirectory;
  options.captureOutput = true;
  Spawned spawned;
  if (auto ec = spawnProcess(argv, options, spawned)) {
    consoleLog("privileged execution of " + shellQuote(toolPath) + " failed: " + ec.message());
    return kErrAuthorizationToolExecuteFailure;
  }
  child.pid = spawned.pid;
  child.outputFd = spawned.outputFd;
  return kErrAuthorizationSuccess;
}

AdministratorShellResult runWithAdministratorPrivileges(const std::vector<std::string>& argv) {
  AdministratorShellResult result;
  if (argv.empty() || !argv[0].starts_with('/')) {
    result.errorNumber = kShellNotStartedErr;
    result.errorMessage = argv.empty() ? "no command" : "not an absolute path: " + shellQuote(argv[0]);
    return result;
  }
  std::string promptProgram;
  {
    std::lock_guard lock(hooks().mu);
    promptProgram = hooks().promptProgram;
  }
  if (promptProgram.empty() && !administersSystemRoot()) promptProgram = kDefaultPromptProgram;

  std::vector<std::string> command;
  if (!promptProgram.empty()) command.push_back(promptProgram);
  command.insert(command.end(), argv.begin(), argv.end());

  SpawnOptions options;
  options.captureOutput = true;
  options.captureError = true;
  Spawned child;
  if (auto ec = spawnProcess(command, options, child)) {
    result.errorNumber = kShellNotStartedErr;
    result.errorMessage = "cannot run " + shellQuote(command[0]) + ": " + ec.message();
    const bool isPkexec = command[0].substr(command[0].find_last_of('/') + 1) == kDefaultPromptProgram;
    if (ec == std::errc::no_such_file_or_directory && isPkexec) {
      result.errorMessage += " (pkexec is not installed: Debian package pkexec)";
    }
    return result;
  }
  readBoth(child.outputFd, result.output, child.errorFd, result.errorMessage);
  ::close(child.outputFd);
  ::close(child.errorFd);
  const auto status = waitForExit(child.pid);
  if (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
  if (!status) {
    result.errorNumber = kShellNotStartedErr;
    result.errorMessage += "lost track of the command";
  } else if (*status != 0) {
    const bool prompted = !promptProgram.empty();
    if (prompted && *status == kPromptDismissedExitStatus) {
      result.errorNumber = kUserCanceledErr;
    } else if (prompted && *status == kPromptFailedExitStatus) {
      // The tool never ran: say why rather than pass 127 off as its status.
      result.errorNumber = kShellNotStartedErr;
      result.errorMessage = promptFailure(*status, result.errorMessage);
    } else {
      result.errorNumber = *status;
    }
  }
  return result;
}

void setAuthorizationPromptForTesting(std::function<OSStatus(const std::string&)> prompt) {
  std::lock_guard lock(hooks().mu);
  hooks().prompt = std::move(prompt);
}

void setExecuteWithPrivilegesAvailableForTesting(std::optional<bool> available) {
  std::lock_guard lock(hooks().mu);
  hooks().available = available;
}

void setAdministratorPromptProgramForTesting(std::string program) {
  std::lock_guard lock(hooks().mu);
  hooks().promptProgram = std::move(program);
}

}  // namespace quillo::privileged
