#include "jot/block_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jot/log_buffer.h"
#include "jot/log_format.h"

namespace {

using vela::comm::AutoBuffer;

std::vector<uint8_t> bytesOf(const AutoBuffer& b) {
  const auto* p = static_cast<const uint8_t*>(b.Ptr());
  return {p, p + b.Length()};
}

std::vector<uint8_t> asyncBlock(const std::string& text) {
  std::vector<char> memory(vela::jot::kBufferBlockLength, 0);
  vela::jot::LogZlibBuffer buffer(memory.data(), memory.size(), true, "");
  EXPECT_TRUE(buffer.Write(text.data(), text.size()));
  AutoBuffer out;
  buffer.Flush(out);
  return bytesOf(out);
}

std::vector<uint8_t> syncBlock(const std::string& text) {
  AutoBuffer out;
  vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, text.data(), text.size(), out);
  return bytesOf(out);
}

void append(std::vector<uint8_t>& file, const std::vector<uint8_t>& part) {
  file.insert(file.end(), part.begin(), part.end());
}

TEST(BlockReader, DamageIsReportedAndReadingGoesOn) {
  std::vector<uint8_t> file;
  append(file, syncBlock("first\n"));
  append(file, std::vector<uint8_t>(37, 0xEE));
  append(file, asyncBlock("second\n"));
  std::vector<uint8_t> broken = asyncBlock("third record that will not inflate\n");
  std::memset(broken.data() + 73, 0xFF, broken.size() - 74);
  append(file, broken);
  append(file, syncBlock("fourth\n"));

  const auto result = vela::jot::ReadLogBlocks(file, std::nullopt);
  ASSERT_EQ(result.damage.size(), 1u);
  EXPECT_EQ(result.damage[0], "damaged data at offset 80, 37 bytes skipped");
  ASSERT_EQ(result.blocks.size(), 4u);
  EXPECT_EQ(result.blocks[0].text, "first\n");
  EXPECT_EQ(result.blocks[1].text, "second\n");
  EXPECT_FALSE(result.blocks[2].error.empty());
  EXPECT_EQ(result.blocks[3].text, "fourth\n");
}

TEST(BlockReader, TruncatedLastBlockIsReported) {
  std::vector<uint8_t> file = syncBlock("whole\n");
  std::vector<uint8_t> cut = asyncBlock("cut short\n");
  cut.resize(cut.size() - 3);
  append(file, cut);
  const auto result = vela::jot::ReadLogBlocks(file, std::nullopt);
  ASSERT_EQ(result.blocks.size(), 1u);
  EXPECT_EQ(result.blocks[0].text, "whole\n");
  EXPECT_EQ(result.damage.size(), 1u);
}

TEST(BlockReader, CacheFileBlocksComeOldestFirstAndNeedNoTail) {
  std::vector<uint8_t> cache(vela::jot::kBufferBlockLength, 0);
  {
    vela::jot::LogZstdBuffer buffer(cache.data(), cache.size(), true, "", 3);
    ASSERT_TRUE(buffer.Write("cached\n", 7));
    buffer.Seal();
    ASSERT_TRUE(buffer.Write("open\n", 5));  // in the other half
  }
  const auto result = vela::jot::ReadCacheBlocks(cache, std::nullopt);
  ASSERT_EQ(result.blocks.size(), 2u);
  EXPECT_EQ(result.blocks[0].text, "cached\n");
  EXPECT_EQ(result.blocks[1].text, "open\n");
  EXPECT_EQ(result.blocks[1].offset, cache.size() / 2);
  EXPECT_TRUE(vela::jot::ReadCacheBlocks(std::vector<uint8_t>(100, 0), std::nullopt).damage.empty());
  EXPECT_EQ(vela::jot::ReadCacheBlocks(std::vector<uint8_t>(100, 1), std::nullopt).damage.size(), 1u);
}

}  // namespace
