#pragma once
// The hash both indexes give a key, and a cache-line load ahead of use.
// Safe from any thread.
//
//   uint32_t hash = keyHash("launches");
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cask {

namespace detail {
inline uint64_t mixBits(uint64_t value) {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(value) * 0xff51afd7ed558ccdull;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}
}  // namespace detail

// Eight bytes at a time through a 64x64->128 multiply, the last eight (or
// the last four) overlapping the ones before: keys are short. Never stored.
inline uint32_t keyHash(std::string_view key) {
  const char* bytes = key.data();
  const size_t n = key.size();
  uint64_t hash = 0x9e3779b97f4a7c15ull ^ n;
  if (n >= 8) {
    uint64_t word;
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&word, bytes + i, sizeof word);
      hash = detail::mixBits(hash ^ word);
    }
    std::memcpy(&word, bytes + n - 8, sizeof word);
    hash = detail::mixBits(hash ^ word);
  } else if (n >= 4) {
    uint32_t first, last;
    std::memcpy(&first, bytes, sizeof first);
    std::memcpy(&last, bytes + n - 4, sizeof last);
    hash = detail::mixBits(hash ^ (first | uint64_t{last} << 32));
  } else if (n > 0) {
    const auto at = [&](size_t i) { return uint64_t{static_cast<uint8_t>(bytes[i])}; };
    hash = detail::mixBits(hash ^ (at(0) | at(n / 2) << 8 | at(n - 1) << 16));
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// GCC drops __builtin_prefetch as an effect-free call where it matters most.
inline void loadAhead(const void* at) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(at)));
#else
  __builtin_prefetch(at);
#endif
}

}  // namespace cask
