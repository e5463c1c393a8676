#include "platform/input_sources.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/notification_center.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_info.h"

namespace quillo::tis {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kRegistryLocation = "/Library/Preferences/InputSources.json";
constexpr long kConsentMajorVersion = 12;

constexpr double kDefaultLockTimeout = 5.0;
// Temporary registries are "InputSources.json.tmp-" + six random letters or digits.
constexpr std::string_view kTemporarySuffix = ".tmp-";
constexpr size_t kTemporaryRandomLength = 6;
constexpr auto kLockRetryInterval = std::chrono::milliseconds(10);
// A registry holds a few hundred bytes a source; anything past this is not
// one, and root does not read a file of the folder's owner without bound.
constexpr size_t kMaxRegistrySize = size_t{1} << 20;

std::mutex gLockTimeoutMu;
std::optional<double> gLockTimeoutOverride;  // Guarded by gLockTimeoutMu.

double lockTimeout() {
  std::lock_guard lock(gLockTimeoutMu);
  return gLockTimeoutOverride.value_or(kDefaultLockTimeout);
}

std::mutex gReadHookMu;
std::function<void()> gReadHook;  // Guarded by gReadHookMu.

void runRegistryReadHook() {
  std::function<void()> hook;
  {
    std::lock_guard lock(gReadHookMu);
    hook = gReadHook;
  }
  if (hook) hook();
}

// Who may write the registry. The Preferences folder's owner owns the
// registry and its lock; only that owner and root may write any of the three.
// A folder others can write would let them plant or hold the lock, or swap
// the registry; a file of another user's is not the registry's.
struct RegistryOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

std::string refusal(const std::string& path, const std::string& why, const std::string& fix) {
  return "input sources: refusing " + path + ": " + why + "; fix: " + fix;
}

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why the folder at `folder` (fstat in `st`) may not hold the registry; empty when it may.
std::string folderProblem(const std::string& folder, const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return refusal(folder, "it is not a folder", "make it a folder of its own");
  const uid_t me = ::geteuid();
  if (me != 0 && st.st_uid != 0 && st.st_uid != me) {
    return refusal(folder, "it belongs to user " + std::to_string(st.st_uid) + ", neither this user nor root",
                   "use a system root of your own");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return refusal(folder, "users other than its owner can write it (mode " + modeText(st.st_mode) + ")",
                   "chmod go-w " + shellQuote(folder));
  }
  return {};
}

// Why the registry or (`isLock`) lock file `path` (fstat in `st`) is not the
// owner's; empty when it is. Root never repairs either: a lock that is not
// exactly as a change makes it may be a file of someone else's that was
// linked or moved there, and changing its owner would hand that file over.
std::string fileProblem(const std::string& path, const struct stat& st, const RegistryOwner& owner,
                        bool isLock) {
  const std::string removeFix = "rm " + shellQuote(path) + (isLock ? " (it is made again)" : "");
  if (S_ISLNK(st.st_mode)) return refusal(path, "it is a symbolic link", removeFix);
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
    return refusal(path,
                   "it is not a plain file of its own (a folder, a device, a pipe or a hard link)",
                   removeFix);
  }
  if (st.st_uid != owner.uid && (isLock || st.st_uid != 0)) {
    return refusal(
        path,
        "it belongs to user " + std::to_string(st.st_uid) + ", not to the registry's owner (user " +
            std::to_string(owner.uid) + ")" + (isLock ? "" : " or root"),
        isLock ? removeFix : "chown " + std::to_string(owner.uid) + " " + shellQuote(path));
  }
  if (isLock && (st.st_mode & 07777) != 0600) {
    return refusal(path, "its mode is " + modeText(st.st_mode) + ", not 0600", removeFix);
  }
  if (!isLock && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return refusal(path, "users other than its owner can write it (mode " + modeText(st.st_mode) + ")",
                   "chmod go-w " + shellQuote(path));
  }
  return {};
}

// The registry's folder, opened once: every later step names its files
// relative to `fd`, so a folder renamed or replaced by a link after the
// checks is never read or written.
class RegistryFolder {
 public:
  explicit RegistryFolder(const std::string& registry)
      : registry_(registry),
        folder_(fs::path(registry).parent_path().string()),
        name_(fs::path(registry).filename().string()) {}
  ~RegistryFolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  RegistryFolder(const RegistryFolder&) = delete;
  RegistryFolder& operator=(const RegistryFolder&) = delete;

  // noErr when the folder may hold the registry, also when it does not
  // exist (then exists() is false and the owner is this user, who would
  // create it); permErr with the reason in `why`; ioErr when it cannot be opened.
  [[nodiscard]] OSStatus open(std::string& why) {
    owner_ = {::geteuid(), ::getegid()};
    // O_PATH: a folder this user may search but not list still serves.
    fd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
      if (errno == ENOENT) return noErr;
      struct stat st {};
      if (::lstat(folder_.c_str(), &st) != 0) return ioErr;
      why = folderProblem(folder_, st);
      return why.empty() ? ioErr : permErr;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return ioErr;
    why = folderProblem(folder_, st);
    if (!why.empty()) return permErr;
    owner_ = {st.st_uid, st.st_gid};
    return noErr;
  }

  [[nodiscard]] bool exists() const { return fd_ >= 0; }
  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const RegistryOwner& owner() const { return owner_; }
  [[nodiscard]] const std::string& registryPath() const { return registry_; }
  [[nodiscard]] const std::string& registryName() const { return name_; }
  [[nodiscard]] std::string lockName() const { return name_ + ".lock"; }
  [[nodiscard]] std::string pathOf(const std::string& name) const { return folder_ + "/" + name; }

  // Why the entry `name` in the folder (not followed) is not the owner's
  // registry or lock; empty when it is or when it cannot be looked at.
  [[nodiscard]] std::string entryProblem(const std::string& name, bool isLock) const {
    struct stat st {};
    if (fd_ < 0 || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return fileProblem(pathOf(name), st, owner_, isLock);
  }

  // Opens `name` in the folder without following a link or waiting on a
  // pipe, then checks the file opened. The descriptor, or -1 with `status`:
  // permErr with `why` when it is not the owner's plain file, else ioErr
  // with errno (ENOENT: there is none).
  [[nodiscard]] int openFile(const std::string& name, int flags, bool isLock, OSStatus& status,
                             std::string& why) const {
    status = ioErr;
    const int fd =
        ::openat(fd_, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      const int openError = errno;
      // A link, or a file of another user's that is closed to us.
      why = entryProblem(name, isLock);
      if (!why.empty()) status = permErr;
      errno = openError;
      return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(why = fileProblem(pathOf(name), st, owner_, isLock)).empty()) {
      if (!why.empty()) status = permErr;
      ::close(fd);
      return -1;
    }
    status = noErr;
    return fd;
  }

 private:
  std::string registry_;
  std::string folder_;
  std::string name_;
  int fd_ = -1;
  RegistryOwner owner_;
};

// Holds the registry's lock file locked for the scope. The lock belongs to
// the registry's owner and is open to nobody else (0600): nobody else can
// open it and hold it forever, and root's changes leave it to the owner. The
// wait is bounded; a writer that keeps it longer gets fBsyErr.
class RegistryLock {
 public:
  // Requires: `folder` opened and exists().
  explicit RegistryLock(const RegistryFolder& folder) : status_(acquire(folder)) {
    if (status_ != noErr && fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RegistryLock() {
    if (fd_ >= 0) ::close(fd_);  // Closing releases the lock.
  }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;
  // noErr when held; fBsyErr when another process kept it; permErr when
  // the lock file is not the owner's; ioErr otherwise.
  [[nodiscard]] OSStatus status() const { return status_; }

 private:
  OSStatus acquire(const RegistryFolder& folder) {
    if (auto status = openLockFile(folder); status != noErr) return status;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(lockTimeout()));
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return noErr;
      if (errno != EWOULDBLOCK && errno != EINTR) return ioErr;
      if (std::chrono::steady_clock::now() >= deadline) return fBsyErr;
      std::this_thread::sleep_for(kLockRetryInterval);
    }
  }

  // Makes the lock, or opens the one there when it is already the owner's.
  OSStatus openLockFile(const RegistryFolder& folder) {
    const std::string name = folder.lockName();
    const RegistryOwner& owner = folder.owner();
    // The name may come and go between the two opens (another change made
    // it, its owner removed it): try again a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
      fd_ = ::openat(folder.fd(), name.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
      if (fd_ >= 0) {
        // Ours alone, just made: only now may its owner and mode be set.
        if (owner.uid != ::geteuid() && ::fchown(fd_, owner.uid, owner.gid) != 0) return ioErr;
        return ::fchmod(fd_, 0600) == 0 ? noErr : ioErr;
      }
      if (errno != EEXIST) return ioErr;
      OSStatus status;
      std::string why;
      fd_ = folder.openFile(name, O_RDWR, /*isLock=*/true, status, why);
      if (fd_ >= 0) return noErr;
      if (status == permErr) {
        consoleLog(why);
        return permErr;
      }
      if (errno != ENOENT) return ioErr;
    }
    return ioErr;
  }

  int fd_ = -1;
  OSStatus status_;
};

json systemEntry(std::string_view id, bool enabled) {
  return {{"id", id},       {"bundleId", id},       {"enabled", enabled},
          {"pending", false}, {"selectCapable", true}, {"selected", enabled},
          {"system", true}};
}

json defaultRegistry() {
  return {{"current", kSystemLayoutId},
          {"sources", json::array({systemEntry(kSystemLayoutId, true),
                                   systemEntry("com.apple.keylayout.US", false)})}};
}

bool validRegistry(const json& r) {
  if (!r.is_object() || !r.contains("sources") || !r["sources"].is_array()) return false;
  if (!r.contains("current") || !r["current"].is_string()) return false;
  for (const auto& e : r["sources"]) {
    if (!e.is_object() || !e.contains("id") || !e["id"].is_string()) return false;
    if (!e.contains("bundleId") || !e["bundleId"].is_string()) return false;
    for (const char* key : {"enabled", "pending", "selectCapable", "selected", "system"}) {
      if (!e.contains(key) || !e[key].is_boolean()) return false;
    }
    if (e.contains("inputModeId") && !e["inputModeId"].is_string()) return false;
  }
  return true;
}

// Reads the registry. Writers replace the file by a rename, so a reader sees
// the old or the new file whole and needs no lock; it creates nothing. A
// registry swapped for a pipe or a device is refused, never waited on.
// Returns noErr with the registry in `r` (a missing one reads as the
// default), permErr with the reason in `why`, or ioErr.
OSStatus load(const RegistryFolder& folder, json& r, std::string& why) {
  if (!folder.exists()) {
    r = defaultRegistry();
    return noErr;
  }
  runRegistryReadHook();
  OSStatus status;
  const int fd = folder.openFile(folder.registryName(), O_RDONLY, /*isLock=*/false, status, why);
  if (fd < 0) {
    if (status == ioErr && errno == ENOENT) {
      r = defaultRegistry();
      return noErr;
    }
    return status;
  }
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxRegistrySize) break;
  }
  ::close(fd);
  if (n < 0) return ioErr;
  if (text.size() > kMaxRegistrySize) {
    consoleLog("input sources: registry " + folder.registryPath() + " is larger than " +
               std::to_string(kMaxRegistrySize) + " bytes; left as it is");
    return ioErr;
  }
  r = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!validRegistry(r)) {
    consoleLog("input sources: registry " + folder.registryPath() + " is malformed; left as it is");
    return ioErr;
  }
  return noErr;
}

// Requires: the registry lock held. Temporary files are only made under the
// lock, so any found now was left by a writer that was killed: remove them.
// Only names of the shape save() makes are touched, never the lock file nor
// a name a user chose (InputSources.json.tmp-backup1), never a link's target.
void removeStaleTemporaryFiles(const RegistryFolder& folder) {
  const std::string prefix = folder.registryName() + std::string(kTemporarySuffix);
  const int listing = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (!dir) {
    ::close(listing);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTemporaryRandomLength || !name.starts_with(prefix)) {
      continue;
    }
    const auto suffix = name.substr(prefix.size());
    if (std::all_of(suffix.begin(), suffix.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
      stale.emplace_back(name);
    }
  }
  ::closedir(dir);
  for (const auto& name : stale) (void)::unlinkat(folder.fd(), name.c_str(), 0);
}

// A new temporary file in the folder, made by this process (never through a
// planted name or link): its descriptor and name, or -1.
int createTemporaryFile(const RegistryFolder& folder, std::string& name) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[kTemporaryRandomLength];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    name = folder.registryName() + std::string(kTemporarySuffix);
    for (unsigned char byte : random) name += kAlphabet[byte % kAlphabet.size()];
    const int fd = ::openat(folder.fd(), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Requires: the registry lock held. Writes a new file beside the registry,
// syncs it and renames it over the registry, which stays its owner's.
bool save(const RegistryFolder& folder, const json& r) {
  removeStaleTemporaryFiles(folder);
  std::string tmp;
  const int fd = createTemporaryFile(folder, tmp);
  if (fd < 0) return false;
  const RegistryOwner& owner = folder.owner();
  const bool owned = owner.uid == ::geteuid() || ::fchown(fd, owner.uid, owner.gid) == 0;
  const bool written = owned && writeAll(fd, r.dump(2) + "\n") && ::fchmod(fd, 0644) == 0 &&
                       ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed ||
      ::renameat(folder.fd(), tmp.c_str(), folder.fd(), folder.registryName().c_str()) != 0) {
    ::unlinkat(folder.fd(), tmp.c_str(), 0);
    return false;
  }
  // The rename reaches the disk with its folder.
  const int synced = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (synced >= 0) {
    (void)::fsync(synced);
    ::close(synced);
  }
  return true;
}

json* findEntry(json& r, const std::string& id) {
  for (auto& e : r["sources"]) {
    if (e["id"] == id) return &e;
  }
  return nullptr;
}

std::set<std::string> enabledIds(const json& r) {
  std::set<std::string> ids;
  for (const auto& e : r["sources"]) {
    if (e["enabled"].get<bool>()) ids.insert(e["id"].get<std::string>());
  }
  return ids;
}

// After `r`'s current source stopped being selected: the system layout when
// usable, else the first enabled select-capable source, else none.
void fallBackToSystemLayout(json& r) {
  json* next = findEntry(r, std::string(kSystemLayoutId));
  if (!next || !(*next)["enabled"].get<bool>()) {
    next = nullptr;
    for (auto& e : r["sources"]) {
      if (e["enabled"].get<bool>() && e["selectCapable"].get<bool>()) {
        next = &e;
        break;
      }
    }
  }
  for (auto& e : r["sources"]) e["selected"] = false;
  if (next) (*next)["selected"] = true;
  r["current"] = next ? (*next)["id"].get<std::string>() : std::string();
}

// An input method's own entry: the one of its bundle that is not a mode.
const json* primaryEntry(const json& r, const json& entry) {
  for (const auto& e : r["sources"]) {
    if (e["bundleId"] == entry["bundleId"] && !e.contains("inputModeId") && !e["system"].get<bool>()) {
      return &e;
    }
  }
  return nullptr;
}

bool needsConsent(const json& r, const json& entry) {
  if (entry["system"].get<bool>()) return false;
  if (sysinfo::operatingSystemVersion().major < kConsentMajorVersion) return false;
  const json* primary = primaryEntry(r, entry);
  return !primary || !(*primary)["enabled"].get<bool>();
}

void postEnabledSetChanged() {
  DistributedNotificationCenter::defaultCenter().post(
      Notification{std::string(kEnabledKeyboardInputSourcesChanged), std::nullopt});
}

// Runs `change` on the registry under the lock and saves it when the change
// returns noErr. Posts the enabled-set notification when that set changed.
template <typename F>
OSStatus mutate(F&& change) {
  const std::string path = registryPath();
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  bool enabledSetChanged = false;
  OSStatus status;
  std::string why;
  {
    RegistryFolder folder(path);
    status = folder.open(why);
    if (status == noErr && !folder.exists()) status = ioErr;
    if (status != noErr) {
      if (status == permErr) consoleLog(why);
      return status;
    }
    RegistryLock lock(folder);
    if (lock.status() != noErr) return lock.status();
    json r;
    if (status = load(folder, r, why); status != noErr) {
      if (status == permErr) consoleLog(why);
      return status;
    }
    const auto before = enabledIds(r);
    status = change(r);
    if (status != noErr) return status;
    enabledSetChanged = enabledIds(r) != before;
    if (!save(folder, r)) return ioErr;
  }
  if (enabledSetChanged) postEnabledSetChanged();
  return status;
}

// The registry as it stands, or the status that says why it cannot be read.
OSStatus readRegistry(json& r, std::string& why) {
  RegistryFolder folder(registryPath());
  if (const auto status = folder.open(why); status != noErr) return status;
  return load(folder, r, why);
}

// The registry as it stands; nothing when it is refused or unreadable.
std::optional<json> snapshot() {
  json r;
  std::string why;
  if (readRegistry(r, why) != noErr) return std::nullopt;
  return r;
}

std::optional<PropertyValue> entryProperty(const json& e, Property property) {
  switch (property) {
    case Property::InputSourceID:
      return e["id"].get<std::string>();
    case Property::BundleID:
      return e["bundleId"].get<std::string>();
    case Property::InputModeID:
      if (!e.contains("inputModeId")) return std::nullopt;
      return e["inputModeId"].get<std::string>();
    case Property::InputSourceIsEnabled:
      return e["enabled"].get<bool>();
    case Property::InputSourceIsSelectCapable:
      return e["selectCapable"].get<bool>();
    case Property::InputSourceIsSelected:
      return e["selected"].get<bool>();
  }
  return std::nullopt;
}

// The entries a manifest declares; nothing when it is malformed.
std::optional<std::vector<json>> manifestEntries(const std::string& bundlePath) {
  std::ifstream in(bundlePath + "/Contents/Info.json");
  if (!in) return std::nullopt;
  const json m = json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!m.is_object()) return std::nullopt;
  auto bundleId = m.find("CFBundleIdentifier");
  auto decl = m.find("TISInputSource");
  if (bundleId == m.end() || !bundleId->is_string() || bundleId->get<std::string>().empty()) {
    return std::nullopt;
  }
  if (decl == m.end() || !decl->is_object()) return std::nullopt;
  auto id = decl->find("id");
  if (id == decl->end() || !id->is_string() || id->get<std::string>().empty()) return std::nullopt;
  const json emptyModes = json::array();
  auto modesIt = decl->find("modes");
  const json& modes = modesIt == decl->end() ? emptyModes : *modesIt;
  if (!modes.is_array()) return std::nullopt;

  std::vector<json> entries;
  std::set<std::string> ids;
  auto add = [&](json e) {
    e["bundleId"] = *bundleId;
    e["bundlePath"] = bundlePath;
    ids.insert(e["id"].get<std::string>());
    entries.push_back(std::move(e));
  };
  add({{"id", *id}, {"selectCapable", modes.empty()}});
  for (const auto& mode : modes) {
    if (!mode.is_object()) return std::nullopt;
    auto modeId = mode.find("id");
    if (modeId == mode.end() || !modeId->is_string() || modeId->get<std::string>().empty()) {
      return std::nullopt;
    }
    auto inputModeId = mode.find("inputModeId");
    if (inputModeId != mode.end() && !inputModeId->is_string()) return std::nullopt;
    auto selectCapable = mode.find("selectCapable");
    if (selectCapable != mode.end() && !selectCapable->is_boolean()) return std::nullopt;
    if (ids.count(modeId->get<std::string>())) return std::nullopt;
    add({{"id", *modeId},
         {"inputModeId", inputModeId == mode.end() ? *modeId : *inputModeId},
         {"selectCapable", selectCapable == mode.end() ? true : selectCapable->get<bool>()}});
  }
  return entries;
}

}  // namespace

std::string_view propertyName(Property property) {
  switch (property) {
    case Property::InputSourceID:
      return "kTISPropertyInputSourceID";
    case Property::BundleID:
      return "kTISPropertyBundleID";
    case Property::InputModeID:
      return "kTISPropertyInputModeID";
    case Property::InputSourceIsEnabled:
      return "kTISPropertyInputSourceIsEnabled";
    case Property::InputSourceIsSelectCapable:
      return "kTISPropertyInputSourceIsSelectCapable";
    case Property::InputSourceIsSelected:
      return "kTISPropertyInputSourceIsSelected";
  }
  return "";
}

std::string registryPath() { return folders::systemPath(kRegistryLocation); }

OSStatus checkRegistry() {
  json r;
  std::string why;
  return readRegistry(r, why);
}

std::string registryRefusal() {
  RegistryFolder folder(registryPath());
  std::string why;
  if (folder.open(why) != noErr || !folder.exists()) return why;
  if (why = folder.entryProblem(folder.registryName(), /*isLock=*/false); !why.empty()) return why;
  // The lock as a change would find it.
  return folder.entryProblem(folder.lockName(), /*isLock=*/true);
}

void setLockTimeoutForTesting(std::optional<double> seconds) {
  std::lock_guard lock(gLockTimeoutMu);
  gLockTimeoutOverride = seconds;
}

void setRegistryReadHookForTesting(std::function<void()> hook) {
  std::lock_guard lock(gReadHookMu);
  gReadHook = std::move(hook);
}

std::vector<InputSource> createInputSourceList(const Filter& filter, bool includeAllInstalled) {
  std::vector<InputSource> list;
  auto r = snapshot();
  if (!r) return list;
  for (const auto& e : (*r)["sources"]) {
    if (!includeAllInstalled && !e["enabled"].get<bool>()) continue;
    bool match = true;
    for (const auto& [property, value] : filter) {
      if (entryProperty(e, property) != value) {
        match = false;
        break;
      }
    }
    if (match) list.emplace_back(e["id"].get<std::string>());
  }
  return list;
}

std::optional<PropertyValue> getInputSourceProperty(const InputSource& source, Property property) {
  auto r = snapshot();
  if (!r) return std::nullopt;
  const json* e = findEntry(*r, source.id());
  return e ? entryProperty(*e, property) : std::nullopt;
}

std::optional<std::string> stringProperty(const InputSource& source, Property property) {
  auto v = getInputSourceProperty(source, property);
  if (!v || !std::holds_alternative<std::string>(*v)) return std::nullopt;
  return std::get<std::string>(*v);
}

std::optional<bool> boolProperty(const InputSource& source, Property property) {
  auto v = getInputSourceProperty(source, property);
  if (!v || !std::holds_alternative<bool>(*v)) return std::nullopt;
  return std::get<bool>(*v);
}

OSStatus registerInputSource(const std::string& bundlePath) {
  auto declared = manifestEntries(bundlePath);
  if (!declared) {
    consoleLog("input sources: no valid manifest in " + bundlePath);
    return paramErr;
  }
  const std::string bundleId = declared->front()["bundleId"].get<std::string>();
  return mutate([&](json& r) -> OSStatus {
    std::set<std::string> declaredIds;
    for (const auto& d : *declared) declaredIds.insert(d["id"].get<std::string>());
    for (const auto& e : r["sources"]) {
      // A bundle may not take over the system's sources or another bundle's ids.
      if (declaredIds.count(e["id"].get<std::string>()) &&
          (e["system"].get<bool>() || e["bundleId"] != bundleId)) {
        return paramErr;
      }
    }
    // Drop what the bundle no longer declares.
    bool lostCurrent = false;
    json kept = json::array();
    for (auto& e : r["sources"]) {
      if (e["bundleId"] == bundleId && !declaredIds.count(e["id"].get<std::string>())) {
        lostCurrent = lostCurrent || e["id"] == r["current"];
        continue;
      }
      kept.push_back(e);
    }
    r["sources"] = kept;
    for (const auto& d : *declared) {
      json* existing = findEntry(r, d["id"].get<std::string>());
      if (existing) {
        const bool enabled = (*existing)["enabled"], pending = (*existing)["pending"],
                   selected = (*existing)["selected"];
        *existing = d;
        (*existing)["enabled"] = enabled;
        (*existing)["pending"] = pending;
        (*existing)["selected"] = selected && d["selectCapable"].get<bool>();
      } else {
        json e = d;
        e["enabled"] = false;
        e["pending"] = false;
        e["selected"] = false;
        r["sources"].push_back(std::move(e));
      }
      (*findEntry(r, d["id"].get<std::string>()))["system"] = false;
    }
    if (lostCurrent) fallBackToSystemLayout(r);
    return noErr;
  });
}

OSStatus enableInputSource(const InputSource& source) {
  return mutate([&](json& r) -> OSStatus {
    json* e = findEntry(r, source.id());
    if (!e) return paramErr;
    if ((*e)["enabled"].get<bool>()) return noErr;
    if (needsConsent(r, *e)) {
      (*e)["pending"] = true;
    } else {
      (*e)["enabled"] = true;
      (*e)["pending"] = false;
    }
    return noErr;
  });
}

OSStatus disableInputSource(const InputSource& source) {
  return mutate([&](json& r) -> OSStatus {
    json* e = findEntry(r, source.id());
    if (!e) return paramErr;
    (*e)["enabled"] = false;
    (*e)["pending"] = false;
    if ((*e)["selected"].get<bool>()) {
      (*e)["selected"] = false;
      if (r["current"] == source.id()) fallBackToSystemLayout(r);
    }
    return noErr;
  });
}

OSStatus selectInputSource(const InputSource& source) {
  return mutate([&](json& r) -> OSStatus {
    json* e = findEntry(r, source.id());
    if (!e || !(*e)["enabled"].get<bool>() || !(*e)["selectCapable"].get<bool>()) return paramErr;
    for (auto& other : r["sources"]) other["selected"] = false;
    (*e)["selected"] = true;
    r["current"] = source.id();
    return noErr;
  });
}

OSStatus deselectInputSource(const InputSource& source) {
  return mutate([&](json& r) -> OSStatus {
    json* e = findEntry(r, source.id());
    if (!e) return paramErr;
    (*e)["selected"] = false;
    if (r["current"] == source.id()) fallBackToSystemLayout(r);
    return noErr;
  });
}

std::optional<InputSource> copyCurrentKeyboardInputSource() {
  auto r = snapshot();
  if (!r) return std::nullopt;
  const std::string current = (*r)["current"];
  if (current.empty() || !findEntry(*r, current)) return std::nullopt;
  return InputSource(current);
}

OSStatus approvePendingInputSource(const InputSource& source) {
  return mutate([&](json& r) -> OSStatus {
    json* e = findEntry(r, source.id());
    if (!e || !(*e)["pending"].get<bool>()) return paramErr;
    (*e)["enabled"] = true;
    (*e)["pending"] = false;
    return noErr;
  });
}

bool isPendingApproval(const InputSource& source) {
  auto r = snapshot();
  if (!r) return false;
  const json* e = findEntry(*r, source.id());
  return e && (*e)["pending"].get<bool>();
}

}  // namespace quillo::tis
