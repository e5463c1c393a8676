#pragma once
// The CRC-32 of the store's checksums: the one zlib's crc32() computes
// (reflected polynomial 0xEDB88320), through libdeflate's carry-less-multiply
// routine, which is several times faster over the megabytes a load checks.
// Safe from any thread.
//
//   crc32Of(0, "123456789", 9)            // 0xCBF43926
//   crc32Of(crc32Of(0, a, n), b, m)       // the CRC of a followed by b
#include <cstddef>
#include <cstdint>

namespace cask {

[[nodiscard]] uint32_t crc32Of(uint32_t crc, const void* data, size_t length);

}  // namespace cask
