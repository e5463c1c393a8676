#pragma once
// The privileged side of an install: what runs as root once the user has
// authorised it. The package and the install script lie in folders the user
// can write, so root never uses them by name: it copies both (each opened
// once, with no symbolic link anywhere on its path) into a fresh folder of its
// own (mode 0700, `mkdtemp`), checks the copy's MD5 against the value it was
// given on its command line, runs the script on the copy and removes the
// folder. Whatever is renamed over the package after the user's own check is
// either never read or fails this check.
//
//   quillo-install-helper --system-root=ROOT SCRIPT PACKAGE MD5 SIZE
//   # = env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C QUILLO_SYSTEM_ROOT=ROOT
//   #     /bin/sh STAGE/install.sh STAGE/package.zip </dev/null,
//   #   when the copy's MD5 is MD5 and the package is at most SIZE bytes
//
// Both files are opened as paths first (O_PATH, which runs nothing of a
// device's or a pipe's own open) and read only once fstat shows a regular
// file. When the request names a package reader (the user who asked through
// pkexec), the package is opened with that user's rights, before anything
// else is done: what they could not read themselves is refused.
//
// The script runs in a process group of its own, which ends with the run:
// when the script is done, when SIGTERM, SIGHUP or SIGINT stops the run (the
// private folder is removed too), and when the calling process dies in any
// way (even SIGKILL). A script that is stopped gets SIGTERM and a few seconds
// to clean up before SIGKILL. Folders that a death left behind are removed
// by the next run.
//
// Single-threaded: call it from one thread, which it keeps for the run (it
// blocks the stop signals on that thread meanwhile).
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quillo {

// The largest install script and package root copies.
inline constexpr int64_t kMaxInstallScriptSize = 1 << 20;
inline constexpr int64_t kMaxPackageSize = 5'368'709'120;  // 5 GiB

// The variable through which install.sh learns the system root.
inline constexpr const char* kSystemRootVariable = "QUILLO_SYSTEM_ROOT";
// The script's PATH, whoever started the run.
inline constexpr const char* kScriptPathVariable = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// The one refusal of a package opened for a package reader, whether it does
// not exist, is not a regular file, cannot be read by them or is too large.
inline constexpr const char* kPackageUnusable = "cannot use this package";

struct VerifiedInstallRequest {
  std::string scriptPath;
  std::string packagePath;
  // Opens the package with this user's rights (identity and groups) rather
  // than ours; a refusal of the package is then kPackageUnusable alone.
  // Nothing: with ours.
  std::optional<uid_t> packageReader;
  std::string expectedMd5;  // 32 lower-case hexadecimal digits.
  // The size of the package the installer verified: a larger one (or one
  // above kMaxPackageSize) is refused before it is copied.
  int64_t expectedSize = kMaxPackageSize;
  // Handed to the script in kSystemRootVariable; empty: not set.
  std::string systemRoot;
  // Where the private folder is made. It must not let anyone else rename
  // our entries: owned by root or by us, and sticky or closed to others.
  // The helper tries /var/tmp, then /tmp.
  std::string stagingParent = "/tmp";
};

// Exit statuses of the helper besides the script's own.
inline constexpr int kVerifiedInstallUsage = 64;
inline constexpr int kVerifiedInstallBadInput = 65;      // Script or package unusable.
inline constexpr int kVerifiedInstallMismatch = 66;      // The copy is not the verified package.
inline constexpr int kVerifiedInstallScriptFailed = 70;  // The script could not be started.
inline constexpr int kVerifiedInstallNoStaging = 73;     // The private folder could not be made.
inline constexpr int kVerifiedInstallStopped = 75;       // A stop signal ended the run.

// The private folders runs make in a staging parent: "quillo-install.<pid>.XXXXXX".
inline constexpr const char* kStagingFolderPrefix = "quillo-install.";

// Runs the install as described above. Returns the script's exit status
// (128 + signal when killed; its 126 and 127 become
// kVerifiedInstallScriptFailed, since the prompt program uses those), or one
// of the statuses above with the reason in `error`, which stays empty when the
// script ran to its end; the private folder is gone in every case.
[[nodiscard]] int runVerifiedInstall(const VerifiedInstallRequest& request, std::string& error);

}  // namespace quillo
