// The plain index against std::map, over content it reads keys from: random
// sets, overwrites and removals (probe runs collide and wrap around), then a
// compaction that moves every pair, and the file reader it is loaded with.
#include "pair_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "coded_data.h"
#include "crc.h"
#include "pair_stream.h"

namespace {

using cask::PairIndex;

// Content as the store writes it: an item-size holder, then appended pairs.
class Content {
 public:
  Content() : bytes_(4, 0xff) { bytes_[3] = 0x07; }
  uint32_t append(const std::string& key, const std::string& value) {
    const auto offset = static_cast<uint32_t>(bytes_.size());
    uint8_t prefix[10];
    for (const std::string* part : {&key, &value}) {
      cask::CodedOutputData out(prefix, sizeof prefix);
      out.writeUInt32(static_cast<uint32_t>(part->size()));
      bytes_.insert(bytes_.end(), prefix, prefix + out.position());
      bytes_.insert(bytes_.end(), part->begin(), part->end());
    }
    return offset;
  }
  std::span<const uint8_t> span() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

std::string valueAt(const PairIndex& index, const std::string& key, std::span<const uint8_t> content) {
  const auto pair = index.find(key, content);
  if (!pair) return "<none>";
  EXPECT_EQ(pair->key, key);
  return std::string(pair->value.begin(), pair->value.end());
}

void expectSame(const PairIndex& index, const std::map<std::string, std::string>& model,
                std::span<const uint8_t> content) {
  ASSERT_EQ(index.size(), model.size());
  std::map<std::string, std::string> walked;
  index.forEachOffset([&](uint32_t offset) {
    const auto pair = cask::pairAt(content, offset);
    ASSERT_TRUE(pair);
    walked.emplace(pair->key, std::string(pair->value.begin(), pair->value.end()));
  });
  ASSERT_EQ(walked, model);
  for (const auto& [key, value] : model) ASSERT_EQ(valueAt(index, key, content), value) << key;
}

TEST(PairIndexTest, RandomEditsAndACompactionMatchAnOrderedMap) {
  for (const int keySpace : {5, 40, 3000}) {
    std::mt19937 random(static_cast<unsigned>(keySpace));
    Content content;
    PairIndex index;
    std::map<std::string, std::string> model;
    for (int step = 0; step < 20000; ++step) {
      const std::string key = "k" + std::to_string(random() % keySpace);
      if (random() % 3 == 0) {
        ASSERT_EQ(index.erase(key, content.span()), model.erase(key)) << key;
      } else {
        const std::string value = "v" + std::to_string(step);
        const uint32_t offset = content.append(key, value);
        index.assign(key, cask::keyHash(key), offset, content.span());
        model[key] = value;
      }
      if (step % 997 == 0) expectSame(index, model, content.span());
    }
    expectSame(index, model, content.span());
    EXPECT_EQ(valueAt(index, "missing", content.span()), "<none>");

    // A compaction: live pairs move down in file order, their slots follow.
    std::vector<uint32_t*> slots;
    index.forEachOffset([&](uint32_t& offset) { slots.push_back(&offset); });
    std::sort(slots.begin(), slots.end(), [](auto* a, auto* b) { return *a < *b; });
    std::vector<uint8_t>& bytes = content.bytes();
    uint32_t written = 4;
    for (uint32_t* offset : slots) {
      const uint32_t size = cask::pairAt(content.span(), *offset)->size();
      std::memmove(bytes.data() + written, bytes.data() + *offset, size);
      *offset = written;
      written += size;
    }
    bytes.resize(written);
    expectSame(index, model, content.span());
  }
}

// A pair is read where it lies, and only when both lengths are well-formed
// varints that stay within the content: a sixth length byte is malformed.
TEST(PairIndexTest, PairAtReadsOnlyWholeWellFormedPairs) {
  struct Row {
    std::vector<uint8_t> bytes;
    uint32_t offset;
    bool found;
    std::string key;
    std::string value;
    uint32_t headerSize;
  };
  const std::vector<Row> rows = {
      {{0x01, 'k', 0x02, 'v', 'w'}, 0, true, "k", "vw", 3},
      {{0x00, 0x00}, 0, true, "", "", 2},
      {{0xff, 0x01, 0x01, 'k', 0x00}, 2, true, "k", "", 3},
      {{0x80, 0x80, 0x80, 0x80, 0x00, 0x00}, 0, true, "", "", 6},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x00}, 0, false, "", "", 0},
      {{0x01, 'k', 0x02, 'v'}, 0, false, "", "", 0},
      {{0x02, 'k'}, 0, false, "", "", 0},
      {{0x01, 'k'}, 0, false, "", "", 0},
      {{0x01, 'k', 0x80}, 0, false, "", "", 0},
      {{0x00, 0x00}, 2, false, "", "", 0},
      {{0x00, 0x00}, 3, false, "", "", 0},
  };
  for (const Row& row : rows) {
    const auto pair = cask::pairAt(row.bytes, row.offset);
    ASSERT_EQ(pair.has_value(), row.found) << ::testing::PrintToString(row.bytes) << " at " << row.offset;
    if (!row.found) continue;
    EXPECT_EQ(pair->offset, row.offset);
    EXPECT_EQ(pair->key, row.key);
    EXPECT_EQ(std::string(pair->value.begin(), pair->value.end()), row.value);
    EXPECT_EQ(pair->headerSize, row.headerSize);
    EXPECT_EQ(pair->end(), row.bytes.size());
  }
}

// A key read from a mapped file hashes as the same key in a string does:
// the hash reads the key's bytes and nothing beside them, at every length.
TEST(PairIndexTest, KeyHashReadsOnlyTheKey) {
  for (size_t n = 0; n <= 20; ++n) {
    const std::string key = std::string("0123456789abcdefghij").substr(0, n);
    std::vector<uint32_t> hashes;
    for (const char fill : {'\0', '\x5a', '\xff'}) {
      std::string around(8, fill);
      around += key;
      around.append(8, fill);
      hashes.push_back(cask::keyHash(std::string_view(around).substr(8, n)));
    }
    EXPECT_EQ(hashes[0], hashes[1]) << n;
    EXPECT_EQ(hashes[0], hashes[2]) << n;
  }
}

TEST(PairIndexTest, ReserveClearAndSwap) {
  Content content;
  PairIndex index;
  index.reserve(5000);
  for (int i = 0; i < 5000; ++i) {
    const std::string key = std::to_string(i);
    const uint32_t offset = content.append(key, "x");
    index.assign(key, cask::keyHash(key), offset, content.span());
  }
  PairIndex other;
  index.swap(other);
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.find("1", content.span()), std::nullopt);
  EXPECT_EQ(other.size(), 5000u);
  EXPECT_TRUE(other.contains("4999", content.span()));
  other.clear();
  EXPECT_FALSE(other.contains("4999", content.span()));
  EXPECT_EQ(other.erase("1", content.span()), 0u);
}

// Every pair the file reader gives across its chunk boundaries (keys and
// values of many sizes, some larger than a chunk) is where the content has
// it, and the file CRC and the one the reader keeps (skipped values and a
// skipped last value included) match the one over the bytes.
TEST(PairStreamTest, ReadsEveryPairAcrossChunksAndSkipsValues) {
  Content content;
  std::vector<std::pair<std::string, size_t>> written;
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    // Keys up to the longest a pair may have, which with its prefixes
    // needs more than one chunk.
    const size_t keySize = i % 1000 == 0 ? 0xffff : 1 + random() % (i % 100 == 0 ? 0xffff : 40);
    const std::string key(keySize, static_cast<char>('a' + i % 26));
    const size_t valueSize = i % 500 == 0 || i == 2999 ? 200000 : random() % 300;
    content.append(key, std::string(valueSize, 'v'));
    written.emplace_back(key, valueSize);
  }
  const std::string dir = cask::testing::makeTempDir("pairstream");
  const std::string path = dir + "/data";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  const uint32_t header = 0x11223344;
  std::fwrite(&header, 4, 1, file);
  std::fwrite(content.bytes().data(), 1, content.bytes().size(), file);
  std::fclose(file);
  FILE* read = std::fopen(path.c_str(), "rb");
  const int fd = fileno(read);

  cask::PairStream input(fd, 4, content.bytes().size(), 0);
  input.keepCrc();
  EXPECT_EQ(input.readRawVarint32(), 0x00ffffff);
  for (const auto& [key, valueSize] : written) {
    const size_t at = input.position();
    const cask::PairStream::Pair pair = input.readPair();
    ASSERT_EQ(pair.offset, at);
    ASSERT_EQ(pair.key, key);
    ASSERT_EQ(pair.valueSize, valueSize);
  }
  EXPECT_TRUE(input.isAtEnd());
  EXPECT_THROW((void)input.readPair(), std::out_of_range);
  const uint32_t crc = cask::crc32Of(0, content.bytes().data(), content.bytes().size());
  EXPECT_EQ(input.crc(), crc);
  EXPECT_EQ(cask::fileCrc32(fd, 4, content.bytes().size(), 0), crc);
  // The file ends first; one byte past whole 64 KiB reads.
  EXPECT_EQ(cask::fileCrc32(fd, 4, content.bytes().size() + 1, 0), std::nullopt);
  EXPECT_EQ(cask::fileCrc32(fd, 4, 65537, 0), cask::crc32Of(0, content.bytes().data(), 65537));
  // A length running past the end is a truncated message, as in memory.
  cask::PairStream shorter(fd, 4, content.bytes().size() - 1, 0);
  (void)shorter.readRawVarint32();
  EXPECT_THROW(
      {
        while (!shorter.isAtEnd()) (void)shorter.readPair();
      },
      std::out_of_range);
  // A start past the end is refused; one at the end reads nothing.
  EXPECT_THROW(cask::PairStream(fd, 4, 10, 11), std::out_of_range);
  EXPECT_TRUE(cask::PairStream(fd, 4, 10, 10).isAtEnd());
  // A key longer than an index entry can hold is refused.
  Content wide;
  wide.append(std::string(0x10000, 'w'), "v");
  FILE* more = std::fopen(path.c_str(), "ab");
  ASSERT_NE(more, nullptr);
  std::fwrite(wide.bytes().data() + 4, 1, wide.bytes().size() - 4, more);
  std::fclose(more);
  cask::PairStream tooLong(fd, 4, content.bytes().size() + wide.bytes().size() - 4,
                           content.bytes().size());
  EXPECT_THROW((void)tooLong.readPair(), std::length_error);
  std::fclose(read);
  cask::testing::removeTempDir(dir);
}

}  // namespace
