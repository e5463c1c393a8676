#pragma once
// Blocks for large tables. A block of 1 MiB or more gets its own mapping,
// 2 MiB aligned and marked for transparent huge pages: where the host backs
// memory page by page on first touch (virtual machines), a table touched at
// random places costs one such fault per 2 MiB instead of one per 4 KiB.
// Freed mappings (up to 32 MiB) are kept for the next load of the same
// size. Smaller blocks come from malloc. Thread-safe.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace cask {

// Null when memory runs out. Free either with freeBlock and the same size.
[[nodiscard]] void* allocateZeroed(size_t bytes);
[[nodiscard]] void* allocateBlock(size_t bytes);  // contents undefined
void freeBlock(void* block, size_t bytes);

// An array of `count` zero-filled T (T trivial); throws std::bad_alloc.
template <typename T>
struct ZeroedArrayFree {
  size_t bytes;  // value-initialised (0) with no array
  void operator()(T* array) const { freeBlock(array, bytes); }
};
template <typename T>
using ZeroedArray = std::unique_ptr<T[], ZeroedArrayFree<T>>;
template <typename T>
[[nodiscard]] ZeroedArray<T> makeZeroedArray(size_t count) {
  const size_t bytes = count * sizeof(T);
  ZeroedArray<T> array(static_cast<T*>(allocateZeroed(bytes)), ZeroedArrayFree<T>{bytes});
  if (!array) throw std::bad_alloc();
  return array;
}

// allocateBlock as an allocator, for vectors that grow large.
template <typename T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <typename U>
  BlockAllocator(const BlockAllocator<U>& /*other*/) {}  // NOLINT: converting, as allocators do
  [[nodiscard]] T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    void* block = allocateBlock(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t n) { freeBlock(block, n * sizeof(T)); }
  friend bool operator==(const BlockAllocator&, const BlockAllocator&) { return true; }
};

}  // namespace cask
