#pragma once
// A file descriptor with an owner: FileHandle closes it when destroyed
// (when asked to). Not thread-safe: one reader at a time.
#include <string>
#include <string_view>

namespace quillo {

class FileHandle {
 public:
  FileHandle(int fileDescriptor, bool closeOnDealloc)
      : fd_(fileDescriptor), closeOnDealloc_(closeOnDealloc) {}
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  [[nodiscard]] int fileDescriptor() const { return fd_; }
  // Everything up to end of file; what was read before an error.
  [[nodiscard]] std::string readDataToEndOfFile();

 private:
  int fd_;
  bool closeOnDealloc_;
};

// Writes all of `data` to `fd`, retrying after signals and short writes.
// False at the first error, with errno telling which.
[[nodiscard]] bool writeAll(int fd, std::string_view data);

}  // namespace quillo
