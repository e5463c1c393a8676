#include "coded_data.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using cask::CodedInputData;
using cask::CodedOutputData;

template <typename Exception>
std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

TEST(CodedData, VarintSizesStepEverySevenBits) {
  const std::vector<std::pair<uint64_t, uint32_t>> table = {
      {0, 1}, {127, 1}, {128, 2}, {16383, 2}, {16384, 3}, {(1u << 21) - 1, 3}, {1u << 21, 4},
      {(1u << 28) - 1, 4}, {1u << 28, 5}, {0xffffffffu, 5}, {1ull << 35, 6}, {1ull << 63, 10}};
  for (const auto& [value, size] : table) {
    EXPECT_EQ(cask::pbUInt64Size(value), size) << value;
    if (value <= 0xffffffffu) {
      EXPECT_EQ(cask::pbRawVarint32Size(static_cast<uint32_t>(value)), size) << value;
    }
  }
  EXPECT_EQ(cask::pbInt32Size(-1), 10u);
}

TEST(CodedData, ScalarsRoundTrip) {
  uint8_t buffer[64];
  CodedOutputData out(buffer, sizeof buffer);
  out.writeInt32(-1);
  out.writeUInt32(300);
  out.writeInt64(-5);
  out.writeUInt64(1ull << 62);
  out.writeBool(true);
  out.writeFloat(1.5f);
  out.writeDouble(-2.25);
  CodedInputData in(buffer, out.position());
  EXPECT_EQ(in.readInt32(), -1);
  EXPECT_EQ(in.readUInt32(), 300u);
  EXPECT_EQ(in.readInt64(), -5);
  EXPECT_EQ(in.readUInt64(), 1ull << 62);
  EXPECT_TRUE(in.readBool());
  EXPECT_EQ(in.readFloat(), 1.5f);
  EXPECT_EQ(in.readDouble(), -2.25);
  EXPECT_TRUE(in.isAtEnd());
}

TEST(CodedData, NegativeInt32TakesTenBytesAndReadsBackAsAllOnes) {
  uint8_t buffer[10];
  CodedOutputData out(buffer, sizeof buffer);
  out.writeInt32(-1);
  EXPECT_EQ(out.position(), 10u);
  EXPECT_EQ(buffer[9], 0x01);
  CodedInputData in(buffer, sizeof buffer);
  EXPECT_EQ(static_cast<uint32_t>(in.readRawVarint32()), 0xffffffffu);
  EXPECT_TRUE(in.isAtEnd());
}

TEST(CodedData, MalformedInputThrowsTheFixedTexts) {
  const uint8_t empty[1] = {};
  EXPECT_EQ(errorOf<std::out_of_range>([&] { (void)CodedInputData(empty, 0).readRawByte(); }),
            "reach end, m_position: 0, m_size: 0");
  const uint8_t eleven[11] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
  EXPECT_EQ(errorOf<std::invalid_argument>([&] { (void)CodedInputData(eleven, 11).readRawVarint32(); }),
            "InvalidProtocolBuffer malformed varint32");
  EXPECT_EQ(errorOf<std::invalid_argument>([&] { (void)CodedInputData(eleven, 11).readRawVarint64(); }),
            "InvalidProtocolBuffer malformedInt64");
  const uint8_t negative[] = {0x80, 0x80, 0x80, 0x80, 0x08};  // 0x80000000
  EXPECT_EQ(errorOf<std::length_error>([&] { (void)CodedInputData(negative, 5).readString(); }),
            "InvalidProtocolBuffer negativeSize");
  const uint8_t truncated[] = {0x05, 'a', 'b'};
  EXPECT_EQ(errorOf<std::out_of_range>([&] { (void)CodedInputData(truncated, 3).readString(); }),
            "InvalidProtocolBuffer truncatedMessage");
  EXPECT_EQ(errorOf<std::out_of_range>([&] { CodedInputData(truncated, 3).seek(4); }), "OutOfSpace");
}

TEST(CodedData, WriterRefusesToOverrunAndWritesNothing) {
  uint8_t buffer[4] = {};
  CodedOutputData out(buffer, sizeof buffer);
  out.writeRawByte(7);
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(errorOf<std::out_of_range>([&] { out.writeRawData(five); }),
            "m_position: 1, numberOfBytes: 5, m_size: 4");
  EXPECT_EQ(out.position(), 1u);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(out.spaceLeft(), 3u);
  out.setPosition(4);
  EXPECT_EQ(out.spaceLeft(), 0u);
  EXPECT_EQ(errorOf<std::out_of_range>([&] { out.setPosition(5); }), "OutOfSpace");
  EXPECT_EQ(out.position(), 4u);
}

// A key's size and the pair's computed size must fit the index's 16 bits:
// a longer key is refused, never recorded cut short.
TEST(CodedData, KeysComeAsStoredUpToTheLongestAPairCanIndex) {
  const uint8_t bad[] = {0x02, 0xc3, 0x28, 0x00};
  cask::KeyValueHolder holder;
  EXPECT_EQ(CodedInputData(bad, sizeof bad).readString(holder), "\xc3\x28");
  EXPECT_EQ(holder.keySize, 2u);

  // A pair of an n-byte key and an empty value.
  const auto pairWithKey = [](uint32_t n) {
    std::vector<uint8_t> pair(3 + n + 1, 'k');
    CodedOutputData(pair.data(), 3).writeUInt32(n);
    pair.back() = 0;
    return pair;
  };
  const std::vector<uint8_t> longest = pairWithKey(0xfffb);
  CodedInputData in(longest);
  EXPECT_EQ(in.readString(holder).size(), 0xfffbu);
  in.readData(holder);
  EXPECT_EQ(holder.computedKVSize, 0xffffu);
  const std::vector<uint8_t> over = pairWithKey(0xfffc);  // computed size 0x10000
  CodedInputData overIn(over);
  (void)overIn.readString(holder);
  EXPECT_EQ(errorOf<std::length_error>([&] { overIn.readData(holder); }),
            "InvalidProtocolBuffer key too long");
  const std::vector<uint8_t> widest = pairWithKey(0xffff);  // a key fits, its pair does not
  CodedInputData widestIn(widest);
  EXPECT_EQ(widestIn.readString(holder).size(), 0xffffu);
  EXPECT_EQ(holder.keySize, 0xffffu);
  const std::vector<uint8_t> wide = pairWithKey(0x10000);  // key size past 16 bits
  EXPECT_EQ(errorOf<std::length_error>([&] { (void)CodedInputData(wide).readString(holder); }),
            "InvalidProtocolBuffer key too long");
}

// Bytes against unreadable pages: reading one byte before or after them faults.
class FencedBytes {
 public:
  FencedBytes() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void* map = mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<uint8_t*>(map);
    if (mprotect(base_ + page_, page_, PROT_READ | PROT_WRITE) != 0)
      throw std::runtime_error("mprotect failed");
  }
  ~FencedBytes() { munmap(base_, 3 * page_); }
  FencedBytes(const FencedBytes&) = delete;
  FencedBytes& operator=(const FencedBytes&) = delete;

  std::span<const uint8_t> first(std::string_view bytes) { return place(base_ + page_, bytes); }
  std::span<const uint8_t> last(std::string_view bytes) {
    return place(base_ + 2 * page_ - bytes.size(), bytes);
  }

 private:
  static std::span<const uint8_t> place(uint8_t* at, std::string_view bytes) {
    std::memcpy(at, bytes.data(), bytes.size());
    return {at, bytes.size()};
  }
  size_t page_;
  uint8_t* base_;
};

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above
// U+10FFFF; and no byte outside the key is read, whatever its length.
TEST(CodedData, Utf8IsCheckedStrictlyWithinTheKey) {
  std::vector<std::pair<std::string, bool>> rows = {
      {"\xc3\xa9", true},          {"\xe4\xbd\xa0\xe5\xa5\xbd", true},
      {"\xc0\xaf", false},         {"\xe0\x80\xaf", false},
      {"\xf0\x80\x80\xaf", false}, {"\xed\x9f\xbf", true},
      {"\xed\xa0\x80", false},     {"\xed\xbf\xbf", false},
      {"\xee\x80\x80", true},      {"\xf4\x8f\xbf\xbf", true},
      {"\xf4\x90\x80\x80", false}, {"\xe4\xbd", false},
      {"\xc3\x28", false},         {"\xff", false},
      {"abcdefgh\xc3\xa9", true},  {"abcdefghi\xed\xbf\xbf", false},
  };
  for (size_t n = 0; n <= 17; ++n) rows.emplace_back(std::string(n, 'k'), true);
  FencedBytes fenced;
  for (const auto& [bytes, valid] : rows) {
    EXPECT_EQ(cask::isValidUtf8(fenced.first(bytes)), valid) << bytes.size() << " bytes: " << bytes;
    EXPECT_EQ(cask::isValidUtf8(fenced.last(bytes)), valid) << bytes.size() << " bytes: " << bytes;
  }
}

}  // namespace
