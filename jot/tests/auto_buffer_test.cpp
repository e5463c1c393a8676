#include "jot/auto_buffer.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(AutoBuffer, GrowsByUnitsAndZeroesNewBytes) {
  vela::comm::AutoBuffer buffer(128);
  std::vector<char> data(129, 'x');
  buffer.Write(data.data(), data.size());
  EXPECT_EQ(buffer.Capacity(), 256u);
  EXPECT_EQ(buffer.Length(), 129u);
  EXPECT_EQ(buffer.Pos(), 129u);
  const auto* bytes = static_cast<const unsigned char*>(buffer.Ptr());
  for (size_t i = 129; i < 256; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(AutoBuffer, AllocWriteKeepsThePosition) {
  vela::comm::AutoBuffer buffer;
  buffer.Write("ab", 2);
  buffer.AllocWrite(10);
  EXPECT_EQ(buffer.Length(), 12u);
  EXPECT_EQ(buffer.Pos(), 2u);
  buffer.AllocWrite(100, false);
  EXPECT_EQ(buffer.Length(), 12u);
  EXPECT_GE(buffer.Capacity(), 102u);
}

TEST(PtrBuffer, NeverWritesPastItsMaximum) {
  std::vector<char> memory(110, '#');
  vela::comm::PtrBuffer buffer(memory.data(), 0, 100);
  buffer.Length(95, 95);
  buffer.Write("0123456789", 10);
  EXPECT_EQ(buffer.Length(), 100u);
  EXPECT_EQ(buffer.Pos(), 100u);
  EXPECT_EQ(std::memcmp(memory.data() + 95, "01234", 5), 0);
  EXPECT_EQ(memory[100], '#');
}

TEST(PtrBuffer, PositionedWriteLeavesThePosition) {
  char memory[16] = {};
  vela::comm::PtrBuffer buffer(memory, 0, sizeof memory);
  buffer.Write("abcd", 4, 8);
  EXPECT_EQ(buffer.Pos(), 0u);
  EXPECT_EQ(buffer.Length(), 12u);
  EXPECT_EQ(std::memcmp(memory + 8, "abcd", 4), 0);
  // At the end nothing is copied but the length reaches it; past it, nothing.
  buffer.Write("ef", 2, 16);
  EXPECT_EQ(buffer.Length(), 16u);
  buffer.Length(0, 0);
  buffer.Write("ef", 2, 17);
  EXPECT_EQ(buffer.Length(), 0u);
}

}  // namespace
