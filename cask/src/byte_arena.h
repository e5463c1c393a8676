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
#include <memory>
#include <utility>
#include <vector>

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
      const size_t block = std::max(size, kBlockSize);
      blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(block));
      next_ = blocks_.back().get();
      left_ = block;
    }
    uint8_t* bytes = next_;
    next_ += size;
    left_ -= size;
    return bytes;
  }

  void clear() {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
  }

  void swap(ByteArena& other) noexcept {
    blocks_.swap(other.blocks_);
    std::swap(next_, other.next_);
    std::swap(left_, other.left_);
  }

 private:
  static constexpr size_t kBlockSize = 64 * 1024;

  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  uint8_t* next_ = nullptr;
  size_t left_ = 0;
};

}  // namespace cask
