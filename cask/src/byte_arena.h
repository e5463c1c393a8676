#pragma once
// Bytes handed out from large blocks and freed all at once with the arena:
// for the many small values a load decodes, which live exactly as long as
// the index that holds them. Pointers stay valid until clear() or
// destruction; moving or swapping arenas keeps them valid too. Not
// thread-safe.
//
//   ByteArena arena;
//   uint8_t* bytes = arena.allocate(33);
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "large_block.h"

namespace cask {

class ByteArena {
 public:
  ByteArena() = default;
  ByteArena(const ByteArena&) = delete;
  ByteArena& operator=(const ByteArena&) = delete;
  ByteArena(ByteArena&& other) noexcept { swap(other); }
  ByteArena& operator=(ByteArena&& other) noexcept {
    ByteArena(std::move(other)).swap(*this);
    return *this;
  }

  // Throws std::bad_alloc when memory runs out.
  [[nodiscard]] uint8_t* allocate(size_t size) {
    if (size > left_) {
      // Blocks double from 64 KiB, then jump to the size that maps huge
      // pages: a small store takes little, a large load few blocks.
      nextBlockSize_ = nextBlockSize_ * 2 > kMaxDoubledSize ? kMaxBlockSize : nextBlockSize_ * 2;
      const size_t block = std::max(size, nextBlockSize_);
      blocks_.reserve(blocks_.size() + 1);  // so that the push below cannot throw
      auto* bytes = static_cast<uint8_t*>(allocateBlock(block));
      if (bytes == nullptr) throw std::bad_alloc();
      blocks_.push_back({bytes, block});
      next_ = bytes;
      left_ = block;
    }
    uint8_t* bytes = next_;
    next_ += size;
    left_ -= size;
    return bytes;
  }

  // About `bytes` will follow (a load knows its content's size): from 1 MiB
  // on, blocks start at the huge-page size instead of doubling from 64 KiB,
  // whose fresh pages each cost a fault.
  void expect(size_t bytes) {
    if (bytes >= kMappedFrom && nextBlockSize_ < kMaxDoubledSize) nextBlockSize_ = kMaxDoubledSize;
  }

  ~ByteArena() { clear(); }

  void clear() {
    for (const auto& [bytes, size] : blocks_) freeBlock(bytes, size);
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
    nextBlockSize_ = kMinBlockSize / 2;
  }

  void swap(ByteArena& other) noexcept {
    blocks_.swap(other.blocks_);
    std::swap(next_, other.next_);
    std::swap(left_, other.left_);
    std::swap(nextBlockSize_, other.nextBlockSize_);
  }

 private:
  static constexpr size_t kMinBlockSize = 64 * 1024;
  static constexpr size_t kMaxDoubledSize = 256 * 1024;
  static constexpr size_t kMaxBlockSize = 2 * 1024 * 1024;
  static constexpr size_t kMappedFrom = 1024 * 1024;

  std::vector<std::pair<uint8_t*, size_t>> blocks_;
  uint8_t* next_ = nullptr;
  size_t left_ = 0;
  size_t nextBlockSize_ = kMinBlockSize / 2;
};

}  // namespace cask
