#include "platform/file_handle.h"

#include <unistd.h>

#include "platform/process.h"

namespace quillo {

FileHandle::~FileHandle() {
  if (closeOnDealloc_ && fd_ >= 0) ::close(fd_);
}

std::string FileHandle::readDataToEndOfFile() { return readAll(fd_); }

}  // namespace quillo
