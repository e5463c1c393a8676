#include "large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace cask {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMappedFrom = size_t{1} << 20;
// Freed mappings kept for the next load of the same size (a store closed
// and opened again): reusing one costs a memset, a new one its faults.
constexpr size_t kKeptLimit = size_t{32} << 20;

size_t mappedLength(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

struct KeptMappings {
  // Room for every block the limit allows, so keeping one never allocates:
  // frees run in destructors, where a throw would end the process.
  KeptMappings() { blocks.reserve(kKeptLimit / kHugePage); }
  std::mutex mutex;
  std::vector<std::pair<void*, size_t>> blocks;  // address, mapped length
  size_t total = 0;
};

KeptMappings& kept() {
  static auto* mappings = new KeptMappings();  // never destroyed: frees may run at exit
  return *mappings;
}

void* takeKept(size_t length) {
  KeptMappings& k = kept();
  std::lock_guard<std::mutex> lock(k.mutex);
  for (auto it = k.blocks.begin(); it != k.blocks.end(); ++it) {
    if (it->second != length) continue;
    void* block = it->first;
    k.total -= length;
    k.blocks.erase(it);
    return block;
  }
  return nullptr;
}

void* mapBlock(size_t length) {
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

void* allocate(size_t bytes, bool zeroed) {
  if (bytes < kMappedFrom) return zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
  const size_t length = mappedLength(bytes);
  if (void* block = takeKept(length)) {
    if (zeroed) std::memset(block, 0, bytes);
    return block;
  }
  return mapBlock(length);  // fresh pages are zero
}

}  // namespace

void* allocateZeroed(size_t bytes) { return allocate(bytes, true); }

void* allocateBlock(size_t bytes) { return allocate(bytes, false); }

void freeBlock(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kMappedFrom) {
    std::free(block);
    return;
  }
  const size_t length = mappedLength(bytes);
  {
    KeptMappings& k = kept();
    std::lock_guard<std::mutex> lock(k.mutex);
    if (k.total + length <= kKeptLimit) {
      k.blocks.emplace_back(block, length);
      k.total += length;
      return;
    }
  }
  ::munmap(block, length);
}

}  // namespace cask
