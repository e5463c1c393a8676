// Buffers and the encrypted index's entries: which form each size takes,
// and that moving one keeps its bytes and leaves nothing behind to free twice.
#include "rv_buffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "aes_crypt.h"
#include "coded_data.h"
#include "coded_input_crypt.h"

namespace {

using cask::KeyValueHolderCrypt;
using cask::RvBuffer;

std::vector<uint8_t> sequence(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), uint8_t{1});
  return bytes;
}

TEST(RvBufferTest, OwnedBytesUnderTwentyFiveStayInline) {
  for (const size_t size : {size_t{0}, size_t{1}, size_t{24}, size_t{25}, size_t{300}}) {
    const auto bytes = sequence(size);
    RvBuffer copy(bytes.data(), size, cask::RvBufferCopy);
    EXPECT_EQ(copy.isInline(), size < 25) << size;
    EXPECT_EQ(std::vector<uint8_t>(copy.span().begin(), copy.span().end()), bytes) << size;
    RvBuffer zeroed(size);
    EXPECT_EQ(zeroed.isInline(), size < 25) << size;
    for (const uint8_t b : zeroed.span()) ASSERT_EQ(b, 0);
  }
}

TEST(RvBufferTest, ViewsBorrowAndMovesTransferOwnership) {
  const auto bytes = sequence(100);
  RvBuffer view(bytes.data(), bytes.size(), cask::RvBufferNoCopy);
  EXPECT_EQ(view.data(), bytes.data());
  for (const size_t size : {size_t{10}, size_t{100}}) {
    RvBuffer owned(bytes.data(), size, cask::RvBufferCopy);
    RvBuffer moved(std::move(owned));
    EXPECT_TRUE(owned.empty());
    EXPECT_EQ(std::vector<uint8_t>(moved.span().begin(), moved.span().end()), sequence(size));
    RvBuffer other(bytes.data() + 50, 5, cask::RvBufferCopy);
    other = std::move(moved);
    EXPECT_EQ(other.length(), size);
    EXPECT_EQ(other.data()[size - 1], bytes[size - 1]);
  }
  // Two inline buffers swap their contents.
  RvBuffer a(bytes.data(), 3, cask::RvBufferCopy);
  RvBuffer b(bytes.data() + 10, 4, cask::RvBufferCopy);
  a = std::move(b);
  EXPECT_EQ(a.length(), 4u);
  EXPECT_EQ(a.data()[0], bytes[10]);
}

TEST(KeyValueHolderCryptTest, FormsFollowTheValueSize) {
  for (const size_t size : {size_t{0}, size_t{27}, size_t{28}, size_t{255}}) {
    const auto bytes = sequence(size);
    KeyValueHolderCrypt holder = KeyValueHolderCrypt::inMemory(bytes);
    EXPECT_EQ(holder.type(), size < 28 ? KeyValueHolderCrypt::Type::Stored : KeyValueHolderCrypt::Type::Memory);
    KeyValueHolderCrypt moved(std::move(holder));
    EXPECT_EQ(holder.realValueSize(), 0u);
    EXPECT_EQ(moved.realValueSize(), size);
    cask::AESCrypt crypter("k", 1);
    const RvBuffer value = moved.toRvBuffer(nullptr, crypter);
    EXPECT_EQ(std::vector<uint8_t>(value.span().begin(), value.span().end()), bytes) << size;
  }
  const KeyValueHolderCrypt offset = KeyValueHolderCrypt::offsetForm(3, 256, 40, cask::AESCryptStatus{});
  EXPECT_TRUE(offset.isOffset());
  EXPECT_EQ(offset.realValueSize(), 256u);
  EXPECT_EQ(offset.pairSize(), 1u + 3 + 2 + 256);
  EXPECT_EQ(offset.offset(), 40u);
}

}  // namespace
