#include "coded_data.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

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
}

TEST(CodedData, KeysComeAsStoredAndUtf8IsCheckedStrictly) {
  const uint8_t bad[] = {0x02, 0xc3, 0x28, 0x00};
  cask::KeyValueHolder holder;
  EXPECT_EQ(CodedInputData(bad, sizeof bad).readString(holder), "\xc3\x28");
  EXPECT_EQ(holder.keySize, 2u);
  EXPECT_TRUE(cask::isValidUtf8({reinterpret_cast<const uint8_t*>("\xe4\xbd\xa0\xe5\xa5\xbd"), 6}));
  EXPECT_FALSE(cask::isValidUtf8({reinterpret_cast<const uint8_t*>("\xed\xa0\x80"), 3}));  // surrogate
}

}  // namespace
