#include "installer/verified_install.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <linux/openat2.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "installer/md5.h"
#include "platform/file_handle.h"

namespace quillo {
namespace {

constexpr const char* kStagedScriptName = "install.sh";
constexpr const char* kStagedPackageName = "package.zip";

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Why openRegularFile() refused a file.
enum class OpenFailure { kNone, kOpen, kLink, kInspect, kNotRegular, kReopen };

// Opens `path` for reading, with no symbolic link anywhere on its way: a
// folder of the path that the user swaps for a link cannot steer root to
// another file. The name is first opened as a path only (O_PATH: nothing of
// a device's or a pipe's own open runs), anything but a regular file is
// refused on fstat, and only then is that very file opened for reading,
// through its descriptor. -1 with `failure` and errno set on failure.
// Async-signal-safe: a forked child may call it.
int openRegularFile(const char* path, OpenFailure& failure) {
  open_how how{};
  how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const int pathFd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
  if (pathFd < 0) {
    failure = errno == ELOOP ? OpenFailure::kLink : OpenFailure::kOpen;
    return -1;
  }
  struct stat st {};
  int fd = -1;
  if (::fstat(pathFd, &st) != 0) {
    failure = OpenFailure::kInspect;
  } else if (!S_ISREG(st.st_mode)) {
    failure = OpenFailure::kNotRegular;
  } else {
    // "/proc/self/fd/<pathFd>" reopens the inode itself, whatever the name
    // leads to by now, with the access check of a plain open.
    char reopen[32] = "/proc/self/fd/";
    constexpr size_t kPrefix = sizeof "/proc/self/fd/" - 1;
    *std::to_chars(reopen + kPrefix, reopen + sizeof reopen - 1, pathFd).ptr = '\0';
    fd = ::open(reopen, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    failure = fd < 0 ? OpenFailure::kReopen : OpenFailure::kNone;
  }
  const int saved = errno;
  ::close(pathFd);
  errno = saved;
  return fd;
}

// The reason for a refusal, in words.
std::string describe(OpenFailure failure, const std::string& path) {
  switch (failure) {
    case OpenFailure::kNone:
      return {};
    case OpenFailure::kLink:
      return path + " has a symbolic link on its path";
    case OpenFailure::kOpen:
      return errnoText("cannot open " + path);
    case OpenFailure::kInspect:
      return errnoText("cannot inspect " + path);
    case OpenFailure::kNotRegular:
      return path + " is not a regular file";
    case OpenFailure::kReopen:
      return errnoText("cannot read " + path);
  }
  return {};
}

// SIGTERM, SIGHUP and SIGINT, blocked on this thread for the scope and read
// from a descriptor instead, so that a stop is noticed between two steps and
// the run can clean up after itself.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) sigaddset(&set_, sig);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~StopSignals() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  [[nodiscard]] int fd() const { return fd_; }
  // The mask to give children back.
  [[nodiscard]] const sigset_t& previousMask() const { return previous_; }
  // Whether a stop signal has come; does not wait. Once true, stays true.
  [[nodiscard]] bool stopped() const {
    signalfd_siginfo info{};
    if (!signal_ && ::read(fd_, &info, sizeof info) == sizeof info) {
      signal_ = static_cast<int>(info.ssi_signo);
    }
    return signal_.has_value();
  }
  // "stopped by SIGTERM"; only once stopped().
  [[nodiscard]] std::string reason() const {
    const char* name = signal_ ? ::sigabbrev_np(*signal_) : nullptr;
    return std::string("stopped by SIG") + (name != nullptr ? name : "?");
  }

 private:
  sigset_t set_;
  sigset_t previous_;
  int fd_ = -1;
  mutable std::optional<int> signal_;
};

// One byte and room for one descriptor, as sendmsg() and recvmsg() take them.
struct DescriptorMessage {
  DescriptorMessage() {
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;

  char byte = 0;
  iovec part{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
};

// Opens `path` as openRegularFile() does, with the rights of `user`: in a
// child process that takes that user's identity and groups and hands the
// descriptor back (when `user` is not who we are already). What the user
// could not open and read themselves is refused, and so is anything when we
// cannot take their identity. A stop signal ends the wait. -1 and the reason
// on failure.
int openRegularFileAs(const std::string& path, uid_t user, const StopSignals& stop,
                      std::string& why) {
  OpenFailure failure = OpenFailure::kNone;
  if (user == ::geteuid()) {
    const int fd = openRegularFile(path.c_str(), failure);
    why = describe(failure, path);
    return fd;
  }
  // Everything the child needs is looked up before the fork.
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> text(16384);
  if (::getpwuid_r(user, &entry, text.data(), text.size(), &found) != 0 || found == nullptr) {
    why = "user " + std::to_string(user) + " is unknown";
    return -1;
  }
  std::vector<gid_t> groups(64);
  for (int count = static_cast<int>(groups.size());;) {
    const int previous = count;
    if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) >= 0) {
      groups.resize(static_cast<size_t>(count));
      break;
    }
    if (count <= previous) count = previous * 2;  // Older libcs do not say how many.
    groups.resize(static_cast<size_t>(count));
  }
  const gid_t group = entry.pw_gid;
  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) {
    why = errnoText("cannot open " + path + " as user " + std::to_string(user));
    return -1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on. The raw calls change this
    // thread alone, which is all the child has.
    ::close(channel[0]);
    if (::syscall(SYS_setgroups, groups.size(), groups.data()) != 0 ||
        ::syscall(SYS_setresgid, group, group, group) != 0 ||
        ::syscall(SYS_setresuid, user, user, user) != 0) {
      ::_exit(1);
    }
    // It holds a copy of root's memory: the user it runs as may not attach.
    ::prctl(PR_SET_DUMPABLE, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = openRegularFile(path.c_str(), failure);
    if (fd < 0) ::_exit(1);
    DescriptorMessage message;
    cmsghdr* header = CMSG_FIRSTHDR(&message.header);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ::_exit(::sendmsg(channel[1], &message.header, MSG_NOSIGNAL) == 1 ? 0 : 1);
  }
  ::close(channel[1]);
  if (child < 0) {
    ::close(channel[0]);
    why = errnoText("cannot open " + path + " as user " + std::to_string(user));
    return -1;
  }
  // The child's end closes when it exits: readable in every case.
  pollfd watched[2] = {{channel[0], POLLIN, 0}, {stop.fd(), POLLIN, 0}};
  while (!stop.stopped()) {
    if (::poll(watched, 2, -1) < 0 && errno != EINTR) break;
    if (watched[0].revents != 0) break;
  }
  int fd = -1;
  if (!stop.stopped()) {
    DescriptorMessage message;
    if (::recvmsg(channel[0], &message.header, MSG_CMSG_CLOEXEC | MSG_DONTWAIT) == 1) {
      const cmsghdr* header = CMSG_FIRSTHDR(&message.header);
      if (header != nullptr && header->cmsg_level == SOL_SOCKET &&
          header->cmsg_type == SCM_RIGHTS && header->cmsg_len == CMSG_LEN(sizeof(int))) {
        std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
      }
    }
  }
  ::close(channel[0]);
  ::kill(child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (fd < 0) why = "user " + std::to_string(user) + " cannot open and read " + path;
  return fd;
}

// Copies the regular file open on `in` (named `source` in messages) into the
// new file `destination`. A file above `limit` bytes is refused; a stop
// signal ends the copy. Returns the reason, or nothing.
std::string copyRegularFile(int in, const std::string& source, const std::string& destination,
                            int64_t limit, const StopSignals& stop) {
  struct stat st {};
  if (::fstat(in, &st) != 0) return errnoText("cannot inspect " + source);
  if (!S_ISREG(st.st_mode)) return source + " is not a regular file";
  const std::string tooLarge = source + " is larger than " + std::to_string(limit) + " bytes";
  if (st.st_size > limit) return tooLarge;
  FileHandle out(
      ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600),
      /*closeOnDealloc=*/false);
  if (out.fileDescriptor() < 0) return errnoText("cannot create " + destination);
  std::vector<char> buffer(1 << 20);
  int64_t copied = 0;
  std::string why;
  for (;;) {
    if (stop.stopped()) {
      why = stop.reason();
      break;
    }
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      why = errnoText("cannot read " + source);
      break;
    }
    copied += n;
    // The file may grow while we read it.
    if (copied > limit) {
      why = tooLarge;
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

// The pid in a private folder's name "quillo-install.<pid>.XXXXXX", if it is one.
std::optional<pid_t> stagingFolderPid(const std::string& name) {
  const std::string_view prefix = kStagingFolderPrefix;
  if (!name.starts_with(prefix)) return std::nullopt;
  const std::string_view rest = std::string_view(name).substr(prefix.size());
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 9 || rest.size() != dot + 7) return std::nullopt;
  pid_t pid = 0;
  for (const char c : rest.substr(0, dot)) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// Removes the private folders of earlier runs that ended without removing
// them (killed with SIGKILL, or the machine went down): ours, and their run's
// process is gone. A folder whose pid was reused stays until a later run.
void sweepStaleStagingFolders(const std::string& parent) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const auto pid = stagingFolderPid(it->path().filename().string());
    if (!pid || *pid == ::getpid()) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    if (::kill(*pid, 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    std::filesystem::remove_all(it->path(), ignored);
  }
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

// How long a stopped script may take to clean up after SIGTERM before its
// group is killed.
constexpr unsigned kStopGraceSeconds = 5;

// The script's group leader, in its signal handlers: its parent has died,
// so the group is asked to end (the leader itself ignores SIGTERM), and
// killed when the grace period is over.
volatile sig_atomic_t gParentDied = 0;
void endOwnGroup(int) {
  gParentDied = 1;
  ::kill(0, SIGTERM);
  ::alarm(kStopGraceSeconds);
}
void killOwnGroup(int) { ::kill(0, SIGKILL); }

void setHandler(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(sig, &action, nullptr);
}

// An exit status as waitForExit() reports it: the code, or 128 + signal.
int exitStatus(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// In the forked leader: only async-signal-safe calls from here on. The
// leader heads a new process group, runs the script as its own child and
// exits with its status. When its parent dies (PR_SET_PDEATHSIG), even by
// SIGKILL, it ends the group as the parent would have: SIGTERM, then
// SIGKILL after the grace period or once the script is gone.
[[noreturn]] void runLeader(pid_t parent, const StopSignals& stop, const char* folder,
                            char* const* argv, char* const* envp) {
  ::setpgid(0, 0);
  setHandler(SIGTERM, SIG_IGN);
  setHandler(SIGUSR1, endOwnGroup);
  setHandler(SIGALRM, killOwnGroup);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, SIGUSR1);
  sigaddset(&own, SIGALRM);
  ::sigprocmask(SIG_UNBLOCK, &own, nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGUSR1);
  if (::getppid() != parent) ::_exit(127);  // The parent died before the line above.
  const pid_t script = ::fork();
  if (script == 0) {
    // Nothing of the caller's: every signal does what it does by default
    // (a trap of the script's own works only on one not ignored at its
    // start), and the script reads no input, from the caller's terminal
    // least of all.
    for (int sig = 1; sig < NSIG; ++sig) setHandler(sig, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &stop.previousMask(), nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int noInput = ::open("/dev/null", O_RDONLY);
    if (noInput > STDIN_FILENO) {
      ::dup2(noInput, STDIN_FILENO);
      ::close(noInput);
    }
    if (noInput >= 0 && ::chdir(folder) == 0) ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  if (script < 0) ::_exit(127);
  int status = 0;
  while (::waitpid(script, &status, 0) < 0) {
    if (errno != EINTR) ::_exit(127);
  }
  // Orphaned: whatever the script left running goes with it.
  if (gParentDied) killOwnGroup(SIGKILL);
  ::_exit(exitStatus(status));
}

// Runs /bin/sh SCRIPT PACKAGE in the folder under a group leader of its own
// (runLeader) and waits for it, or for a stop signal, which ends the group.
// Returns the script's status, or nothing: stopped, or the reason in `error`.
std::optional<int> runScript(const StagingFolder& stage, const std::string& systemRoot,
                             const StopSignals& stop, std::string& error) {
  // Everything the children need is built before the fork.
  std::string script = stage.file(kStagedScriptName);
  std::string package = stage.file(kStagedPackageName);
  std::string shell = "/bin/sh";
  std::vector<char*> argv{shell.data(), script.data(), package.data(), nullptr};
  // A fixed environment: nothing of the caller's (PATH, locale, loader
  // variables) reaches what runs as root.
  std::string path = kScriptPathVariable;
  std::string locale = "LC_ALL=C";
  std::string rootEntry = std::string(kSystemRootVariable) + "=" + systemRoot;
  std::vector<char*> envp{path.data(), locale.data()};
  if (!systemRoot.empty()) envp.push_back(rootEntry.data());
  envp.push_back(nullptr);

  // The leader holds the write end until it exits: end of file here.
  int ended[2];
  if (::pipe2(ended, O_CLOEXEC) != 0) {
    error = errnoText("cannot run the install script");
    return std::nullopt;
  }
  const pid_t parent = ::getpid();
  const pid_t leader = ::fork();
  if (leader == 0) {
    ::close(ended[0]);
    runLeader(parent, stop, stage.path().c_str(), argv.data(), envp.data());
  }
  ::close(ended[1]);
  if (leader < 0) {
    ::close(ended[0]);
    error = errnoText("cannot run the install script");
    return std::nullopt;
  }
  // Also here, so that the group exists before we may have to end it.
  ::setpgid(leader, leader);

  pollfd watched[2] = {{ended[0], POLLIN, 0}, {stop.fd(), POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watched[0].revents != 0 || stop.stopped()) break;
  }
  if (stop.stopped()) {
    // The script may clean up after itself (install.sh puts a copy it moved
    // aside back), for a while.
    ::kill(-leader, SIGTERM);
    pollfd leaderEnd{ended[0], POLLIN, 0};
    while (::poll(&leaderEnd, 1, kStopGraceSeconds * 1000) < 0 && errno == EINTR) {
    }
  }
  ::close(ended[0]);
  // The leader has ended or is to be ended now: whatever the script left
  // running in its group ends too. The leader is not reaped yet, so the
  // group's id cannot have gone to anyone else.
  ::kill(-leader, SIGKILL);
  int status = 0;
  while (::waitpid(leader, &status, 0) < 0 && errno == EINTR) {
  }
  if (stop.stopped()) return std::nullopt;
  return exitStatus(status);
}

}  // namespace

int runVerifiedInstall(const VerifiedInstallRequest& request, std::string& error) {
  if (!isLowerHexMd5(request.expectedMd5)) {
    error = "the expected MD5 is not 32 lower-case hexadecimal digits";
    return kVerifiedInstallUsage;
  }
  if (request.expectedSize < 0) {
    error = "the expected size is negative";
    return kVerifiedInstallUsage;
  }
  // Blocked before the folder exists: a stop is always noticed by the code
  // that removes it.
  const StopSignals stop;
  if (!stop.valid()) {
    error = errnoText("cannot watch for stop signals");
    return kVerifiedInstallScriptFailed;
  }
  // A stop that came meanwhile outranks whatever went wrong.
  const auto failed = [&](int status, std::string why) {
    if (stop.stopped()) {
      error = stop.reason();
      return kVerifiedInstallStopped;
    }
    error = std::move(why);
    return status;
  };
  // For a caller other than root, one refusal in the same words, whatever
  // the reason: it tells nothing about a file they could not read.
  const auto packageRefused = [&](const std::string& why) {
    return failed(kVerifiedInstallBadInput,
                  request.packageReader ? kPackageUnusable : "package refused: " + why);
  };

  // Before anything else: the package as its reader may open it.
  std::string why;
  const FileHandle package(
      openRegularFileAs(request.packagePath, request.packageReader.value_or(::geteuid()), stop,
                        why),
      /*closeOnDealloc=*/true);
  if (package.fileDescriptor() < 0) return packageRefused(why);

  if (why = checkStagingParent(request.stagingParent); !why.empty()) {
    error = why;
    return kVerifiedInstallNoStaging;
  }
  sweepStaleStagingFolders(request.stagingParent);
  std::string pattern = request.stagingParent + "/" + kStagingFolderPrefix +
                        std::to_string(::getpid()) + ".XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = errnoText("cannot create a private folder in " + request.stagingParent);
    return kVerifiedInstallNoStaging;
  }
  const StagingFolder stage(pattern);

  {
    OpenFailure failure = OpenFailure::kNone;
    const FileHandle script(openRegularFile(request.scriptPath.c_str(), failure),
                            /*closeOnDealloc=*/true);
    why = script.fileDescriptor() < 0
              ? describe(failure, request.scriptPath)
              : copyRegularFile(script.fileDescriptor(), request.scriptPath,
                                stage.file(kStagedScriptName), kMaxInstallScriptSize, stop);
    if (!why.empty()) return failed(kVerifiedInstallBadInput, "install script refused: " + why);
  }
  if (why = copyRegularFile(package.fileDescriptor(), request.packagePath,
                            stage.file(kStagedPackageName),
                            std::min(request.expectedSize, kMaxPackageSize), stop);
      !why.empty()) {
    return packageRefused(why);
  }
  // The copy is ours alone now: what we hash is what the script unpacks.
  const auto actual = md5HexOfFile(stage.file(kStagedPackageName));
  if (!actual || *actual != request.expectedMd5 || stop.stopped()) {
    return failed(kVerifiedInstallMismatch, "package refused: its MD5 is " +
                                                actual.value_or("unreadable") + ", not " +
                                                request.expectedMd5);
  }

  const auto status = runScript(stage, request.systemRoot, stop, why);
  if (!status) return failed(kVerifiedInstallScriptFailed, why);
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
