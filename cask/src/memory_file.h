#pragma once
// Files of the store: an owned descriptor, a file kept mapped (MAP_SHARED)
// with page-multiple sizes, and small file helpers. Not thread-safe: the
// store's locks guard every MemoryFile.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cask {

enum OpenFlag : uint32_t {
  ReadOnly = 1,
  WriteOnly = 2,
  ReadWrite = ReadOnly | WriteOnly,
  Create = 4,
  Exclusive = 8,
  Truncate = 16,
};

using SyncFlag = bool;  // true: MS_SYNC, false: MS_ASYNC

class File {
 public:
  // Opens at once; check isFileValid(). A created file gets mode 0600.
  File(std::string path, uint32_t flag);
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool open();
  void close();
  [[nodiscard]] bool isFileValid() const { return fd_ >= 0; }
  [[nodiscard]] int getFd() const { return fd_; }
  [[nodiscard]] const std::string& getPath() const { return path_; }
  // From fstat; 0 on failure.
  [[nodiscard]] size_t getActualFileSize() const;

 private:
  std::string path_;
  int fd_ = -1;
  uint32_t flag_;
};

class MemoryFile {
 public:
  // Opens (creating it) and maps the file; a file smaller than one page or
  // not a page multiple is grown with zeros first.
  explicit MemoryFile(std::string path);
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile();

  [[nodiscard]] size_t getFileSize() const { return size_; }
  // The size on disk now (another process may have grown it); 0 when closed.
  [[nodiscard]] size_t getActualFileSize() const { return file_.getActualFileSize(); }
  [[nodiscard]] uint8_t* getMemory() const { return ptr_; }
  [[nodiscard]] const std::string& getPath() const { return file_.getPath(); }
  [[nodiscard]] int getFd() const { return file_.getFd(); }
  // Descriptor open, size non-zero and mapped.
  [[nodiscard]] bool isFileValid() const { return file_.isFileValid() && size_ > 0 && ptr_ != nullptr; }

  // Rounds `size` up to whole pages (at least one), allocates the growth
  // (it reads as zeros; a full disk fails here, not as SIGBUS later) and
  // remaps. On failure the old size and mapping are kept when possible.
  bool truncate(size_t size);
  bool msync(SyncFlag flag);
  // Only the pages holding [offset, offset + length); nothing for length 0.
  bool msync(SyncFlag flag, size_t offset, size_t length);
  void reloadFromFile();
  // Unmaps and closes.
  void clearMemoryCache() { doCleanMemoryCache(); }

 private:
  bool mmap();
  void doCleanMemoryCache();

  File file_;
  uint8_t* ptr_ = nullptr;
  size_t size_ = 0;
};

[[nodiscard]] size_t getPageSize();
bool zeroFillFile(int fd, size_t offset, size_t length);
// Allocates `length` zero bytes at `offset` (fallocate, else zeroFillFile);
// false on a full disk.
bool reserveSpace(int fd, size_t offset, size_t length);
[[nodiscard]] bool isFileExist(const std::string& path);
// Creates every missing directory of `path` (mode 0700: stores are private).
bool mkPath(const std::string& path);
// The whole file, or empty when it cannot be read.
[[nodiscard]] std::vector<uint8_t> readWholeFile(const std::string& path);

enum WalkType : uint32_t { WalkFile = 1, WalkFolder = 2 };
void walkInDir(const std::string& dir, uint32_t type,
               const std::function<void(const std::string& path, WalkType type)>& walker);

// rename(2): `dst` is replaced atomically and `src` is gone.
bool tryAtomicRename(const std::string& src, const std::string& dst);
// Copies into a temporary file beside `dst` (clone, else copy_file_range,
// else read/write), syncs it and renames it over `dst`.
bool copyFile(const std::string& src, const std::string& dst);
// Copies into the existing file (truncated first), keeping its inode, so
// mappings of it stay attached.
bool copyFileContent(const std::string& src, const std::string& dstPath);
bool copyFileContent(const std::string& src, int dstFd);

}  // namespace cask
