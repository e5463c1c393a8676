#include "jot/log_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <boost/filesystem.hpp>

#include "jot/block_reader.h"
#include "jot/log_format.h"
#include "jot/strutil.h"

namespace vela::jot {
namespace fs = boost::filesystem;
namespace {

constexpr uintmax_t kMinCacheSpace = uintmax_t{1} << 30;

struct tm localDay(time_t sec) {
  struct tm tm {};
  localtime_r(&sec, &tm);
  return tm;
}

bool sameDay(time_t a, time_t b) {
  const struct tm ta = localDay(a);
  const struct tm tb = localDay(b);
  return ta.tm_year == tb.tm_year && ta.tm_mon == tb.tm_mon && ta.tm_mday == tb.tm_mday;
}

std::string formatMark(time_t sec) {
  const struct tm tm = localDay(sec);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %z %H:%M:%S", &tm);
  return text;
}

bool isEightDigits(const std::string& name) {
  return name.size() == 8 && std::all_of(name.begin(), name.end(), [](char c) {
           return c >= '0' && c <= '9';
         });
}

// Opens a log file without ever waiting: a FIFO without a reader fails at
// once (ENXIO), and of what opens only a regular file or a device is kept
// (ESPIPE otherwise: a FIFO, a socket). Returns -1 with errno set.
int openNoWait(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
    ::close(fd);
    errno = ESPIPE;
    return -1;
  }
  return fd;
}

int openForAppend(const std::string& path) {
  return openNoWait(path, O_WRONLY | O_APPEND | O_CREAT);
}

// Writes `len` bytes at the end of `fd` (opened O_APPEND) in one write(), so
// that another process appending to the file puts its blocks before or after
// these, never inside. A short write (a full disk, a size limit) is cut back
// when nothing was appended after it. Returns 0 or why not.
int appendWhole(int fd, const void* data, size_t len, const LogFiles::ConsoleSink& console) {
  const auto* bytes = static_cast<const char*>(data);
  off_t start = -1;
  size_t done = 0;
  while (done < len) {
    errno = 0;
    const ssize_t n = ::write(fd, bytes + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (done == 0) start = end - n;
    // Another process appended between the pieces of a short write.
    if (end - n != start + static_cast<off_t>(done)) break;
    done += static_cast<size_t>(n);
  }
  if (done == len) return 0;
  const int err = errno ? errno : EIO;
  struct stat st {};
  if (done > 0 && ::fstat(fd, &st) == 0 && st.st_size == start + static_cast<off_t>(done) &&
      ::ftruncate(fd, start) != 0) {
    console("truncate error:" + std::to_string(errno));
  }
  return err;
}

uintmax_t fileSizeOr0(const std::string& path) {
  boost::system::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

vela::comm::Mutex& LogDirectoryMutex() {
  // Never destroyed: maintenance threads may still run at exit.
  static auto* mutex = new vela::comm::Mutex();
  return *mutex;
}

LogFiles::LogFiles(JotConfig config, JotClock clock, SyncBlockMaker makeSyncBlock,
                   ConsoleSink console)
    : config_(std::move(config)),
      clock_(std::move(clock)),
      makeSyncBlock_(std::move(makeSyncBlock)),
      console_(std::move(console)) {}

LogFiles::~LogFiles() { CloseFile(); }

void LogFiles::SetMaxFileSize(uint64_t size) {
  vela::comm::ScopedLock lock(fileMutex_);
  if (lock.islocked()) maxFileSize_ = size;
}

void LogFiles::SetMaxAliveTime(int64_t seconds) {
  vela::comm::ScopedLock lock(fileMutex_);
  if (lock.islocked()) maxAliveTime_ = seconds;
}

void LogFiles::CloseFile() {
  vela::comm::ScopedLock lock(fileMutex_);
  if (lock.islocked()) CloseFileLocked();
}

void LogFiles::CloseFileLocked() {
  if (logFd_ >= 0) {
    openFileTime_ = 0;
    ::close(logFd_);
    logFd_ = -1;
    openDir_.clear();
  }
}

std::string LogFiles::MakeLogFileNamePrefix(const struct timeval& tv, const std::string& prefix) {
  const struct tm tm = localDay(tv.tv_sec);
  char date[32];
  std::snprintf(date, sizeof date, "_%d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return prefix + date;
}

std::string LogFiles::MakeLogFileName(const struct timeval& tv, const std::string& dir,
                                      const std::string& prefix, const std::string& ext) {
  const std::string filePrefix = MakeLogFileNamePrefix(tv, prefix);
  const long index = maxFileSize_ > 0 ? GetNextFileIndex(filePrefix, ext) : 0;
  std::string path = dir + "/" + filePrefix;
  if (index > 0) path += "_" + std::to_string(index);
  // Never cut to a maximum length: a cut path names a file outside `dir`, or
  // one that expiry and indexing never find. Too long for the system, it
  // fails to open with ENAMETOOLONG, which the caller reports.
  path += "." + ext;
  return path;
}

bool LogFiles::string_compare_greater(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() > b.size();
  return a > b;
}

void LogFiles::GetFileNamesByPrefix(const std::string& dir, const std::string& filePrefix,
                                    const std::string& ext, std::vector<std::string>& names) {
  boost::system::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    // A dangling link or a loop among the files is skipped, never fatal.
    boost::system::error_code statusEc;
    const fs::file_status status = it->status(statusEc);
    if (statusEc) {
      NoteError("status", it->path(), statusEc);
      continue;
    }
    if (!fs::is_regular_file(status)) continue;
    const std::string name = it->path().filename().string();
    if (comm::strutil::StartsWith(name, filePrefix) && comm::strutil::EndsWith(name, ext)) {
      names.push_back(name);
    }
  }
}

long LogFiles::GetNextFileIndex(const std::string& filePrefix, const std::string& ext) {
  std::vector<std::string> names;
  GetFileNamesByPrefix(config_.logdir_, filePrefix, ext, names);
  if (!config_.cachedir_.empty()) GetFileNamesByPrefix(config_.cachedir_, filePrefix, ext, names);
  if (names.empty()) return 0;
  std::sort(names.begin(), names.end(), string_compare_greater);
  const std::string& newest = names.front();
  const size_t dot = newest.rfind("." + ext);
  if (dot == std::string::npos || dot < filePrefix.size()) return 0;
  std::string part = newest.substr(filePrefix.size(), dot - filePrefix.size());
  if (!part.empty() && part[0] == '_') part.erase(0, 1);
  long index = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return 0;  // not one of ours ("_20250105x.jot")
    index = index * 10 + (c - '0');
    if (index > 1000000) return 0;
  }
  uintmax_t size = fileSizeOr0(config_.logdir_ + "/" + newest);
  if (!config_.cachedir_.empty()) size += fileSizeOr0(config_.cachedir_ + "/" + newest);
  return size > maxFileSize_ ? index + 1 : index;
}

bool LogFiles::OpenLogFile(const std::string& dir) {
  if (config_.logdir_.empty() || dir.empty()) return false;
  const struct timeval now = clock_.now();
  if (logFd_ >= 0) {
    // Kept only for the same folder and day, and while still named: a file
    // maintenance moved or removed is never written again.
    struct stat st {};
    if (openDir_ == dir && sameDay(openFileTime_, now.tv_sec) && ::fstat(logFd_, &st) == 0 &&
        st.st_nlink > 0) {
      return true;
    }
    CloseFileLocked();
  }
  const uint64_t tick = clock_.tick();
  openFileTime_ = now.tv_sec;
  const std::string path = MakeLogFileName(now, dir, config_.nameprefix_, "jot");

  auto notice = [&](const std::string& p) {
    const int err = errno;
    lastError_ = err;
    console_("open file error:" + std::to_string(err) + " " +
             (err == ESPIPE ? "not a regular file" : std::strerror(err)) + ", path:" + p);
  };
  if (now.tv_sec < lastTime_) {
    // The clock went back: stay with the last file.
    logFd_ = openForAppend(lastFilePath_);
    if (logFd_ < 0) notice(lastFilePath_);
    if (logFd_ >= 0) openDir_ = dir;
    return logFd_ >= 0;
  }
  logFd_ = openForAppend(path);
  if (logFd_ < 0) notice(path);
  if (logFd_ >= 0) openDir_ = dir;

  if (logFd_ >= 0 && lastTime_ != 0 &&
      now.tv_sec - lastTime_ > static_cast<time_t>((tick - lastTick_) / 1000 + 300)) {
    char text[2048];
    const int n = std::snprintf(
        text, sizeof text, "[F][ last log file:%s from %s to %s, time_diff:%ld, tick_diff:%llu\n",
        lastFilePath_.c_str(), formatMark(lastTime_).c_str(), formatMark(now.tv_sec).c_str(),
        static_cast<long>(now.tv_sec - lastTime_),
        static_cast<unsigned long long>(tick - lastTick_));
    vela::comm::AutoBuffer block;
    makeSyncBlock_(text, std::min(static_cast<size_t>(n), sizeof text - 1), block);
    WriteFile(block.Ptr(), block.Length(), logFd_);
  }
  lastFilePath_ = path;
  lastTick_ = tick;
  lastTime_ = now.tv_sec;
  return logFd_ >= 0;
}

bool LogFiles::WriteFile(const void* data, size_t len, int fd) {
  if (fd < 0 || !data || len == 0) return false;
  const int err = appendWhole(fd, data, len, console_);
  if (err == 0) {
    notedWriteError_ = 0;
    return true;
  }
  lastError_ = err;
  console_("write file error:" + std::to_string(err));
  // Note the failure in the file, once: on a nearly full disk a notice per
  // retry would fill what is left.
  if (err == notedWriteError_) return false;
  char text[64];
  const int n = std::snprintf(text, sizeof text, "\nwrite file error:%d\n", err);
  vela::comm::AutoBuffer block;
  makeSyncBlock_(text, static_cast<size_t>(n), block);
  if (appendWhole(fd, block.Ptr(), block.Length(), console_) == 0) notedWriteError_ = err;
  return false;
}

bool LogFiles::AppendFile(const std::string& src, const std::string& dst) {
  if (src == dst) return false;
  boost::system::error_code ec;
  if (!fs::exists(src, ec)) return false;
  const uintmax_t srcSize = fs::file_size(src, ec);
  if (ec) return false;
  if (srcSize == 0) return true;
  // Neither end may be a FIFO: opening one waits for the other side.
  const int inFd = openNoWait(src, O_RDONLY);
  FILE* in = inFd >= 0 ? ::fdopen(inFd, "rb") : nullptr;
  if (!in) {
    if (inFd >= 0) ::close(inFd);
    return false;
  }
  const int outFd = openForAppend(dst);
  FILE* out = outFd >= 0 ? ::fdopen(outFd, "ab") : nullptr;
  if (!out) {
    if (outFd >= 0) ::close(outFd);
    std::fclose(in);
    return false;
  }
  std::fseek(out, 0, SEEK_END);
  const long old = std::ftell(out);
  char chunk[4096];
  bool failed = old < 0;
  while (!failed) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, in);
    if (n > 0 && std::fwrite(chunk, 1, n, out) != n) failed = true;
    if (n < sizeof chunk) {
      failed = failed || std::ferror(in);
      break;
    }
  }
  failed = failed || std::fflush(out) != 0;
  const long end = std::ftell(out);
  bool ok = !failed && end >= 0 && static_cast<uintmax_t>(end) >= static_cast<uintmax_t>(old) + srcSize;
  if (!ok && old >= 0 && ::ftruncate(::fileno(out), old) != 0) ok = false;
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  return ok;
}

bool LogFiles::CacheLogs() {
  if (config_.cachedir_.empty() || config_.cache_days_ <= 0) return false;
  const std::string logPath =
      MakeLogFileName(clock_.now(), config_.logdir_, config_.nameprefix_, "jot");
  boost::system::error_code ec;
  if (fs::exists(logPath, ec)) return false;
  const fs::space_info info = fs::space(config_.cachedir_, ec);
  return !ec && info.available >= kMinCacheSpace;
}

int LogFiles::Log2File(const void* data, size_t len, bool move) {
  if (!data || len == 0 || config_.logdir_.empty()) return 0;
  vela::comm::ScopedLock lock(fileMutex_);
  if (!lock.islocked()) return EDEADLK;
  lastError_ = 0;
  const bool written = Log2FileLocked(data, len, move);
  return written ? 0 : lastError_ ? lastError_ : EIO;
}

bool LogFiles::Log2FileLocked(const void* data, size_t len, bool move) {
  const bool async = config_.mode_ != kAppenderSync;

  if (config_.cachedir_.empty()) {
    bool written = false;
    if (OpenLogFile(config_.logdir_)) {
      written = WriteFile(data, len, logFd_);
      // Sync mode keeps its file open, but not one that refused: the next
      // record opens whatever is there by then.
      if (async || !written) CloseFileLocked();
    }
    return written;
  }

  const struct timeval now = clock_.now();
  const std::string cachePath = MakeLogFileName(now, config_.cachedir_, config_.nameprefix_, "jot");
  const bool cache = CacheLogs();
  boost::system::error_code ec;
  if ((cache || fs::exists(cachePath, ec)) && OpenLogFile(config_.cachedir_)) {
    const bool written = WriteFile(data, len, logFd_);
    if (async) CloseFileLocked();
    if (!cache && move) {
      const std::string logPath = MakeLogFileName(now, config_.logdir_, config_.nameprefix_, "jot");
      CloseFileLocked();  // never written once moved
      if (AppendFile(cachePath, logPath)) {
        fs::remove(cachePath, ec);
        if (ec) NoteError("remove", cachePath, ec);
      }
    }
    return written;
  }

  bool written = false;
  if (OpenLogFile(config_.logdir_)) {
    written = WriteFile(data, len, logFd_);
    if (async) CloseFileLocked();
  }
  if (!written) {
    if (!async) CloseFileLocked();
    if (OpenLogFile(config_.cachedir_)) {
      written = WriteFile(data, len, logFd_);
      if (async) CloseFileLocked();
    }
  }
  return written;
}

void LogFiles::DelTimeoutFile(const std::string& dir) {
  vela::comm::ScopedLock dirLock(LogDirectoryMutex());
  if (!dirLock.islocked() || dir.empty()) return;
  int64_t maxAlive;
  {
    vela::comm::ScopedLock lock(fileMutex_);
    maxAlive = maxAliveTime_;
  }
  const time_t now = clock_.now().tv_sec;
  boost::system::error_code ec;
  if (!fs::is_directory(dir, ec)) return;
  std::vector<fs::path> doomed;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    boost::system::error_code entryEc;
    const time_t mtime = fs::last_write_time(it->path(), entryEc);
    if (entryEc) {
      NoteError("last_write_time", it->path(), entryEc);
      continue;
    }
    if (now - mtime <= maxAlive) continue;
    const fs::file_status status = it->symlink_status(entryEc);
    if (entryEc) {
      NoteError("symlink_status", it->path(), entryEc);
      continue;
    }
    if (fs::is_regular_file(status) && it->path().extension() == ".jot") {
      doomed.push_back(it->path());
    } else if (fs::is_directory(status) && isEightDigits(it->path().filename().string())) {
      doomed.push_back(it->path());
    }
  }
  if (ec) NoteError("directory_iterator", dir, ec);
  for (const fs::path& path : doomed) {
    boost::system::error_code removeEc;
    fs::remove_all(path, removeEc);
    if (removeEc) NoteError("remove_all", path, removeEc);
  }
}

void LogFiles::MoveOldFiles(const std::string& src, const std::string& dest,
                            const std::string& prefix) {
  vela::comm::ScopedLock dirLock(LogDirectoryMutex());
  if (!dirLock.islocked() || src.empty() || dest.empty() || src == dest) return;
  boost::system::error_code ec;
  if (!fs::is_directory(src, ec)) return;
  vela::comm::ScopedLock lock(fileMutex_);
  if (!lock.islocked()) return;
  const time_t now = clock_.now().tv_sec;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(src, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  if (ec) NoteError("directory_iterator", src, ec);
  std::sort(entries.begin(), entries.end());
  for (const fs::path& path : entries) {
    const std::string name = path.filename().string();
    if (!comm::strutil::StartsWith(name, prefix) ||
        !comm::strutil::EndsWith(path.string(), "jot")) {
      continue;
    }
    boost::system::error_code entryEc;
    const time_t mtime = fs::last_write_time(path, entryEc);
    if (entryEc) {
      NoteError("last_write_time", path, entryEc);
      continue;
    }
    const time_t age = now - mtime;
    if (config_.cache_days_ > 0 && age > 0 &&
        age < static_cast<time_t>(config_.cache_days_) * 86400) {
      continue;
    }
    // Sync mode keeps its file open: closed first, reopened by name.
    CloseFileLocked();
    if (!AppendFile(path.string(), dest + "/" + name)) break;
    fs::remove(path, entryEc);
    if (entryEc) NoteError("remove", path, entryEc);
  }
}

void LogFiles::NoteError(const char* what, const fs::path& path,
                         const boost::system::error_code& ec) {
  vela::comm::ScopedLock lock(errorMutex_);
  if (!lock.islocked() || errors_.size() >= kMaxErrors) return;
  errors_.emplace_back(std::string("boost::filesystem::") + what, path, ec);
}

std::vector<fs::filesystem_error> LogFiles::TakeErrors() {
  std::vector<fs::filesystem_error> taken;
  vela::comm::ScopedLock lock(errorMutex_);
  if (lock.islocked()) taken.swap(errors_);
  return taken;
}

namespace {

// The newest (by modification time) "<prefix>_*.jot" regular files of `dir`.
std::vector<fs::path> newestLogFiles(const std::string& dir, const std::string& prefix, size_t count) {
  std::vector<std::pair<time_t, fs::path>> found;
  boost::system::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return {};
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    boost::system::error_code entryEc;
    const std::string name = it->path().filename().string();
    if (!comm::strutil::StartsWith(name, prefix + "_") || it->path().extension() != ".jot" ||
        !fs::is_regular_file(it->symlink_status(entryEc)) || entryEc) {
      continue;
    }
    const time_t mtime = fs::last_write_time(it->path(), entryEc);
    if (!entryEc) found.emplace_back(mtime, it->path());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<fs::path> paths;
  for (size_t i = 0; i < found.size() && i < count; ++i) paths.push_back(found[i].second);
  return paths;
}

// Compares a stored copy of a block with the block, byte 4 (the end hour)
// excepted: a block taken over from the cache gets a new one.
bool sameBlockBytes(const uint8_t* stored, const uint8_t* block, size_t len) {
  static_assert(kBlockLengthOffset == 5);
  const size_t head = std::min<size_t>(len, 4);
  return std::memcmp(stored, block, head) == 0 &&
         (len <= kBlockLengthOffset ||
          std::memcmp(stored + kBlockLengthOffset, block + kBlockLengthOffset,
                      len - kBlockLengthOffset) == 0);
}

enum class TailState { Absent, Whole, Torn };

std::vector<uint8_t> readWholeFile(const fs::path& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return bytes;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
      bytes.resize(static_cast<size_t>(size));
      if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) bytes.clear();
    }
  }
  std::fclose(file);
  return bytes;
}

// Looks for `block` in the file at `path` by walking it block by block. A
// walk that ends in a piece too short to be a whole block, at a place the
// blocks before it end, with the piece being the beginning of `block`: a
// write the kill cut short. It is cut off the file, so that the block can be
// written whole after it. Two bytes that happen to look like the block's
// beginning at the end of an intact last block are never taken for it.
TailState findBlock(const fs::path& path, const uint8_t* block, size_t len) {
  const std::vector<uint8_t> bytes = readWholeFile(path);
  const std::span<const uint8_t> file(bytes);
  size_t pos = 0;
  while (pos < file.size()) {
    const size_t end = BlockEndAt(file, pos);
    if (end != 0) {
      if (end - pos == len && sameBlockBytes(file.data() + pos, block, len)) return TailState::Whole;
      pos = end;
      continue;
    }
    const size_t rest = file.size() - pos;
    if (rest < len && sameBlockBytes(file.data() + pos, block, rest)) {
      boost::system::error_code ec;
      fs::resize_file(path, pos, ec);
      return TailState::Torn;
    }
    // Damage: go on from the next place a whole block starts.
    do {
      ++pos;
    } while (pos < file.size() && BlockEndAt(file, pos) == 0);
  }
  return TailState::Absent;
}

}  // namespace

bool LogFiles::ContainsBlock(const void* block, size_t len) {
  if (!block || len <= kBlockHeaderLen) return false;
  vela::comm::ScopedLock lock(fileMutex_);
  if (!lock.islocked()) return false;
  const auto* bytes = static_cast<const uint8_t*>(block);
  // Another writer of the same prefix may have gone on in a newer file.
  for (const std::string& dir : {config_.logdir_, config_.cachedir_}) {
    for (const fs::path& path : newestLogFiles(dir, config_.nameprefix_, 2)) {
      switch (findBlock(path, bytes, len)) {
        case TailState::Whole:
          return true;
        case TailState::Torn:
          return false;  // the torn copy is gone; the block goes in whole
        case TailState::Absent:
          break;
      }
    }
  }
  return false;
}

JotClock JotClock::System() {
  return {[] {
            struct timeval tv {};
            gettimeofday(&tv, nullptr);
            return tv;
          },
          [] {
            struct timespec ts {};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            return static_cast<uint64_t>(ts.tv_sec) * 1000 +
                   static_cast<uint64_t>(ts.tv_nsec) / 1000000;
          }};
}

}  // namespace vela::jot
