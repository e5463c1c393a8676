#pragma once
// Running tools as root: the stand-in for the platform's authorization
// services and for its script command "with administrator privileges".
//
// - Authorization: authorizeAdministrator() asks for the administrator
//   right (the password prompt); executeWithPrivileges() then forks and execs
//   one tool with an argv and hands back its pid and the read end of its
//   stdout. It is available, and grants without a prompt, when this process
//   is already its system root's administrator: when it is root, or when the
//   system root is a folder of this user's own (the demo's and the tests'
//   roots). Against the real system it is unavailable for other users.
// - Administrator shell: runWithAdministratorPrivileges() runs an argv as the
//   system root's administrator and waits for it: directly in the two cases
//   above, otherwise through polkit's prompt program ("pkexec", Debian package
//   pkexec) as `pkexec TOOL ARGS...`: root runs the tool itself and nothing
//   else (argv[0] must be an absolute path, so that no name can pass for an
//   option of pkexec or be looked up in PATH). Our polkit action
//   (kPolkitActionId, installed from the bundle's Resources) names the request
//   in the prompt. A dismissed prompt is error kUserCanceledErr, as the
//   original platform reports it; a missing pkexec or authentication agent is
//   an error whose message says so.
//
// Arguments travel as an argv from end to end; nothing is ever joined into a
// shell command line, and nothing is added to it: a tool that needs the
// system root takes it as an argument (pkexec clears the environment).
// Safe from any thread.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillo::privileged {

using OSStatus = int32_t;
inline constexpr OSStatus kErrAuthorizationSuccess = 0;
inline constexpr OSStatus kErrAuthorizationDenied = -60005;
inline constexpr OSStatus kErrAuthorizationCanceled = -60006;
inline constexpr OSStatus kErrAuthorizationInternal = -60008;
inline constexpr OSStatus kErrAuthorizationToolExecuteFailure = -60031;

// An authorization that holds, or does not hold, the administrator right.
struct Authorization {
  bool administratorGranted = false;
};

// Whether this process administers the system root without asking: it is
// root, or the root is a real folder (not a link) owned by this user.
[[nodiscard]] bool administersSystemRoot();

// Whether executeWithPrivileges() can work in this process (administersSystemRoot()).
[[nodiscard]] bool executeWithPrivilegesAvailable();

// Asks for the administrator right to run `toolPath`. Returns 0 and sets
// `authorization.administratorGranted`, kErrAuthorizationCanceled when the
// user dismissed the prompt, or another error.
[[nodiscard]] OSStatus authorizeAdministrator(const std::string& toolPath,
                                              Authorization& authorization);

struct PrivilegedChild {
  pid_t pid = -1;
  int outputFd = -1;  // Read end of the tool's stdout; the caller closes it.
};

// Runs `toolPath` with `arguments` (without the tool itself) in
// `workingDirectory` (empty: ours) as root. Returns 0 and fills `child`;
// kErrAuthorizationDenied without the right; kErrAuthorizationToolExecuteFailure
// when the tool could not be started (then nothing runs and nothing is open).
[[nodiscard]] OSStatus executeWithPrivileges(const Authorization& authorization,
                                             const std::string& toolPath,
                                             const std::vector<std::string>& arguments,
                                             const std::string& workingDirectory,
                                             PrivilegedChild& child);

// Error numbers of the administrator shell besides a tool's own exit status.
inline constexpr int kUserCanceledErr = -128;
inline constexpr int kShellNotStartedErr = -2700;
// The exit statuses with which the prompt program reports a dismissed dialog,
// and an authorization it could not obtain (no agent, polkit not running).
inline constexpr int kPromptDismissedExitStatus = 126;
inline constexpr int kPromptFailedExitStatus = 127;
// Our polkit action (installer/bundle/com.norvane.quillo.installer.policy.in).
inline constexpr const char* kPolkitActionId = "com.norvane.quillo.installer.install";

struct AdministratorShellResult {
  // Nothing on success; the tool's exit status (128 + signal when killed),
  // kUserCanceledErr, or kShellNotStartedErr.
  std::optional<int> errorNumber;
  std::string errorMessage;  // The tool's stderr, or why it could not run.
  std::string output;        // The tool's stdout, one trailing newline removed.
};

// Runs `argv` (argv[0] an absolute path) as the root's administrator and
// waits for it. Blocks the calling thread, the prompt included. When pkexec
// is missing or cannot authorise, or argv[0] is not absolute, errorNumber is
// kShellNotStartedErr and errorMessage says why in words.
[[nodiscard]] AdministratorShellResult runWithAdministratorPrivileges(
    const std::vector<std::string>& argv);

// Test hooks; each one is process-wide, and an empty value restores the default.
// Answers authorizeAdministrator() in place of the default (granted when
// administersSystemRoot(), kErrAuthorizationDenied otherwise).
void setAuthorizationPromptForTesting(std::function<OSStatus(const std::string& toolPath)> prompt);
// Overrides executeWithPrivilegesAvailable().
void setExecuteWithPrivilegesAvailableForTesting(std::optional<bool> available);
// Makes the administrator shell go through `program` (a stand-in for the
// prompt program: it gets the argv as its arguments) even when it could run
// directly.
void setAdministratorPromptProgramForTesting(std::string program);

}  // namespace quillo::privileged
