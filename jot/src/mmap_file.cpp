#include "jot/mmap_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace vela::comm {
namespace {

// Writes zeros from `from` to `to` so the mapped range is backed by real
// blocks: a hole that cannot be filled later would fault inside the mapping.
bool zeroFill(int fd, off_t from, off_t to) {
  static const char kZeros[4096] = {};
  while (from < to) {
    const size_t chunk = static_cast<size_t>(std::min<off_t>(to - from, sizeof kZeros));
    const ssize_t n = ::pwrite(fd, kZeros, chunk, from);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
  }
  return true;
}

// Makes the file at least `size` bytes long, noting in `found` how long it
// was. Returns false on any failure.
bool prepareFile(int fd, size_t size, size_t* found = nullptr) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (found) *found = static_cast<size_t>(st.st_size);
  if (static_cast<size_t>(st.st_size) >= size) return true;
  return zeroFill(fd, st.st_size, static_cast<off_t>(size)) && ::fsync(fd) == 0;
}

bool mapFile(const char* path, size_t size, boost::iostreams::mapped_file& mappedFile) {
  try {
    boost::iostreams::mapped_file_params params(path);
    params.flags = boost::iostreams::mapped_file::readwrite;
    params.length = size;
    mappedFile.open(params);
    return mappedFile.is_open();
  } catch (const std::exception&) {
    return false;
  }
}

// Opens the file at `path` for reading and writing, making it when it is
// missing; `created` says whether this call made it. Only O_EXCL can say so:
// a file that appeared after a look could be another process's, which must
// never be removed. Returns -1 with errno set.
int openOrCreate(const char* path, bool& created) {
  created = true;
  const int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd >= 0 || errno != EEXIST) return fd;
  created = false;
  return ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

bool OpenMmapFile(const char* path, size_t size, boost::iostreams::mapped_file& mappedFile) {
  if (!path || ::strnlen(path, 128) == 0 || size == 0) return false;
  CloseMmapFile(mappedFile);
  bool created = false;
  const int fd = openOrCreate(path, created);
  if (fd < 0) return false;
  const bool ready = prepareFile(fd, size);
  ::close(fd);
  if (ready && mapFile(path, size, mappedFile)) return true;
  if (created) ::unlink(path);
  return false;
}

void CloseMmapFile(boost::iostreams::mapped_file& mappedFile) {
  try {
    if (mappedFile.is_open()) mappedFile.close();
  } catch (const std::exception&) {
  }
}

bool setAttrProtectionNone(const char* /*path*/) { return true; }

MmapCache::~MmapCache() { close(); }

bool MmapCache::open(const std::string& path, size_t size) {
  close();
  error_.clear();
  path_ = path;
  foundSize_ = 0;
  if (path.empty() || size == 0) {
    error_ = "no path";
    return false;
  }
  bool created = false;
  lockFd_ = openOrCreate(path.c_str(), created);
  if (lockFd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  // Another process writing through the same cache would interleave blocks.
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    error_ = errno == EWOULDBLOCK ? "in use by another process" : std::strerror(errno);
    created = false;  // the holder may have taken it over since
  } else if (errno = 0; !prepareFile(lockFd_, size, &foundSize_)) {
    error_ = errno ? std::strerror(errno) : "not a regular file";
  } else if (!mapFile(path.c_str(), size, file_)) {
    error_ = "cannot be mapped";
  }
  if (!error_.empty()) {
    if (created) ::unlink(path.c_str());
    close();
    return false;
  }
  struct stat st {};
  if (::fstat(lockFd_, &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  return true;
}

bool MmapCache::replaced() const {
  if (lockFd_ < 0) return false;
  struct stat st {};
  return ::stat(path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_;
}

void MmapCache::close() {
  CloseMmapFile(file_);
  if (lockFd_ >= 0) {
    ::close(lockFd_);  // also drops the lock
    lockFd_ = -1;
  }
}

}  // namespace vela::comm
