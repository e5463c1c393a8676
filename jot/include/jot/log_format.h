#pragma once
// The on-disk block format of log files and of the block cache file.
// See docs/log_format.md for the layout and how to read it back.
#include <cstddef>
#include <cstdint>

namespace vela::jot {

inline constexpr size_t kBlockHeaderLen = 73;  // magic, seq, hours, length, key
inline constexpr size_t kBlockTailLen = 1;
inline constexpr size_t kBlockKeyOffset = 9;
inline constexpr size_t kBlockKeyLen = 64;
inline constexpr size_t kBlockLengthOffset = 5;
static_assert(kBlockKeyOffset + kBlockKeyLen == kBlockHeaderLen);

// Size of the block cache: the blocks of the file "<prefix>.mmap3".
inline constexpr size_t kBufferBlockLength = 150 * 1024;
// After the blocks the file keeps three counters, 8 bytes each: the records
// dropped and not yet noted in the log, and the records of the block at
// offset 0 and of the one at the middle. Readers of the blocks skip them.
inline constexpr size_t kCacheCountersLen = 24;
inline constexpr size_t kCacheFileLength = kBufferBlockLength + kCacheCountersLen;
static_assert(kBufferBlockLength % 8 == 0, "the counters are 8-byte words");

// Magic numbers: compressor, key in use, sync (plain text) or async body.
inline constexpr uint8_t kMagicZlibCryptSync = 0x06;
inline constexpr uint8_t kMagicZlibCryptAsync = 0x07;
inline constexpr uint8_t kMagicZlibPlainSync = 0x08;
inline constexpr uint8_t kMagicZlibPlainAsync = 0x09;
inline constexpr uint8_t kMagicZstdCryptSync = 0x0A;
inline constexpr uint8_t kMagicZstdPlainSync = 0x0B;
inline constexpr uint8_t kMagicZstdCryptAsync = 0x0C;
inline constexpr uint8_t kMagicZstdPlainAsync = 0x0D;
inline constexpr uint8_t kMagicMin = 0x06;
inline constexpr uint8_t kMagicMax = 0x0D;

[[nodiscard]] constexpr bool IsValidMagic(uint8_t magic) {
  return magic >= kMagicMin && magic <= kMagicMax;
}
[[nodiscard]] constexpr bool IsAsyncMagic(uint8_t magic) {
  return magic == kMagicZlibCryptAsync || magic == kMagicZlibPlainAsync ||
         magic == kMagicZstdCryptAsync || magic == kMagicZstdPlainAsync;
}
[[nodiscard]] constexpr bool IsCryptMagic(uint8_t magic) {
  return magic == kMagicZlibCryptSync || magic == kMagicZlibCryptAsync ||
         magic == kMagicZstdCryptSync || magic == kMagicZstdCryptAsync;
}
[[nodiscard]] constexpr bool IsZstdMagic(uint8_t magic) { return magic >= kMagicZstdCryptSync; }

}  // namespace vela::jot
