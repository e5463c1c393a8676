// The decrypting reader against the plain bytes it must reproduce: pairs of
// every size around the window's and the offset form's limits, read from a
// stream start and from the middle, leave the crypter where the writer's was.
#include "coded_input_crypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "aes_crypt.h"
#include "coded_data.h"

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
    plain_.assign(1 << 20, 0);
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

  // Reads pairs from `from` to the end and checks each against `pairs`.
  void readAndCheck(const std::vector<Pair>& pairs, size_t firstPair, AESCrypt& crypter, size_t from) {
    CodedInputDataCrypt input(cipher_.data(), cipher_.size(), crypter);
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
    AESCryptStatus end;
    crypter.getCurStatus(end);
    EXPECT_EQ(end.m_number, atEnd_.m_number);
    EXPECT_EQ(std::memcmp(end.m_register, atEnd_.m_register, 16), 0);
  }

  static constexpr char kKey[] = "reader-key-16byt";
  static constexpr char kIV[] = "reader-iv-16byte";
  std::vector<uint8_t> plain_;
  std::vector<uint8_t> cipher_;
  size_t tailStart_ = 0;
  AESCryptStatus atTail_;
  AESCryptStatus atEnd_;
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
