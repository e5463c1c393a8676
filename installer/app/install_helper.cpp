// quillo-install-helper: the program the installer runs as root. It installs
// a private copy of the package, checked against the MD5 it is given, with a
// private copy of the install script (installer/verified_install.h).
//
//   quillo-install-helper --system-root=ROOT SCRIPT PACKAGE MD5 SIZE
//
// ROOT is the system root install.sh installs under (an absolute path), SIZE
// the verified package's size in bytes. Started by pkexec (for a user who
// is not root), it runs only the install.sh of its own bundle
// (Contents/Resources/install.sh beside Contents/MacOS/): the polkit action
// names this program, and a rule that lets users install without a password
// must not let them run scripts of their own as root. The package must then
// be a file the caller (PKEXEC_UID) can open and read themselves; anything
// else is refused as "cannot use this package", whatever the reason, so
// that no answer tells them about a file they cannot read.
//
// --help (or -h) alone prints the usage and exits 0. Errors go to stdout,
// which the installer's task runner logs.
// Exit status: the script's, or 64 usage, 65 unusable script or package,
// 66 MD5 mismatch, 70 script not started, 73 no private folder, 75 stopped
// by SIGTERM, SIGHUP or SIGINT.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "installer/verified_install.h"

namespace {

constexpr std::string_view kSystemRootOption = "--system-root=";

int fail(int status, const std::string& why) {
  std::printf("quillo-install-helper: %s\n", why.c_str());
  return status;
}

constexpr const char* kUsage =
    "usage: quillo-install-helper --system-root=ROOT SCRIPT PACKAGE MD5 SIZE";

int usage(const std::string& why) {
  return fail(quillo::kVerifiedInstallUsage, why + "\n" + kUsage);
}

// Decimal digits alone, at most `digits` of them (so that the value fits).
std::optional<int64_t> parseNumber(std::string_view text, size_t digits) {
  if (text.empty() || text.size() > digits ||
      text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  return std::stoll(std::string(text));
}

// The install.sh of the bundle this program lies in.
std::string bundledScript() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "Resources/install.sh").string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::printf("%s\n", kUsage);
    return 0;
  }
  if (argc != 6) return usage("expected 5 arguments, got " + std::to_string(argc - 1));
  const std::string_view rootOption = argv[1];
  if (!rootOption.starts_with(kSystemRootOption)) return usage("the first argument must be --system-root=ROOT");
  const std::string root(rootOption.substr(kSystemRootOption.size()));
  if (!root.starts_with('/')) return usage("the system root is not an absolute path: " + root);
  const auto size = parseNumber(argv[5], 18);
  if (!size) return usage(std::string("not a size in bytes: ") + argv[5]);
  const std::string script = argv[2];
  std::optional<uid_t> caller;
  if (const char* pkexecUid = std::getenv("PKEXEC_UID"); pkexecUid != nullptr) {
    const auto uid = parseNumber(pkexecUid, 10);
    if (!uid || *uid >= static_cast<uid_t>(-1)) {
      return fail(quillo::kVerifiedInstallBadInput, quillo::kPackageUnusable);
    }
    caller = static_cast<uid_t>(*uid);
    const std::string own = bundledScript();
    if (std::filesystem::path(script).lexically_normal() != own) {
      return fail(quillo::kVerifiedInstallBadInput,
                  "started through pkexec, only this bundle's install script runs: " + own +
                      ", not " + script);
    }
  }
  // What root creates is readable by all and writable by root alone.
  ::umask(022);
  // A parent that ignored SIGCHLD would hand that on, and the script's
  // status would be lost.
  ::signal(SIGCHLD, SIG_DFL);
  std::string error;
  int status = quillo::kVerifiedInstallNoStaging;
  // /var/tmp lies on disk where /tmp may be a small memory file system.
  for (const char* parent : {"/var/tmp", "/tmp"}) {
    error.clear();
    status = quillo::runVerifiedInstall({.scriptPath = script,
                                         .packagePath = argv[3],
                                         .packageReader = caller,
                                         .expectedMd5 = argv[4],
                                         .expectedSize = *size,
                                         .systemRoot = root,
                                         .stagingParent = parent},
                                        error);
    // Only a folder we could not make is tried elsewhere; a script that
    // itself exits 73 has run and must not run twice.
    if (status != quillo::kVerifiedInstallNoStaging || error.empty()) break;
  }
  if (!error.empty()) return fail(status, error);
  return status;
}
