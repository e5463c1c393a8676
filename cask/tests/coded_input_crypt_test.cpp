// The decrypting reader against the plain bytes it must reproduce: pairs of
// every size around the window's and the offset form's limits, read from a
// stream start and from the middle, leave the crypter where the writer's was.
#include "coded_input_crypt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "aes_crypt.h"
#include "coded_data.h"
#include "crc.h"

namespace {

using cask::AESCrypt;
using cask::AESCryptStatus;
using cask::CodedInputDataCrypt;
using cask::KeyValueHolderCrypt;

struct Pair {
  std::string key;
  std::vector<uint8_t> value;
};

class CryptReaderTest : public ::testing::Test {
 protected:
  // Writes the holder and `pairs` as one stream; `tailStart` gets where the
  // second half begins.
  void build(const std::vector<Pair>& pairs) {
    plain_.assign(plainCapacity_, 0);
    cask::CodedOutputData out(plain_.data(), plain_.size());
    out.writeRawVarint32(0x00FFFFFF);
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (i == pairs.size() / 2) tailStart_ = out.position();
      out.writeData({reinterpret_cast<const uint8_t*>(pairs[i].key.data()), pairs[i].key.size()});
      out.writeData(pairs[i].value);
    }
    plain_.resize(out.position());
    cipher_ = plain_;
    AESCrypt writer(kKey, 16, kIV, 16);
    writer.encrypt(cipher_.data(), cipher_.data(), tailStart_);
    writer.getCurStatus(atTail_);
    writer.encrypt(cipher_.data() + tailStart_, cipher_.data() + tailStart_, cipher_.size() - tailStart_);
    writer.getCurStatus(atEnd_);
  }

  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
  }

  // The ciphertext after a 4-byte header in an unlinked file, cut to
  // `length` bytes.
  int cipherFile(size_t length) {
    std::string path = ::testing::TempDir() + "crypt-reader-XXXXXX";
    fd_ = mkstemp(path.data());
    EXPECT_GE(fd_, 0);
    unlink(path.c_str());
    const std::vector<uint8_t> header(4, 0xEE);
    EXPECT_EQ(write(fd_, header.data(), header.size()), 4);
    EXPECT_EQ(write(fd_, cipher_.data(), length), static_cast<ssize_t>(length));
    return fd_;
  }

  // Reads pairs from `from` to the end and checks each against `pairs`; with
  // `fromFile`, the ciphertext comes from a file and its CRC is checked too.
  void readAndCheck(const std::vector<Pair>& pairs, size_t firstPair, AESCrypt& crypter, size_t from,
                    bool fromFile = false) {
    CodedInputDataCrypt input = fromFile ? CodedInputDataCrypt(cask::CipherText(cipherFile(cipher_.size()), 4,
                                                                                cipher_.size()),
                                                               crypter)
                                         : CodedInputDataCrypt(cipher_.data(), cipher_.size(), crypter);
    if (from == 0) {
      (void)input.readRawVarint32();
    } else {
      input.seek(from);
    }
    // Every other pair as a load reads them: Memory-form values in an arena.
    cask::ByteArena arena;
    for (size_t i = firstPair; i < pairs.size(); ++i) {
      KeyValueHolderCrypt holder;
      ASSERT_EQ(input.readPair(holder, i % 2 == 0 ? nullptr : &arena), pairs[i].key) << i;
      ASSERT_EQ(holder.isOffset(), pairs[i].value.size() >= 256) << i;
      const cask::RvBuffer value = holder.toRvBuffer(cipher_.data(), crypter);
      ASSERT_EQ(std::vector<uint8_t>(value.span().begin(), value.span().end()), pairs[i].value) << i;
    }
    EXPECT_TRUE(input.isAtEnd());
    if (fromFile) {
      EXPECT_EQ(input.crc(), cask::crc32Of(0, cipher_.data(), cipher_.size()));
    }
    AESCryptStatus end;
    crypter.getCurStatus(end);
    EXPECT_EQ(end.m_number, atEnd_.m_number);
    EXPECT_EQ(std::memcmp(end.m_register, atEnd_.m_register, 16), 0);
  }

  static constexpr char kKey[] = "reader-key-16byt";
  static constexpr char kIV[] = "reader-iv-16byte";
  std::vector<uint8_t> plain_;
  std::vector<uint8_t> cipher_;
  size_t plainCapacity_ = 1 << 20;
  size_t tailStart_ = 0;
  AESCryptStatus atTail_;
  AESCryptStatus atEnd_;
  int fd_ = -1;
};

TEST_F(CryptReaderTest, EveryValueSizeReadsBackFromTheStartAndFromTheMiddle) {
  std::mt19937 random(3);
  std::vector<Pair> pairs;
  for (size_t size : {0, 1, 15, 16, 17, 27, 28, 31, 32, 33, 255, 256, 257, 300, 1000, 4096, 5000}) {
    for (int repeat = 0; repeat < 3; ++repeat) {
      Pair pair{std::string(1 + random() % 40, static_cast<char>('a' + repeat)) + std::to_string(size), {}};
      pair.value.resize(size);
      for (uint8_t& b : pair.value) b = static_cast<uint8_t>(random());
      pairs.push_back(pair);
    }
  }
  build(pairs);
  AESCrypt fromStart(kKey, 16, kIV, 16);
  readAndCheck(pairs, 0, fromStart, 0);
  // A tail appended by another process: the crypter already stands there.
  AESCrypt fromTail = AESCrypt(kKey, 16, kIV, 16);
  fromTail.setStatus(atTail_);
  readAndCheck(pairs, pairs.size() / 2, fromTail, tailStart_);
}

// From a file the reader sees the ciphertext a 64 KiB chunk at a time: keys
// and values that cross chunks, values skipped over several of them, and the
// longest key a pair may have.
TEST_F(CryptReaderTest, FromAFileEveryPairAndTheCrcComeFromOneRead) {
  std::mt19937 random(5);
  std::vector<Pair> pairs;
  for (size_t size : {40, 300, 65000, 70000, 5, 200000, 255, 256, 131072, 17}) {
    for (size_t keyLength : {1, 3000, 65535}) {
      Pair pair{std::string(keyLength, static_cast<char>('a' + pairs.size() % 26)), {}};
      pair.key += std::to_string(pairs.size());
      pair.key.resize(keyLength);
      pair.value.resize(size);
      for (uint8_t& b : pair.value) b = static_cast<uint8_t>(random());
      pairs.push_back(pair);
    }
  }
  plainCapacity_ = 4 << 20;
  build(pairs);
  AESCrypt crypter(kKey, 16, kIV, 16);
  readAndCheck(pairs, 0, crypter, 0, true);
}

// Pairs that all start on a block boundary, with keys long enough that the
// reader often needs the next chunk while reading one: the stream state of
// such a pair comes from the ciphertext block before it, which must not have
// been dropped with the chunk.
TEST_F(CryptReaderTest, FromAFileBlockAlignedPairsAcrossChunks) {
  // 4 bytes of holder + 28 of the first pair, then pairs of 2 + 3000 + 2 + 308.
  std::vector<Pair> pairs{{"f", std::vector<uint8_t>(25, 1)}};
  std::mt19937 random(11);
  for (int i = 0; i < 120; ++i) {
    Pair pair{std::string(3000, static_cast<char>('a' + i % 26)), std::vector<uint8_t>(308)};
    for (uint8_t& b : pair.value) b = static_cast<uint8_t>(random());
    pairs.push_back(pair);
  }
  build(pairs);
  AESCrypt crypter(kKey, 16, kIV, 16);
  readAndCheck(pairs, 0, crypter, 0, true);
}

// Streams of every length around the read-ahead and a block: the last
// decryption may be a single byte, and a region smaller than the read-ahead
// comes from a file in one read that ends exactly where it does.
TEST_F(CryptReaderTest, StreamsEndingAroundTheReadAheadReadBackFromMemoryAndFromAFile) {
  for (size_t total : {7, 16, 17, 33, 500, 511, 512, 513, 527, 528, 529, 1024, 1025}) {
    // The holder, pairs of 204 bytes, and one pair whose value pads to `total`.
    std::vector<Pair> pairs;
    size_t left = total - 4;
    while (left > 250) {
      pairs.push_back({"p" + std::to_string(pairs.size()), std::vector<uint8_t>(200, static_cast<uint8_t>(left))});
      left -= 3 + pairs.back().key.size() + 200;
    }
    Pair last{"z", {}};
    size_t valueSize = left - 3;
    if (valueSize >= 128) {
      valueSize = left - 4;  // a two-byte length
      if (valueSize < 128) last.key = "zz";
    }
    last.value.assign(valueSize, 0x5C);
    pairs.push_back(last);
    build(pairs);
    ASSERT_EQ(plain_.size(), total);
    AESCrypt fromMemory(kKey, 16, kIV, 16);
    readAndCheck(pairs, 0, fromMemory, 0);
    AESCrypt fromFile(kKey, 16, kIV, 16);
    readAndCheck(pairs, 0, fromFile, 0, true);
    ::close(fd_);
    fd_ = -1;
  }
}

// A read that fails says why: the file ended early, or the descriptor cannot
// be read at all.
TEST_F(CryptReaderTest, FileThatCannotBeReadIsAReadErrorSayingWhy) {
  build({{"key", std::vector<uint8_t>(100000, 7)}, {"next", std::vector<uint8_t>(40, 1)}});
  struct Row {
    const char* what;
    bool directory;
    std::string error;
  };
  const Row rows[] = {
      {"a file shorter than the region", false, "the file ends early"},
      {"a folder", true, std::strerror(EISDIR)},
  };
  for (const Row& row : rows) {
    int fd = -1;
    if (row.directory) {
      fd = ::open(::testing::TempDir().c_str(), O_RDONLY | O_DIRECTORY);
    } else {
      fd = cipherFile(cipher_.size() - 30);
      fd_ = -1;
    }
    ASSERT_GE(fd, 0) << row.what;
    AESCrypt crypter(kKey, 16, kIV, 16);
    std::string error;
    try {
      CodedInputDataCrypt input(cask::CipherText(fd, 4, cipher_.size()), crypter);
      (void)input.readRawVarint32();
      KeyValueHolderCrypt holder;
      (void)input.readPair(holder);
      (void)input.readPair(holder);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    ::close(fd);
    EXPECT_NE(error.find(row.error), std::string::npos) << row.what << ": " << error;
  }
}

TEST_F(CryptReaderTest, TruncatedStreamThrowsTheReachEndError) {
  build({{"key", std::vector<uint8_t>(40, 7)}});
  cipher_.resize(cipher_.size() - 5);
  AESCrypt crypter(kKey, 16, kIV, 16);
  CodedInputDataCrypt input(cipher_.data(), cipher_.size(), crypter);
  (void)input.readRawVarint32();
  KeyValueHolderCrypt holder;
  EXPECT_THROW((void)input.readPair(holder), std::out_of_range);
}

}  // namespace
