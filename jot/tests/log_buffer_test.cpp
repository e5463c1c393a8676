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

TEST_P(BlockBuffer, BlocksLeftByAKillComeOutOldestFirst) {
  // A kill can leave a sealed block that is not yet in the file and the open
  // block after it, either way round in the two halves.
  for (bool secondHalfFirst : {false, true}) {
    std::fill(memory_.begin(), memory_.end(), 0);
    std::string expected;
    int n = 0;
    auto writeSome = [&](LogBaseBuffer& buffer, bool keep) {
      for (int end = n + 50; n < end; ++n) {
        const std::string line = record(n);
        ASSERT_TRUE(buffer.Write(line.data(), line.size()));
        if (keep) expected += line;
      }
    };
    {
      auto writer = make();
      if (secondHalfFirst) {
        writeSome(*writer, false);
        writer->Seal();
      }
      writeSome(*writer, true);
      if (secondHalfFirst) {
        writer->DropOldestSealed();  // as if written to the file
      }
      writer->Seal();
      writeSome(*writer, true);
    }
    auto next = make();
    EXPECT_EQ(next->SealedCount(), 2u);
    AutoBuffer out;
    next->Flush(out);
    EXPECT_EQ(decode(out), expected);
    EXPECT_TRUE(std::all_of(memory_.begin(), memory_.end(), [](char c) { return c == 0; }));
  }
}

TEST_P(BlockBuffer, RecordsGoOnIntoTheOtherHalfWhileASealedBlockWaits) {
  auto buffer = make();
  std::string first;
  for (int i = 0; i < 100; ++i) {
    const std::string line = record(i);
    ASSERT_TRUE(buffer->Write(line.data(), line.size()));
    first += line;
  }
  buffer->Seal();
  EXPECT_EQ(buffer->OpenLength(), 0u);
  std::string second;
  int stored = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::string line = record(i) + std::to_string(i * 7919 % 10007);
    if (!buffer->Write(line.data(), line.size())) break;
    second += line;
    ++stored;
  }
  // The second block fills its half and is sealed; with both halves taken
  // the cache is full and takes nothing more.
  ASSERT_GT(stored, 100);
  ASSERT_LT(stored, 100000);
  EXPECT_EQ(buffer->SealedCount(), 2u);
  EXPECT_FALSE(buffer->Write("x\n", 2));

  const auto oldest = buffer->OldestSealed();
  AutoBuffer out;
  out.Write(oldest.data(), oldest.size());
  EXPECT_EQ(decode(out), first);
  buffer->DropOldestSealed();
  ASSERT_TRUE(buffer->Write("after\n", 6));  // room again, in the freed half
  AutoBuffer rest;
  buffer->Flush(rest);
  EXPECT_EQ(decode(rest), second + "after\n");
}

TEST_P(BlockBuffer, RecordTooBigForTheRoomLeftSealsTheBlockAndWaits) {
  // A memory too small for the third record: the block keeps the first two
  // and no half is free for a new one.
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
  EXPECT_EQ(buffer->SealedCount(), 1u);
  EXPECT_FALSE(buffer->Write("x\n", 2));  // the cache takes nothing more
  AutoBuffer out;
  buffer->Flush(out);
  EXPECT_EQ(decode(out), kept);  // what was accepted before is intact
  EXPECT_TRUE(buffer->Write("after\n", 6));
  AutoBuffer next;
  buffer->Flush(next);
  EXPECT_EQ(decode(next), "after\n");
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](char c) { return c == 0; }));
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

// A header at `offset` of `memory` with magic, sequence number and body length.
void putHeader(std::vector<char>& memory, size_t offset, uint8_t magic, uint16_t seq, uint32_t len) {
  memory[offset] = static_cast<char>(magic);
  std::memcpy(memory.data() + offset + 1, &seq, 2);
  std::memcpy(memory.data() + offset + 5, &len, 4);
}

TEST(Adoption, OnlyValidFittingHeadersAreAdopted) {
  std::vector<char> memory(kCache, 0);
  // The adopted blocks' lengths (header, body, tail), oldest first.
  auto adopted = [&](uint8_t magic, uint32_t len) {
    std::fill(memory.begin(), memory.end(), 0);
    putHeader(memory, 0, magic, 1, len);
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
    std::vector<size_t> lengths;
    for (auto block = buffer.OldestSealed(); !block.empty(); block = buffer.OldestSealed()) {
      lengths.push_back(block.size());
      buffer.DropOldestSealed();
    }
    return lengths;
  };
  using Lengths = std::vector<size_t>;
  EXPECT_EQ(adopted(9, 500), Lengths{574});
  EXPECT_EQ(adopted(5, 500), Lengths{});
  EXPECT_EQ(adopted(14, 500), Lengths{});
  EXPECT_EQ(adopted(9, kCache), Lengths{});  // would run past the cache
  EXPECT_EQ(adopted(9, 0xFFFFFFFFu), Lengths{});
  EXPECT_EQ(adopted(9, kCache - 74), Lengths{kCache});
  EXPECT_EQ(adopted(9, 0), Lengths{});  // a header without a body holds nothing
}

TEST(Adoption, TwoBlocksComeOutOldestFirst) {
  struct Case {
    uint16_t seqAtStart;
    uint16_t seqAtMiddle;
    size_t oldestOffset;
  };
  for (const Case& c : {Case{5, 6, 0}, Case{6, 5, kCache / 2}, Case{65535, 1, 0}, Case{1, 65535, kCache / 2}}) {
    std::vector<char> memory(kCache, 0);
    putHeader(memory, 0, 9, c.seqAtStart, 100);
    putHeader(memory, kCache / 2, 9, c.seqAtMiddle, 200);
    const auto found = vela::jot::LocateCacheBlocks(reinterpret_cast<const uint8_t*>(memory.data()), kCache);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, c.oldestOffset) << c.seqAtStart << " " << c.seqAtMiddle;
  }
  // A block at the start that reaches past the middle hides what is there.
  std::vector<char> memory(kCache, 0);
  putHeader(memory, 0, 9, 1, kCache / 2);
  putHeader(memory, kCache / 2, 9, 2, 10);
  EXPECT_EQ(vela::jot::LocateCacheBlocks(reinterpret_cast<const uint8_t*>(memory.data()), kCache).size(), 1u);
}

TEST(Adoption, AdoptedBlockIsFlushedWithItsTail) {
  std::vector<char> memory(kCache, 0);
  putHeader(memory, 0, 9, 1, 500);
  memory[kCache - 1] = 7;  // stray bytes outside any block go at once
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
  EXPECT_EQ(memory[kCache - 1], 0);
  AutoBuffer out;
  buffer.Flush(out);
  EXPECT_EQ(out.Length(), 574u);
  EXPECT_EQ(buffer.SealedCount(), 0u);
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
