#include "installer/verified_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "installer/md5.h"
#include "platform/file_handle.h"
#include "platform/process.h"

namespace quillo {
namespace {

constexpr const char* kStagedScriptName = "install.sh";
constexpr const char* kStagedPackageName = "package.zip";

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Copies `source` into the new file `destination`, reading it through one
// descriptor opened without following a link. Anything but a regular file
// (a pipe or a device would never end) and anything above `limit` bytes is
// refused. Returns the reason, or nothing.
std::string copyRegularFile(const std::string& source, const std::string& destination,
                            int64_t limit) {
  FileHandle in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
                /*closeOnDealloc=*/true);
  if (in.fileDescriptor() < 0) return errnoText("cannot open " + source);
  struct stat st {};
  if (::fstat(in.fileDescriptor(), &st) != 0) return errnoText("cannot inspect " + source);
  if (!S_ISREG(st.st_mode)) return source + " is not a regular file";
  if (st.st_size > limit) return source + " is larger than " + std::to_string(limit) + " bytes";
  FileHandle out(
      ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600),
      /*closeOnDealloc=*/false);
  if (out.fileDescriptor() < 0) return errnoText("cannot create " + destination);
  std::vector<char> buffer(1 << 20);
  int64_t copied = 0;
  std::string why;
  for (;;) {
    const ssize_t n = ::read(in.fileDescriptor(), buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      why = errnoText("cannot read " + source);
      break;
    }
    copied += n;
    // The file may grow while we read it.
    if (copied > limit) {
      why = source + " is larger than " + std::to_string(limit) + " bytes";
      break;
    }
    if (!writeAll(out.fileDescriptor(), std::string_view(buffer.data(), static_cast<size_t>(n)))) {
      why = errnoText("cannot write " + destination);
      break;
    }
  }
  // A copy that changed size while we read it, or whose last writes fail
  // late, is not run or unpacked as root.
  if (why.empty() && copied != st.st_size) why = source + " changed while it was copied";
  if (why.empty() && ::fsync(out.fileDescriptor()) != 0) why = errnoText("cannot write " + destination);
  if (::close(out.fileDescriptor()) != 0 && why.empty()) why = errnoText("cannot write " + destination);
  return why;
}

// A parent in which no one else can rename or replace what we create.
std::string checkStagingParent(const std::string& parent) {
  struct stat st {};
  if (::lstat(parent.c_str(), &st) != 0) return errnoText("cannot inspect " + parent);
  if (!S_ISDIR(st.st_mode)) return parent + " is not a folder";
  const bool trustedOwner = st.st_uid == 0 || st.st_uid == ::geteuid();
  const bool othersCanRename = (st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX);
  if (!trustedOwner || othersCanRename) return parent + " is open to other users";
  return {};
}

bool isLowerHexMd5(const std::string& text) {
  if (text.size() != 32) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Removes the private folder whatever happened in it.
class StagingFolder {
 public:
  explicit StagingFolder(std::string path) : path_(std::move(path)) {}
  ~StagingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  [[nodiscard]] std::string file(const char* name) const { return path_ + "/" + name; }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int runVerifiedInstall(const VerifiedInstallRequest& request, std::string& error) {
  if (!isLowerHexMd5(request.expectedMd5)) {
    error = "the expected MD5 is not 32 lower-case hexadecimal digits";
    return kVerifiedInstallUsage;
  }
  if (auto why = checkStagingParent(request.stagingParent); !why.empty()) {
    error = why;
    return kVerifiedInstallNoStaging;
  }
  std::string pattern = request.stagingParent + "/quillo-install.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = errnoText("cannot create a private folder in " + request.stagingParent);
    return kVerifiedInstallNoStaging;
  }
  const StagingFolder stage(pattern);

  const std::string script = stage.file(kStagedScriptName);
  const std::string package = stage.file(kStagedPackageName);
  if (auto why = copyRegularFile(request.scriptPath, script, kMaxInstallScriptSize); !why.empty()) {
    error = "install script refused: " + why;
    return kVerifiedInstallBadInput;
  }
  if (auto why = copyRegularFile(request.packagePath, package, kMaxPackageSize); !why.empty()) {
    error = "package refused: " + why;
    return kVerifiedInstallBadInput;
  }
  // The copy is ours alone now: what we hash is what the script unpacks.
  const auto actual = md5HexOfFile(package);
  if (!actual || *actual != request.expectedMd5) {
    error = "package refused: its MD5 is " + actual.value_or("unreadable") + ", not " +
            request.expectedMd5;
    return kVerifiedInstallMismatch;
  }

  Spawned child;
  if (auto ec =
          spawnProcess({"/bin/sh", script, package}, {.workingDirectory = stage.path()}, child)) {
    error = "cannot run the install script: " + ec.message();
    return kVerifiedInstallScriptFailed;
  }
  const auto status = waitForExit(child.pid);
  if (!status) {
    error = "lost track of the install script";
    return kVerifiedInstallScriptFailed;
  }
  // The prompt program answers 126 (dismissed) and 127 (not authorised); the
  // shell's own 126/127 (a command that cannot run or is missing) must not
  // read as either.
  if (*status == 126 || *status == 127) {
    error = "the install script could not run one of its commands (status " +
            std::to_string(*status) + ")";
    return kVerifiedInstallScriptFailed;
  }
  return *status;
}

}  // namespace quillo
