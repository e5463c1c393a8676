#include "platform/file_handle.h"

#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

namespace quillo {

FileHandle::~FileHandle() {
  if (closeOnDealloc_ && fd_ >= 0) ::close(fd_);
}

std::string FileHandle::readDataToEndOfFile() { return readAll(fd_); }

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace quillo
