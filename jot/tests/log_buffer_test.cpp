#include "jot/log_buffer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jot/block_reader.h"
#include "jot/log_format.h"
#include "support/jot_test_support.h"

namespace {

using vela::comm::AutoBuffer;
using vela::jot::LogBaseBuffer;

constexpr size_t kCache = vela::jot::kBufferBlockLength;

int localHour() {
  const time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return tm.tm_hour;
}

struct Variant {
  bool zstd;
  bool key;
};

class BlockBuffer : public ::testing::TestWithParam<Variant> {
 protected:
  BlockBuffer() : memory_(kCache, 0) {
    if (GetParam().key) server_ = jottest::makeKeyPair();
  }

  std::unique_ptr<LogBaseBuffer> make() {
    const std::string key = server_ ? server_->pubHex() : "";
    if (GetParam().zstd) {
      return std::make_unique<vela::jot::LogZstdBuffer>(memory_.data(), kCache, true, key.c_str(), 6);
    }
    return std::make_unique<vela::jot::LogZlibBuffer>(memory_.data(), kCache, true, key.c_str());
  }

  std::optional<vela::jot::EcPrivateKey> privateKey() const {
    if (!server_) return std::nullopt;
    return server_->priv;
  }

  std::string decode(const AutoBuffer& out) const {
    const auto* p = static_cast<const uint8_t*>(out.Ptr());
    const auto result = vela::jot::ReadLogBlocks({p, out.Length()}, privateKey());
    EXPECT_TRUE(result.damage.empty());
    std::string text;
    for (const auto& block : result.blocks) {
      EXPECT_EQ(block.error, "");
      text += block.text;
    }
    return text;
  }

  static std::string record(int i) {
    return "[01-05/13:04:05.123|I|main|77|file.cpp(12)] record number " + std::to_string(i) +
           " with some words that repeat, repeat, repeat\n";
  }

  std::vector<char> memory_;
  std::optional<jottest::KeyPair> server_;
};

TEST_P(BlockBuffer, MagicNumbersFollowCompressorKeyAndMode) {
  auto buffer = make();
  EXPECT_EQ(buffer->IsCrypt(), GetParam().key);
  AutoBuffer sync;
  ASSERT_TRUE(buffer->Write("hello", 5, sync));
  ASSERT_TRUE(buffer->Write("x\n", 2));
  AutoBuffer async;
  buffer->Flush(async);
  const uint8_t syncMagic = *static_cast<const uint8_t*>(sync.Ptr());
  const uint8_t asyncMagic = *static_cast<const uint8_t*>(async.Ptr());
  const uint8_t expectedSync[2][2] = {{0x08, 0x06}, {0x0B, 0x0A}};
  const uint8_t expectedAsync[2][2] = {{0x09, 0x07}, {0x0D, 0x0C}};
  EXPECT_EQ(syncMagic, expectedSync[GetParam().zstd][GetParam().key]);
  EXPECT_EQ(asyncMagic, expectedAsync[GetParam().zstd][GetParam().key]);
}

TEST_P(BlockBuffer, RecordsRoundTrip) {
  auto buffer = make();
  std::string expected;
  AutoBuffer out;
  for (int i = 0; i < 500; ++i) {
    const std::string line = record(i);
    ASSERT_TRUE(buffer->Write(line.data(), line.size()));
    expected += line;
    if (i % 100 == 99) buffer->Flush(out);  // several blocks in a row
  }
  buffer->Flush(out);
  EXPECT_EQ(decode(out), expected);
}

TEST_P(BlockBuffer, OpenBlockSurvivesIntoTheNextBuffer) {
  std::string expected;
  {
    auto writer = make();
    for (int i = 0; i < 50; ++i) {
      const std::string line = record(i);
      ASSERT_TRUE(writer->Write(line.data(), line.size()));
      expected += line;
    }
    // Dropped without a flush, as a killed process leaves its cache.
  }
  auto next = make();
  AutoBuffer out;
  EXPECT_FALSE(next->Write("x", 1));  // the adopted block goes first
  next->Flush(out);
  EXPECT_EQ(decode(out), expected);
  EXPECT_TRUE(next->Write("x", 1));
}

TEST_P(BlockBuffer, CompressorErrorDropsOneRecordAndHoldsTheBlockUntilFlushed) {
  // A memory too small for the third record makes the compressor fail.
  std::vector<char> small(400, 0);
  const std::string key = server_ ? server_->pubHex() : "";
  std::unique_ptr<LogBaseBuffer> buffer;
  if (GetParam().zstd) {
    buffer = std::make_unique<vela::jot::LogZstdBuffer>(small.data(), small.size(), true, key.c_str(), 6);
  } else {
    buffer = std::make_unique<vela::jot::LogZlibBuffer>(small.data(), small.size(), true, key.c_str());
  }
  auto noise = [n = 0u](size_t len) mutable {
    std::string text;
    for (size_t i = 0; i < len; ++i) text += static_cast<char>('!' + (n = n * 1103515245 + 12345) % 90);
    return text + "\n";
  };
  std::string kept;
  for (int i = 0; i < 2; ++i) {
    const std::string line = noise(100);
    ASSERT_TRUE(buffer->Write(line.data(), line.size()));
    kept += line;
  }
  const std::string tooBig = noise(200);
  EXPECT_FALSE(buffer->Write(tooBig.data(), tooBig.size()));
  EXPECT_TRUE(buffer->NeedsFlush());
  EXPECT_FALSE(buffer->Write("x\n", 2));  // the block takes nothing more
  AutoBuffer out;
  buffer->Flush(out);
  EXPECT_EQ(decode(out), kept);  // what was accepted before the error is intact
  EXPECT_TRUE(buffer->Write("after\n", 6));
  AutoBuffer next;
  buffer->Flush(next);
  EXPECT_EQ(decode(next), "after\n");
}

INSTANTIATE_TEST_SUITE_P(AllModes, BlockBuffer,
                         ::testing::Values(Variant{false, false}, Variant{false, true},
                                           Variant{true, false}, Variant{true, true}),
                         [](const auto& param) {
                           return std::string(param.param.zstd ? "Zstd" : "Zlib") +
                                  (param.param.key ? "Key" : "Plain");
                         });

TEST(SyncBlock, ExactBytes) {
  std::vector<char> memory(kCache, 0);
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
  AutoBuffer out;
  const int hourBefore = localHour();
  ASSERT_TRUE(buffer.Write("hello", 5, out));
  const int hourAfter = localHour();
  ASSERT_EQ(out.Length(), 79u);
  const auto* p = static_cast<const uint8_t*>(out.Ptr());
  std::vector<uint8_t> expected = {0x08, 0, 0, 0, 0, 5, 0, 0, 0};
  expected.resize(73, 0);
  for (char c : std::string("hello")) expected.push_back(static_cast<uint8_t>(c));
  expected.push_back(0);
  const int hour = p[3];
  EXPECT_TRUE(hour == hourBefore || hour == hourAfter);
  expected[3] = expected[4] = static_cast<uint8_t>(hour);
  EXPECT_EQ(std::vector<uint8_t>(p, p + 79), expected);
  EXPECT_FALSE(buffer.Write("", 0, out));
}

TEST(SyncBlock, CarriesTheWritersKeyButStaysPlain) {
  const jottest::KeyPair server = jottest::makeKeyPair();
  std::vector<char> memory(kCache, 0);
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, server.pubHex().c_str());
  AutoBuffer out;
  ASSERT_TRUE(buffer.Write("hello", 5, out));
  const auto* p = static_cast<const uint8_t*>(out.Ptr());
  EXPECT_EQ(p[0], 0x06);
  EXPECT_EQ(std::memcmp(p + 9, buffer.Crypt().publicKey().data(), 64), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 73), 5), "hello");
}

TEST(Adoption, OnlyValidFittingHeadersAreAdopted) {
  std::vector<char> memory(kCache, 0);
  auto adoptedLength = [&](uint8_t magic, uint32_t len) {
    std::fill(memory.begin(), memory.end(), 0);
    memory[0] = static_cast<char>(magic);
    std::memcpy(memory.data() + 5, &len, 4);
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
    return buffer.GetData().Length();
  };
  EXPECT_EQ(adoptedLength(9, 500), 573u);
  EXPECT_EQ(adoptedLength(5, 500), 0u);
  EXPECT_EQ(adoptedLength(14, 500), 0u);
  EXPECT_EQ(adoptedLength(9, kCache), 0u);         // would run past the cache
  EXPECT_EQ(adoptedLength(9, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(adoptedLength(9, kCache - 74), kCache - 1);
}

TEST(Adoption, AdoptedBlockIsFlushedWithItsTail) {
  std::vector<char> memory(kCache, 0);
  memory[0] = 9;
  const uint32_t len = 500;
  std::memcpy(memory.data() + 5, &len, 4);
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
  AutoBuffer out;
  buffer.Flush(out);
  EXPECT_EQ(out.Length(), 574u);
  EXPECT_EQ(buffer.GetData().Length(), 0u);
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](char c) { return c == 0; }));
}

TEST(Flush, EmptyMemoryAddsNothing) {
  std::vector<char> memory(kCache, 0x5A);
  memory[0] = 9;  // valid magic, body length 0x5A5A5A5A does not fit
  vela::jot::LogZstdBuffer buffer(memory.data(), kCache, true, "", 3);
  AutoBuffer out;
  buffer.Flush(out);
  EXPECT_EQ(out.Length(), 0u);
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](char c) { return c == 0; }));
}

TEST(PlainTail, UnitsStayAlignedToTheBodyStart) {
  const jottest::KeyPair server = jottest::makeKeyPair();
  std::vector<char> memory(kCache, 0);
  // Uncompressed, so the body bytes are the input bytes.
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, false, server.pubHex().c_str());
  const std::string first = "0123456789abc";  // 13 bytes: 5 stay plain
  const std::string second = "DEFGHI";         // with those 5: 11, one unit
  ASSERT_TRUE(buffer.Write(first.data(), first.size()));
  EXPECT_EQ(std::string(memory.data() + 73 + 8, 5), "89abc");
  ASSERT_TRUE(buffer.Write(second.data(), second.size()));
  EXPECT_EQ(std::string(memory.data() + 73 + 16, 3), "GHI");
  std::vector<uint8_t> body(memory.begin() + 73, memory.begin() + 73 + 19);
  vela::jot::TeaDecipher(buffer.Crypt().teaKey(), body.data());
  vela::jot::TeaDecipher(buffer.Crypt().teaKey(), body.data() + 8);
  EXPECT_EQ(std::string(body.begin(), body.end()), first + second);
  uint32_t len = 0;
  std::memcpy(&len, memory.data() + 5, 4);
  EXPECT_EQ(len, 19u);
}

}  // namespace
