#include "jot/log_buffer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
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

  // Writes records 0..n-1 into the buffer; their text.
  static std::string writeRecords(LogBaseBuffer& buffer, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) {
      const std::string line = record(i);
      EXPECT_TRUE(buffer.Write(line.data(), line.size()));
      text += line;
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
  const std::string first = writeRecords(*buffer, 100);
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
  EXPECT_EQ(buffer->Dropped(), 2u);  // the record that found no room, and "x"

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

// Text that hardly compresses.
std::string noise(size_t len, uint32_t seed) {
  std::string text;
  for (size_t i = 0; i < len; ++i)
    text += static_cast<char>('!' + (seed = seed * 1103515245 + 12345) % 90);
  return text + "\n";
}

TEST_P(BlockBuffer, RecordThatFitsNoHalfIsCountedAndCostsNothingElse) {
  std::vector<char> small(600, 0);
  const std::string key = server_ ? server_->pubHex() : "";
  std::unique_ptr<LogBaseBuffer> buffer;
  if (GetParam().zstd) {
    buffer = std::make_unique<vela::jot::LogZstdBuffer>(small.data(), small.size(), true, key.c_str(), 6);
  } else {
    buffer = std::make_unique<vela::jot::LogZlibBuffer>(small.data(), small.size(), true, key.c_str());
  }
  ASSERT_TRUE(buffer->Write("first\n", 6));
  const std::string tooBig = noise(400, 1);
  EXPECT_FALSE(buffer->Write(tooBig.data(), tooBig.size()));
  EXPECT_EQ(buffer->Dropped(), 1u);
  EXPECT_EQ(buffer->SealedCount(), 1u);  // the first block, sealed where it stood
  EXPECT_TRUE(buffer->Write("after\n", 6));
  AutoBuffer out;
  buffer->Flush(out);
  EXPECT_EQ(decode(out), "first\nafter\n");
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](char c) { return c == 0; }));
}

// What a record does when it finds the open block full and the other half
// held by an older block.
TEST_P(BlockBuffer, OnlyABlockWhoseWriteFailedIsGivenUpForNewRecords) {
  enum class Oldest { Waiting, BeingWritten, WriteFailed, BeingWrittenAgain };
  for (Oldest oldest :
       {Oldest::Waiting, Oldest::BeingWritten, Oldest::WriteFailed, Oldest::BeingWrittenAgain}) {
    std::fill(memory_.begin(), memory_.end(), 0);
    auto buffer = make();
    const std::string first = writeRecords(*buffer, 50);
    buffer->Seal();
    if (oldest != Oldest::Waiting) {
      ASSERT_FALSE(buffer->TakeOldestSealed().empty());
    }
    if (oldest == Oldest::WriteFailed || oldest == Oldest::BeingWrittenAgain)
      buffer->KeepOldestSealed();
    if (oldest == Oldest::BeingWrittenAgain) {
      ASSERT_FALSE(buffer->TakeOldestSealed().empty());
    }
    // Fill the other half until its block is sealed for want of room.
    const uint64_t seals = buffer->SealedSoFar();
    std::string second;
    std::string line;
    bool stored = true;
    for (uint32_t i = 0; buffer->SealedSoFar() == seals && i < 100000; ++i) {
      line = noise(200, i);
      stored = buffer->Write(line.data(), line.size());
      if (buffer->SealedSoFar() == seals) second += line;
    }
    ASSERT_GT(second.size(), 10000u);
    AutoBuffer out;
    if (oldest == Oldest::WriteFailed) {
      // Given up, its 50 records counted; the record starts a block there.
      EXPECT_TRUE(stored);
      EXPECT_EQ(buffer->Dropped(), 50u);
      buffer->Flush(out);
      EXPECT_EQ(decode(out), second + line);
    } else {
      EXPECT_FALSE(stored);
      EXPECT_EQ(buffer->Dropped(), 1u);
      buffer->Flush(out);
      EXPECT_EQ(decode(out), first + second);
    }
  }
}

TEST_P(BlockBuffer, ABlockWhoseBodyDoesNotDecodeIsNotAdopted) {
  auto buffer = make();
  writeRecords(*buffer, 300);
  const size_t length = buffer->OpenLength();
  buffer.reset();  // killed
  // Damaged in the middle of its body; enciphered, it cannot be read here.
  std::memset(memory_.data() + length / 2, 0xFF, 32);
  buffer = make();
  EXPECT_EQ(buffer->IsEmpty(), !GetParam().key);
  if (!GetParam().key) {
    EXPECT_EQ(std::count(memory_.begin(), memory_.end(), 0), static_cast<ptrdiff_t>(kCache));
  }
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

// A header at `offset` of `memory` with magic, sequence number, body length
// and hours.
void putHeader(std::vector<char>& memory, size_t offset, uint8_t magic, uint16_t seq, uint32_t len,
               uint8_t beginHour = 0, uint8_t endHour = 0) {
  memory[offset] = static_cast<char>(magic);
  std::memcpy(memory.data() + offset + 1, &seq, 2);
  memory[offset + 3] = static_cast<char>(beginHour);
  memory[offset + 4] = static_cast<char>(endHour);
  std::memcpy(memory.data() + offset + 5, &len, 4);
  // A body that decodes: raw deflate stored blocks, as long as it fits.
  if (len < 5 || len > memory.size() - offset - 73) return;
  char* body = memory.data() + offset + 73;
  for (size_t left = len; left >= 5;) {
    auto n = static_cast<uint16_t>(std::min<size_t>(left - 5, 60000));
    if (left - 5 - n > 0 && left - 5 - n < 5) n -= 5;
    const auto inverse = static_cast<uint16_t>(~n);
    body[0] = 0;
    std::memcpy(body + 1, &n, 2);
    std::memcpy(body + 3, &inverse, 2);
    std::memset(body + 5, 'x', n);
    body += 5 + n;
    left -= 5 + n;
  }
}

TEST(Adoption, OnlyValidFittingHeadersAreAdopted) {
  std::vector<char> memory(kCache, 0);
  // The adopted blocks' lengths (header, body, tail), oldest first.
  auto adopted = [&](uint8_t magic, uint32_t len, uint8_t beginHour = 0, uint8_t endHour = 0) {
    std::fill(memory.begin(), memory.end(), 0);
    putHeader(memory, 0, magic, 1, len, beginHour, endHour);
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
  EXPECT_EQ(adopted(9, kCache - 73), Lengths{});  // no room for its tail
  EXPECT_EQ(adopted(9, 0), Lengths{});  // a header without a body holds nothing
  EXPECT_EQ(adopted(9, 500, 23, 23), Lengths{574});
  EXPECT_EQ(adopted(9, 500, 24, 0), Lengths{});  // hours are 0..23
  EXPECT_EQ(adopted(9, 500, 0, 24), Lengths{});
}

TEST(Adoption, TwoBlocksComeOutOldestFirst) {
  struct Case {
    uint16_t seqAtStart;
    uint16_t seqAtMiddle;
    size_t oldestOffset;
  };
  for (const Case& c :
       {Case{5, 6, 0}, Case{6, 5, kCache / 2}, Case{65535, 1, 0}, Case{1, 65535, kCache / 2},
        Case{128, 256, 0}, Case{1, 32769, kCache / 2}}) {
    std::vector<char> memory(kCache, 0);
    putHeader(memory, 0, 9, c.seqAtStart, 100);
    putHeader(memory, kCache / 2, 9, c.seqAtMiddle, 200);
    const auto found = vela::jot::LocateCacheBlocks(reinterpret_cast<const uint8_t*>(memory.data()), kCache);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, c.oldestOffset) << c.seqAtStart << " " << c.seqAtMiddle;
  }
  // The counters after the blocks of a cache file are no block: a reader
  // given the whole file finds the middle where it is.
  {
    std::vector<char> file(vela::jot::kCacheFileLength, 0);
    putHeader(file, 0, 9, 1, 100);
    putHeader(file, kCache / 2, 9, 2, 100);
    std::fill(file.begin() + kCache, file.end(), 7);
    const auto found =
        vela::jot::LocateCacheBlocks(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].offset, kCache / 2);
  }
  // A block at the start that reaches past the middle (as an earlier
  // version could leave it) hides what is there; one that ends, tail
  // included, right at the middle does not.
  for (const auto& [firstBody, blocks] :
       {std::pair<uint32_t, size_t>{kCache / 2, 1}, {kCache / 2 - 73, 1}, {kCache / 2 - 74, 2}}) {
    std::vector<char> memory(kCache, 0);
    putHeader(memory, 0, 9, 1, firstBody);
    putHeader(memory, kCache / 2, 9, 2, 10);
    EXPECT_EQ(vela::jot::LocateCacheBlocks(reinterpret_cast<const uint8_t*>(memory.data()), kCache)
                  .size(),
              blocks)
        << firstBody;
  }
}

TEST(Halves, ABlockThatFillsItsHalfExactlyLeavesTheOtherHalfFree) {
  // Uncompressed, so that a record takes exactly its length.
  std::vector<char> memory(400, 0);
  vela::jot::LogZlibBuffer buffer(memory.data(), memory.size(), false, "");
  const std::string fits(200 - 73 - 1, 'a');  // header, body, tail: the whole half
  ASSERT_TRUE(buffer.Write(fits.data(), fits.size()));
  EXPECT_EQ(buffer.OpenLength(), 199u);
  ASSERT_TRUE(buffer.Write("b\n", 2));  // seals the first, starts the second
  EXPECT_EQ(buffer.SealedCount(), 1u);
  EXPECT_EQ(buffer.OpenLength(), 75u);
  EXPECT_EQ(buffer.Dropped(), 0u);
  EXPECT_EQ(memory[200], memory[0]);  // its header at the middle
}

// The counters as the cache file keeps them after its blocks.
struct Counters {
  uint64_t words[3] = {};
  [[nodiscard]] std::span<const uint8_t> bytes() const {
    return {reinterpret_cast<const uint8_t*>(words), sizeof words};
  }
};

TEST(Counters, DroppedAndBlockCountsOutliveAKill) {
  std::vector<char> memory(kCache, 0);
  Counters counters;
  auto make = [&] {
    return std::make_unique<vela::jot::LogZlibBuffer>(memory.data(), kCache, true, "",
                                                      counters.words);
  };
  auto buffer = make();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(buffer->Write("older\n", 6));
  buffer->Seal();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(buffer->Write("newer\n", 6));
  buffer.reset();  // killed: nothing is flushed

  buffer = make();
  EXPECT_EQ(buffer->HeldRecords(), 15u);
  ASSERT_FALSE(buffer->TakeOldestSealed().empty());
  buffer->KeepOldestSealed();            // the files refuse the older block
  ASSERT_TRUE(buffer->Write("n\n", 2));  // both halves taken: the older one goes
  EXPECT_EQ(buffer->Dropped(), 10u);
  buffer.reset();

  buffer = make();
  EXPECT_EQ(vela::jot::CachedDropCount(counters.bytes()), std::optional<uint32_t>(10));
  buffer->ForgetDropped(4);
  buffer.reset();
  buffer = make();
  EXPECT_EQ(buffer->Dropped(), 6u);
  AutoBuffer out;
  buffer->Flush(out);
  const auto result = vela::jot::ReadLogBlocks(
      {static_cast<const uint8_t*>(out.Ptr()), out.Length()}, std::nullopt);
  ASSERT_EQ(result.blocks.size(), 2u);
  EXPECT_EQ(result.blocks[0].text, "newer\nnewer\nnewer\nnewer\nnewer\n");
  EXPECT_EQ(result.blocks[1].text, "n\n");
  buffer->Clear();
  EXPECT_EQ(vela::jot::CachedDropCount(counters.bytes()), std::optional<uint32_t>(0));
}

TEST(Counters, AWordThatDoesNotCheckIsDamagedNeverACount) {
  const uint64_t good = jottest::dropCountWord(154988);
  // As docs/log_format.md gives it: a cache a kill left is read by the next
  // start, which may be of another build.
  ASSERT_EQ(good, 0x9E0ACA5E00025D6Cull);
  struct Row {
    const char* what;
    uint64_t word;
  };
  const Row rows[] = {
      {"the same bit flipped in both halves", good ^ (uint64_t{1} << 3 | uint64_t{1} << 35)},
      {"the top count with a zero check", 0x00000000FFFFFFFFull},
      {"one half changed", good ^ (uint64_t{1} << 40)},
      {"a count and its complement", uint64_t{154988} | uint64_t{~154988u} << 32},
      {"a cut word", good & 0xFFFFFFFFull},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<char> memory(kCache, 0);
    Counters counters;
    counters.words[0] = row.word;
    EXPECT_EQ(vela::jot::CachedDropCount(counters.bytes()), std::nullopt);
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "", counters.words);
    EXPECT_TRUE(buffer.DropCountWasDamaged());
    EXPECT_EQ(buffer.Dropped(), 0u);
    EXPECT_EQ(counters.words[0], 0u);
  }
  std::vector<char> memory(kCache, 0);
  Counters counters;
  counters.words[0] = good;
  vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "", counters.words);
  EXPECT_FALSE(buffer.DropCountWasDamaged());
  EXPECT_EQ(buffer.Dropped(), 154988u);
  // No bit flipped in both halves checks, whatever the count.
  for (const uint32_t n : {1u, 2u, 154988u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    const uint64_t word = jottest::dropCountWord(n);
    ASSERT_EQ(static_cast<uint32_t>(word), n);
    for (int bit = 0; bit < 32; ++bit) {
      counters.words[0] = word ^ (uint64_t{1} << bit | uint64_t{1} << (bit + 32));
      EXPECT_EQ(vela::jot::CachedDropCount(counters.bytes()), std::nullopt) << n << " bit " << bit;
    }
  }
}

TEST(Counters, AStartClearsStaleCountsAndTheDropCountStopsAtItsTop) {
  auto word = jottest::dropCountWord;
  // Too small for any block: every record is dropped.
  std::vector<char> memory(100, 0);
  Counters counters;
  counters.words[0] = word(0xFFFFFFFEu);
  counters.words[1] = counters.words[2] = word(999);  // halves without a block
  vela::jot::LogZlibBuffer buffer(memory.data(), memory.size(), true, "", counters.words);
  EXPECT_EQ(counters.words[1], 0u);
  EXPECT_EQ(counters.words[2], 0u);
  EXPECT_FALSE(buffer.Write("a\n", 2));
  EXPECT_FALSE(buffer.Write("b\n", 2));
  EXPECT_EQ(buffer.Dropped(), 0xFFFFFFFFu);
  EXPECT_EQ(counters.words[0], word(0xFFFFFFFFu));
}

TEST(Counters, ABlockCountAboveItsBodyLengthIsUnknown) {
  // Each record takes a byte of body at least: a count up to the body's
  // length may be true, one past it is not.
  for (const uint32_t past : {0u, 1u}) {
    std::vector<char> memory(kCache, 0);
    Counters counters;
    {
      vela::jot::LogZlibBuffer writer(memory.data(), kCache, true, "", counters.words);
      for (int i = 0; i < 10; ++i) ASSERT_TRUE(writer.Write("a\n", 2));
    }
    uint32_t bodyLength = 0;
    std::memcpy(&bodyLength, memory.data() + 5, sizeof bodyLength);
    counters.words[1] = jottest::dropCountWord(bodyLength + past);
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "", counters.words);
    EXPECT_EQ(buffer.HeldRecords(), past == 0 ? bodyLength : 0u);
  }
}

TEST(Counters, ABlockWithoutACountIsNeverGivenUp) {
  // A damaged or absurd count, or a cache an earlier version left (a block
  // and no counters): the block's records are not known, so new records are
  // dropped instead, each counted.
  for (const uint64_t blockWord : {uint64_t{0}, uint64_t{12345}, jottest::dropCountWord(1000)}) {
    const bool damaged = blockWord == 12345;
    std::vector<char> memory(kCache, 0);
    Counters counters;
    {
      vela::jot::LogZlibBuffer writer(memory.data(), kCache, true, "");
      ASSERT_TRUE(writer.Write("old\n", 4));  // a body of a few bytes
    }
    counters.words[1] = blockWord;
    if (damaged) counters.words[0] = 12345;
    EXPECT_EQ(vela::jot::CachedDropCount(counters.bytes()),
              damaged ? std::nullopt : std::optional<uint32_t>(0));
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "", counters.words);
    EXPECT_EQ(buffer.Dropped(), 0u);
    ASSERT_FALSE(buffer.TakeOldestSealed().empty());
    buffer.KeepOldestSealed();
    const std::string line = noise(300, 3);
    bool stored = true;
    while (buffer.SealedCount() < 2) stored = buffer.Write(line.data(), line.size());
    EXPECT_FALSE(stored);
    EXPECT_FALSE(buffer.Write("x\n", 2));
    EXPECT_EQ(buffer.Dropped(), 2u);  // the record that sealed the half, and "x"
    AutoBuffer out;
    out.Write(buffer.OldestSealed().data(), buffer.OldestSealed().size());
    const auto result = vela::jot::ReadLogBlocks(
        {static_cast<const uint8_t*>(out.Ptr()), out.Length()}, std::nullopt);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].text, "old\n");
  }
}

// What a kill would leave if it came while a block's memory is zeroed, once
// the bytes where a block may start are gone.
std::vector<vela::jot::CacheBlock> gFoundWhileZeroing;
int gZeroings = 0;
void noteBlocksWhileZeroing(const uint8_t* mem, size_t size) {
  ++gZeroings;
  const auto found = vela::jot::LocateCacheBlocks(mem, size);
  gFoundWhileZeroing.insert(gFoundWhileZeroing.end(), found.begin(), found.end());
}

TEST(Zeroing, AKillPartWayLeavesNoBlockBehind) {
  // A cleared cache with a block in each half, and an adopted block that
  // runs past the middle over bytes that look like a header there.
  for (bool clear : {true, false}) {
    std::vector<char> memory(kCache, 0);
    if (clear) {
      vela::jot::LogZlibBuffer writer(memory.data(), kCache, true, "");
      ASSERT_TRUE(writer.Write("one\n", 4));
      writer.Seal();
      ASSERT_TRUE(writer.Write("two\n", 4));
    } else {
      putHeader(memory, 0, 9, 1, kCache / 2 + 100);
      putHeader(memory, kCache / 2, 9, 2, 10);  // body bytes of the first block
    }
    vela::jot::LogZlibBuffer buffer(memory.data(), kCache, true, "");
    ASSERT_EQ(buffer.SealedCount(), clear ? 2u : 1u);
    gFoundWhileZeroing.clear();
    gZeroings = 0;
    vela::jot::SetZeroingHookForTesting(&noteBlocksWhileZeroing);
    if (clear) {
      buffer.Clear();
    } else {
      buffer.DropOldestSealed();
    }
    vela::jot::SetZeroingHookForTesting(nullptr);
    EXPECT_EQ(gZeroings, 1) << clear;
    EXPECT_TRUE(gFoundWhileZeroing.empty()) << clear;
  }
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
