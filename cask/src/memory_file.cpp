#include "memory_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "log.h"

namespace cask {

namespace {
// Open and close lines show the descriptor in pointer form ("0x7").
const void* descriptorText(int fd) { return reinterpret_cast<const void*>(static_cast<intptr_t>(fd)); }
}  // namespace

File::File(std::string path, uint32_t flag) : path_(std::move(path)), flag_(flag) { open(); }

File::~File() { close(); }

bool File::open() {
  if (isFileValid()) return true;
  int native = O_CLOEXEC;
  if ((flag_ & ReadWrite) == ReadWrite) {
    native |= O_RDWR;
  } else if (flag_ & WriteOnly) {
    native |= O_WRONLY;
  } else {
    native |= O_RDONLY;
  }
  if (flag_ & Create) native |= O_CREAT;
  if (flag_ & Exclusive) native |= O_EXCL;
  if (flag_ & Truncate) native |= O_TRUNC;
  // Store files are data, never programs, and only their owner reads them.
  fd_ = ::open(path_.c_str(), native, S_IRUSR | S_IWUSR);
  if (fd_ < 0) {
    CaskError("fail to open [%s], %d(%s)", path_.c_str(), errno, std::strerror(errno));
    return false;
  }
  CaskInfo("open fd[%p], %s", descriptorText(fd_), path_.c_str());
  return true;
}

void File::close() {
  if (fd_ < 0) return;
  CaskInfo("closing fd[%p], %s", descriptorText(fd_), path_.c_str());
  // close(2) releases the descriptor even when it reports an error.
  if (::close(fd_) != 0) CaskError("fail to close [%s], %d(%s)", path_.c_str(), errno, std::strerror(errno));
  fd_ = -1;
}

size_t File::getActualFileSize() const {
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
  return static_cast<size_t>(st.st_size);
}

size_t getPageSize() {
  static const size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return pageSize;
}

MemoryFile::MemoryFile(std::string path) : file_(std::move(path), ReadWrite | Create) {
  reloadFromFile();
}

MemoryFile::~MemoryFile() { doCleanMemoryCache(); }

void MemoryFile::reloadFromFile() {
  if (isFileValid()) {
    CaskWarning("calling reloadFromFile while the cache [%s] is still valid", getPath().c_str());
    doCleanMemoryCache();
  }
  if (!file_.open()) {
    CaskError("fail to open:%s, %s", getPath().c_str(), std::strerror(errno));
    return;
  }
  // Another process may be growing the file to whole pages at the same time.
  if (flock(file_.getFd(), LOCK_EX) != 0) {
    CaskError("fail to lock [%s], %s", getPath().c_str(), std::strerror(errno));
  }
  size_ = file_.getActualFileSize();
  const size_t page = getPageSize();
  if (size_ < page || size_ % page != 0) {
    truncate(page * (size_ / page + 1));
  } else if (!mmap()) {
    doCleanMemoryCache();
  }
  // The descriptor may be gone when growing failed.
  if (file_.isFileValid()) flock(file_.getFd(), LOCK_UN);
}

bool MemoryFile::truncate(size_t size) {
  if (!file_.isFileValid()) return false;
  if (size == size_ && ptr_ != nullptr) return true;
  const size_t page = getPageSize();
  size_t target = size;
  if (target < page || target % page != 0) target = page * (size / page + 1);
  const size_t oldSize = size_;
  if (ftruncate(file_.getFd(), static_cast<off_t>(target)) != 0) {
    CaskError("fail to truncate [%s] to size %zu, %s", getPath().c_str(), target, std::strerror(errno));
    return false;
  }
  if (target > oldSize && !reserveSpace(file_.getFd(), oldSize, target - oldSize)) {
    CaskError("fail to zeroFile [%s] to size %zu, %s", getPath().c_str(), target, std::strerror(errno));
    if (ftruncate(file_.getFd(), static_cast<off_t>(oldSize)) != 0) {
      CaskError("fail to truncate [%s] back to size %zu", getPath().c_str(), oldSize);
    }
    return false;
  }
  size_ = target;
  if (ptr_ != nullptr && munmap(ptr_, oldSize) != 0) {
    CaskError("fail to munmap [%s], %s", getPath().c_str(), std::strerror(errno));
  }
  ptr_ = nullptr;
  if (!mmap()) {
    doCleanMemoryCache();
    return false;
  }
  return true;
}

bool MemoryFile::mmap() {
  void* address = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, file_.getFd(), 0);
  if (address == MAP_FAILED) {
    CaskError("fail to mmap [%s], %s", getPath().c_str(), std::strerror(errno));
    ptr_ = nullptr;
    return false;
  }
  ptr_ = static_cast<uint8_t*>(address);
  return true;
}

void MemoryFile::doCleanMemoryCache() {
  if (ptr_ != nullptr && munmap(ptr_, size_) != 0) {
    CaskError("fail to munmap [%s], %s", getPath().c_str(), std::strerror(errno));
  }
  ptr_ = nullptr;
  file_.close();
  size_ = 0;
}

bool MemoryFile::msync(SyncFlag flag) {
  if (ptr_ == nullptr) return false;
  if (::msync(ptr_, size_, flag ? MS_SYNC : MS_ASYNC) != 0) {
    CaskError("fail to msync [%s], %s", getPath().c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool reserveSpace(int fd, size_t offset, size_t length) {
  if (fd < 0) return false;
  // Blocks that read as zeros without writing them; a store written through
  // its mapping would get SIGBUS instead of an error on a full disk.
  int ret;
  do {
    ret = fallocate(fd, 0, static_cast<off_t>(offset), static_cast<off_t>(length));
  } while (ret != 0 && errno == EINTR);
  if (ret == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) {
    CaskError("fail to allocate fd[%d], error:%s", fd, std::strerror(errno));
    return false;
  }
  return zeroFillFile(fd, offset, length);
}

bool MemoryFile::msync(SyncFlag flag, size_t offset, size_t length) {
  if (ptr_ == nullptr) return false;
  if (length == 0) return true;
  const size_t page = getPageSize();
  const size_t begin = offset / page * page;
  const size_t end = std::min(size_, (offset + length + page - 1) / page * page);
  if (begin >= end) return true;
  if (::msync(ptr_ + begin, end - begin, flag ? MS_SYNC : MS_ASYNC) != 0) {
    CaskError("fail to msync [%s], %s", getPath().c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool zeroFillFile(int fd, size_t offset, size_t length) {
  if (fd < 0) return false;
  static const char zeros[4096] = {};
  while (length > 0) {
    const size_t step = length < sizeof zeros ? length : sizeof zeros;
    const ssize_t written = pwrite(fd, zeros, step, static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      CaskError("fail to write fd[%d], error:%s", fd, std::strerror(errno));
      return false;
    }
    offset += static_cast<size_t>(written);
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool isFileExist(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool mkPath(const std::string& path) {
  if (path.empty()) return false;
  size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty()) continue;
    struct stat st {};
    if (stat(prefix.c_str(), &st) != 0) {
      if (errno != ENOENT || (mkdir(prefix.c_str(), S_IRWXU) != 0 && errno != EEXIST)) {
        CaskWarning("%s : %s", prefix.c_str(), std::strerror(errno));
        return false;
      }
    } else if (!S_ISDIR(st.st_mode)) {
      CaskWarning("%s: %s", prefix.c_str(), std::strerror(ENOTDIR));
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    CaskWarning("fail to open %s: %s", path.c_str(), std::strerror(errno));
    return {};
  }
  struct stat st {};
  std::vector<uint8_t> bytes(fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 0);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      CaskWarning("fail to read %s: %s", path.c_str(), std::strerror(errno));
      bytes.clear();
      break;
    }
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  return bytes;
}

void walkInDir(const std::string& dir, uint32_t type,
               const std::function<void(const std::string& path, WalkType type)>& walker) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    CaskError("opendir failed: %d(%s), %s", errno, std::strerror(errno), dir.c_str());
    return;
  }
  const std::string base = (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
  while (dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    const std::string path = base + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode) && (type & WalkFile)) {
      walker(path, WalkFile);
    } else if (S_ISDIR(st.st_mode) && (type & WalkFolder) && name != "." && name != "..") {
      walker(path, WalkFolder);
    }
  }
  closedir(handle);
}

bool tryAtomicRename(const std::string& src, const std::string& dst) {
  if (::rename(src.c_str(), dst.c_str()) != 0) {
    CaskError("fail to rename %s to %s, %s", src.c_str(), dst.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

namespace {

bool copyDescriptor(int srcFd, int dstFd) {
  if (ioctl(dstFd, FICLONE, srcFd) == 0) return true;
  off_t in = 0;
  for (;;) {
    const ssize_t copied = copy_file_range(srcFd, &in, dstFd, nullptr, 1 << 30, 0);
    if (copied == 0) return true;
    if (copied > 0) continue;
    if (errno == EINTR) continue;
    if (in == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) break;
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(srcFd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(dstFd, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += put;
    }
  }
}

std::atomic<uint64_t> g_tempCounter{0};

}  // namespace

bool copyFile(const std::string& src, const std::string& dst) {
  const size_t slash = dst.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : dst.substr(0, slash);
  const std::string temp = dir + "/.cask_" + std::to_string(getpid()) + "_" +
                           std::to_string(g_tempCounter.fetch_add(1));
  File source(src, ReadOnly);
  if (!source.isFileValid()) return false;
  bool ok;
  {
    File target(temp, WriteOnly | Create | Truncate);
    ok = target.isFileValid() && copyDescriptor(source.getFd(), target.getFd()) &&
         fsync(target.getFd()) == 0;
  }
  if (!ok) {
    CaskError("fail to copyfile [%s] to [%s], %s", src.c_str(), temp.c_str(), std::strerror(errno));
    unlink(temp.c_str());
    return false;
  }
  CaskInfo("copyfile [%s] to [%s]", src.c_str(), temp.c_str());
  if (!tryAtomicRename(temp, dst)) {
    unlink(temp.c_str());
    return false;
  }
  CaskInfo("copyfile [%s] to [%s] finish.", src.c_str(), dst.c_str());
  return true;
}

bool copyFileContent(const std::string& src, const std::string& dstPath) {
  File target(dstPath, WriteOnly | Create | Truncate);
  const bool ok = target.isFileValid() && copyFileContent(src, target.getFd());
  if (ok) {
    CaskInfo("copy content from %s to fd[%s] finish", src.c_str(), dstPath.c_str());
  } else {
    CaskError("fail to copyfile(): target file %s", dstPath.c_str());
  }
  return ok;
}

bool copyFileContent(const std::string& src, int dstFd) {
  if (dstFd < 0) return false;
  File source(src, ReadOnly);
  if (!source.isFileValid()) return false;
  if (ftruncate(dstFd, 0) != 0 || lseek(dstFd, 0, SEEK_SET) != 0 ||
      !copyDescriptor(source.getFd(), dstFd)) {
    CaskError("fail to copyfile(): %d(%s), source file %s", errno, std::strerror(errno), src.c_str());
    return false;
  }
  CaskInfo("copy content from %s to fd[%d] finish", src.c_str(), dstFd);
  return true;
}

}  // namespace cask
