// quillo-install-helper: the program the installer runs as root. It installs
// a private copy of the package, checked against the MD5 it is given, with a
// private copy of the install script (installer/verified_install.h).
//
//   quillo-install-helper SCRIPT PACKAGE MD5
//
// Exit status: the script's, or 64 usage, 65 unusable script or package,
// 66 MD5 mismatch, 70 script not started, 73 no private folder.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "installer/verified_install.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: quillo-install-helper SCRIPT PACKAGE MD5\n");
    return quillo::kVerifiedInstallUsage;
  }
  // What root creates is readable by all and writable by root alone.
  ::umask(022);
  std::string error;
  int status = quillo::kVerifiedInstallNoStaging;
  // /var/tmp lies on disk where /tmp may be a small memory file system.
  for (const char* parent : {"/var/tmp", "/tmp"}) {
    error.clear();
    status = quillo::runVerifiedInstall({.scriptPath = argv[1],
                                         .packagePath = argv[2],
                                         .expectedMd5 = argv[3],
                                         .stagingParent = parent},
                                        error);
    // Only a folder we could not make is tried elsewhere; a script that
    // itself exits 73 has run and must not run twice.
    if (status != quillo::kVerifiedInstallNoStaging || error.empty()) break;
  }
  if (!error.empty()) {
    // The task runner logs the tool's output, the administrator shell its
    // error stream: the reason reaches the installer's log either way.
    std::printf("quillo-install-helper: %s\n", error.c_str());
    std::fprintf(stderr, "quillo-install-helper: %s\n", error.c_str());
  }
  return status;
}
