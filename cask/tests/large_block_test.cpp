// Blocks on both sides of the size that gets its own mapping: zeroed, fully
// writable, large ones 2 MiB aligned, freed with the size they had, and
// zeroed again when a kept mapping is handed out a second time.
#include "large_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "byte_arena.h"

namespace cask {
namespace {

TEST(LargeBlock, EverySizeComesZeroedAndWritable) {
  constexpr size_t kMiB = size_t{1} << 20;
  for (const size_t size : {size_t{1}, size_t{4095}, kMiB - 1, kMiB, 3 * kMiB + 1}) {
    auto* block = static_cast<uint8_t*>(allocateZeroed(size));
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(block[0], 0) << size;
    EXPECT_EQ(block[size - 1], 0) << size;
    if (size >= kMiB) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (2 * kMiB), 0u) << size;
    }
    std::memset(block, 0x5a, size);
    freeBlock(block, size);
    auto* again = static_cast<uint8_t*>(allocateZeroed(size));
    ASSERT_NE(again, nullptr) << size;
    EXPECT_TRUE(std::all_of(again, again + size, [](uint8_t byte) { return byte == 0; })) << size;
    freeBlock(again, size);
  }
}

TEST(LargeBlock, ArenaBytesStayPutAcrossBlocks) {
  ByteArena arena;
  std::vector<uint8_t*> handed;
  // 5 MB of 1 KiB values: blocks of 64 KiB up to 2 MiB.
  for (int i = 0; i < 5000; ++i) {
    uint8_t* bytes = arena.allocate(1024);
    std::memset(bytes, i & 0xff, 1024);
    handed.push_back(bytes);
  }
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(handed[i][1023], i & 0xff) << i;
  ByteArena moved(std::move(arena));
  EXPECT_EQ(handed[4999][0], 4999 & 0xff);
  moved.clear();
  EXPECT_NE(moved.allocate(16), nullptr);
}

}  // namespace
}  // namespace cask
