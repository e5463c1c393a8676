#include "zeroed_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace cask {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMappedFrom = size_t{1} << 20;

size_t mappedLength(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* allocateZeroed(size_t bytes) {
  if (bytes < kMappedFrom) return std::calloc(1, bytes);
  const size_t length = mappedLength(bytes);
  // Over-map by one huge page and trim both ends to an aligned block.
  void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned != start) ::munmap(raw, aligned - start);
  const size_t tail = (start + length + kHugePage) - (aligned + length);
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
  auto* block = reinterpret_cast<void*>(aligned);
  // Only advice: without huge pages the block works the same.
  ::madvise(block, length, MADV_HUGEPAGE);
  return block;
}

void freeZeroed(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kMappedFrom) {
    std::free(block);
  } else {
    ::munmap(block, mappedLength(bytes));
  }
}

}  // namespace cask
