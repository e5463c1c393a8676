#include "crc.h"

#include <libdeflate.h>

namespace cask {

uint32_t crc32Of(uint32_t crc, const void* data, size_t length) {
  return length == 0 ? crc : libdeflate_crc32(crc, data, length);
}

}  // namespace cask
