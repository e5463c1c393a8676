// The store's CRC-32 must be zlib's, byte for byte: files written before and
// by other implementations carry zlib's value in their meta record.
#include "crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

TEST(CrcTest, MatchesZlibForEveryLengthAndSplit) {
  std::mt19937 random(9);
  std::vector<uint8_t> bytes(70000);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  EXPECT_EQ(cask::crc32Of(0, "123456789", 9), 0xCBF43926u);
  for (const size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{255}, size_t{4096},
                              size_t{65537}, bytes.size()}) {
    const auto expected = static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(length)));
    EXPECT_EQ(cask::crc32Of(0, bytes.data(), length), expected) << length;
    const size_t split = length / 3;
    EXPECT_EQ(cask::crc32Of(cask::crc32Of(0, bytes.data(), split), bytes.data() + split, length - split), expected)
        << length;
  }
}

}  // namespace
