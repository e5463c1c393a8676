#pragma once
// Memory mapping of the block cache file. The mapping is shared with the
// file, so what the writer puts into it survives a crash of the process.
// A file shorter than the mapping is first extended with zeros: mapping past
// a file's end would fault on first touch.
#include <cstddef>
#include <string>
#include <sys/types.h>

#include <boost/iostreams/device/mapped_file.hpp>

namespace vela::comm {

// Maps `size` bytes of `path` read-write, creating the file (fully written
// with zeros) when missing and extending it with zeros when short. False for
// an empty path or size 0, or when the file cannot be made or mapped; a file
// this call created is removed again on failure.
[[nodiscard]] bool OpenMmapFile(const char* path, size_t size,
                                boost::iostreams::mapped_file& mappedFile);
void CloseMmapFile(boost::iostreams::mapped_file& mappedFile);

// Files here carry no data-protection class to clear: does nothing, true.
[[nodiscard]] bool setAttrProtectionNone(const char* path);

// The block cache of one writer: an exclusive lock on the cache file, then
// its mapping. Two processes with the same cache path therefore never share
// the mapping; the second one gets no mapping and falls back to heap memory.
class MmapCache {
 public:
  MmapCache() = default;
  ~MmapCache();
  MmapCache(const MmapCache&) = delete;
  MmapCache& operator=(const MmapCache&) = delete;

  // True when the file is locked and mapped; data() is then `size` bytes.
  // On failure error() says why.
  [[nodiscard]] bool open(const std::string& path, size_t size);
  void close();
  [[nodiscard]] bool isOpen() const { return file_.is_open(); }
  [[nodiscard]] char* data() const { return isOpen() ? file_.data() : nullptr; }
  [[nodiscard]] size_t size() const { return isOpen() ? file_.size() : 0; }
  // Why the last open() failed ("in use by another process", an errno text).
  [[nodiscard]] const std::string& error() const { return error_; }
  // True when the path no longer names the file that is mapped (removed, or
  // another file put in its place): what the mapping holds then survives no
  // crash.
  [[nodiscard]] bool replaced() const;
  [[nodiscard]] const std::string& path() const { return path_; }
  // How long the file was before open() extended it with zeros.
  [[nodiscard]] size_t foundSize() const { return foundSize_; }

 private:
  boost::iostreams::mapped_file file_;
  int lockFd_ = -1;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  size_t foundSize_ = 0;
  std::string error_;
};

}  // namespace vela::comm
