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

// Where a walk takes a whole block: each header field a reader resyncs on,
// just inside and just outside its range.
TEST(BlockReader, BlockEndAtChecksEveryHeaderRule) {
  struct Row {
    const char* what;
    size_t at;  // byte of the sync block "hello\n" to set
    uint8_t value;
    size_t end;  // expected BlockEndAt, 0 when not a block
  };
  const std::vector<uint8_t> block = syncBlock("hello\n");
  ASSERT_EQ(block.size(), 80u);
  const Row rows[] = {
      {"begin hour 23", 3, 23, 80},   {"begin hour 24", 3, 24, 0}, {"end hour 23", 4, 23, 80},
      {"end hour 24", 4, 24, 0},      {"magic 6", 0, 0x06, 80},    {"magic 5", 0, 0x05, 0},
      {"magic 13", 0, 0x0d, 80},      {"magic 14", 0, 0x0e, 0},    {"sync sequence 1", 1, 1, 0},
      {"sync sequence 256", 2, 1, 0}, {"tail byte 1", 79, 1, 0},   {"body length 7", 5, 7, 0},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes = block;
    bytes[row.at] = row.value;
    EXPECT_EQ(vela::jot::BlockEndAt(bytes, 0), row.end) << row.what;
  }
  EXPECT_EQ(vela::jot::BlockEndAt(std::span(block).first(79), 0), 0u) << "no tail";
}

// The header's numbers are little-endian: sequence 0x1234 is 34 12.
TEST(BlockReader, HeaderFieldsDecodeAsStored) {
  std::vector<uint8_t> block = asyncBlock("x\n");
  block[1] = 0x34;
  block[2] = 0x12;
  block[3] = 7;
  block[4] = 9;
  const auto result = vela::jot::ReadLogBlocks(block, std::nullopt);
  ASSERT_EQ(result.blocks.size(), 1u);
  const auto& decoded = result.blocks[0];
  EXPECT_EQ(decoded.seq, 0x1234);
  EXPECT_EQ(decoded.beginHour, 7);
  EXPECT_EQ(decoded.endHour, 9);
  EXPECT_EQ(decoded.bodyLength,
            block.size() - vela::jot::kBlockHeaderLen - vela::jot::kBlockTailLen);
  EXPECT_EQ(decoded.text, "x\n");
}

// A deflate body has no end marker: it decodes whole wherever the stream
// stops, also when its text fills the reader's output exactly, and when the
// block holds no record yet (a kill right after the block was started).
TEST(BlockReader, UnendedDeflateBodiesDecodeWhole) {
  for (const size_t size : {1u, 16383u, 16384u, 16385u, 32768u}) {
    std::string text;
    for (size_t i = 0; i < size; ++i) text += static_cast<char>('a' + i * 7 % 26);
    const auto result = vela::jot::ReadLogBlocks(asyncBlock(text), std::nullopt);
    ASSERT_EQ(result.blocks.size(), 1u) << size;
    EXPECT_EQ(result.blocks[0].error, "") << size;
    EXPECT_EQ(result.blocks[0].text, text) << size;
  }
  std::vector<uint8_t> started = syncBlock("x");
  started[0] = vela::jot::kMagicZlibPlainAsync;
  started[vela::jot::kBlockLengthOffset] = 0;
  started.resize(vela::jot::kBlockHeaderLen + vela::jot::kBlockTailLen);
  started.back() = 0;
  const auto result = vela::jot::ReadLogBlocks(started, std::nullopt);
  ASSERT_EQ(result.blocks.size(), 1u);
  EXPECT_EQ(result.blocks[0].error, "");
  EXPECT_EQ(result.blocks[0].text, "");
  // A bad last byte is damage, not an end: 0x07 is a final block of the
  // reserved type.
  std::vector<uint8_t> invalid = syncBlock("\x07");
  invalid[0] = vela::jot::kMagicZlibPlainAsync;
  const auto bad = vela::jot::ReadLogBlocks(invalid, std::nullopt);
  ASSERT_EQ(bad.blocks.size(), 1u);
  EXPECT_EQ(bad.blocks[0].error, "inflate error: invalid block type");
}

}  // namespace
