#pragma once
// The plain store's index: an open-addressing hash table (linear probing) of
// 8-byte slots, each holding 32 bits of a key's hash and the content offset
// of the key's live pair. Neither keys nor sizes are copied: they are read
// from the pair itself, in the content the caller passes (the mapped data
// file). A load therefore allocates one zero-filled block of about 11 bytes
// per key and writes nothing else, and a hit reads one slot and the pair.
// A free slot has offset 0, where the item-size holder lies and no pair
// starts. Erasing shifts the following slots back, so there are no
// tombstones. Not thread-safe.
//
//   PairIndex index;
//   index.assign(key, keyHash(key), offset, content);
//   if (const auto pair = index.find(key, content)) use(pair->value);
//   index.forEachOffset([](uint32_t& offset) { ... });  // live pairs, in no order
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "key_hash.h"
#include "large_block.h"

namespace cask {

// One pair of the content, read where it lies.
struct PairView {
  uint32_t offset = 0;      // of its key-length varint
  uint32_t headerSize = 0;  // key-length varint + key + value-length varint
  std::string_view key;
  std::span<const uint8_t> value;

  [[nodiscard]] uint32_t size() const { return headerSize + static_cast<uint32_t>(value.size()); }
  [[nodiscard]] uint32_t end() const { return offset + size(); }
};

namespace detail {
// A varint32 length at `p`, before `end`.
inline bool readPairLength(const uint8_t*& p, const uint8_t* end, uint32_t& length) {
  uint32_t result = 0;
  for (int shift = 0; shift < 35 && p < end; shift += 7) {
    const uint8_t byte = *p++;
    result |= static_cast<uint32_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) {
      length = result;
      return true;
    }
  }
  return false;
}
}  // namespace detail

// The pair at `offset` of `content`; nothing when its lengths run past the end.
[[nodiscard]] inline std::optional<PairView> pairAt(std::span<const uint8_t> content, uint32_t offset) {
  if (offset >= content.size()) return std::nullopt;
  const uint8_t* const begin = content.data() + offset;
  const uint8_t* const end = content.data() + content.size();
  const uint8_t* p = begin;
  uint32_t keyLength = 0;
  uint32_t valueLength = 0;
  if (!detail::readPairLength(p, end, keyLength) || keyLength > static_cast<size_t>(end - p)) return std::nullopt;
  const std::string_view key(reinterpret_cast<const char*>(p), keyLength);
  p += keyLength;
  if (!detail::readPairLength(p, end, valueLength) || valueLength > static_cast<size_t>(end - p)) {
    return std::nullopt;
  }
  return PairView{offset, static_cast<uint32_t>(p - begin), key, {p, valueLength}};
}

class PairIndex {
 public:
  PairIndex() = default;
  PairIndex(const PairIndex&) = delete;
  PairIndex& operator=(const PairIndex&) = delete;

  [[nodiscard]] size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  // The live pair of `key`.
  [[nodiscard]] std::optional<PairView> find(std::string_view key, std::span<const uint8_t> content) const {
    const size_t at = locate(key, keyHash(key), content);
    return at == kNone ? std::nullopt : pairAt(content, slots_[at].offset);
  }
  [[nodiscard]] bool contains(std::string_view key, std::span<const uint8_t> content) const {
    return locate(key, keyHash(key), content) != kNone;
  }

  // The pair at `offset` (non-zero) is now `key`'s live one; `hash` is
  // keyHash(key).
  void assign(std::string_view key, uint32_t hash, uint32_t offset, std::span<const uint8_t> content) {
    assignWith([&] { return key; }, hash, offset, content);
  }
  // The same with the key read from the pair at `offset` in `content`, only
  // where hashes meet: a loader that no longer holds the key's bytes.
  void assignAt(uint32_t hash, uint32_t offset, std::span<const uint8_t> content) {
    assignWith([&] { return keyAt(content, offset); }, hash, offset, content);
  }

  size_t erase(std::string_view key, std::span<const uint8_t> content) { return erase(key, keyHash(key), content); }
  size_t erase(std::string_view key, uint32_t hash, std::span<const uint8_t> content) {
    return eraseSlot(locate(key, hash, content));
  }
  // Erases the key of the pair at `offset` in `content` (a removal pair).
  size_t eraseAt(uint32_t hash, uint32_t offset, std::span<const uint8_t> content) {
    return eraseSlot(locate(keyAt(content, offset), hash, content));
  }

  // Room for `count` keys without growing.
  void reserve(size_t count) {
    if (count * 8 > capacity_ * 7) grow(count);
  }
  void clear() {
    slots_.reset();
    capacity_ = 0;
    size_ = 0;
  }
  void swap(PairIndex& other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(capacity_, other.capacity_);
    std::swap(size_, other.size_);
  }

  // A loader hashes keys as it reads them and loads their slot's line early.
  void prefetchSlot(uint32_t hash) const {
    if (capacity_ != 0) loadAhead(&slots_[hash & mask()]);
  }

  // Calls `visit(uint32_t& offset)` for every live pair; `visit` may move a
  // pair and change its offset (never to 0), and must not add or erase.
  template <typename Visit>
  void forEachOffset(Visit&& visit) {
    for (size_t at = 0; at < capacity_; ++at) {
      if (slots_[at].offset != 0) visit(slots_[at].offset);
    }
  }
  template <typename Visit>
  void forEachOffset(Visit&& visit) const {
    for (size_t at = 0; at < capacity_; ++at) {
      if (slots_[at].offset != 0) visit(slots_[at].offset);
    }
  }

 private:
  struct Slot {
    uint32_t hash;
    uint32_t offset;  // 0: free
  };
  static constexpr size_t kNone = ~size_t{0};

  static std::string_view keyAt(std::span<const uint8_t> content, uint32_t offset) {
    const auto pair = pairAt(content, offset);
    return pair ? pair->key : std::string_view();
  }
  [[nodiscard]] size_t mask() const { return capacity_ - 1; }

  template <typename Key>
  void assignWith(Key&& key, uint32_t hash, uint32_t offset, std::span<const uint8_t> content) {
    if ((size_ + 1) * 8 > capacity_ * 7) grow(size_ + 1);
    size_t at = hash & mask();
    for (; slots_[at].offset != 0; at = (at + 1) & mask()) {
      if (slots_[at].hash == hash && keyAt(content, slots_[at].offset) == key()) {
        slots_[at].offset = offset;
        return;
      }
    }
    slots_[at] = {hash, offset};
    ++size_;
  }

  size_t eraseSlot(size_t hole) {
    if (hole == kNone) return 0;
    slots_[hole].offset = 0;
    --size_;
    // Pull back every slot of the run after the hole whose home does not lie
    // between the hole and itself.
    for (size_t next = (hole + 1) & mask(); slots_[next].offset != 0; next = (next + 1) & mask()) {
      const size_t home = slots_[next].hash & mask();
      if (((next - home) & mask()) >= ((next - hole) & mask())) {
        slots_[hole] = slots_[next];
        slots_[next].offset = 0;
        hole = next;
      }
    }
    return 1;
  }

  [[nodiscard]] size_t locate(std::string_view key, uint32_t hash, std::span<const uint8_t> content) const {
    if (capacity_ == 0) return kNone;
    for (size_t at = hash & mask(); slots_[at].offset != 0; at = (at + 1) & mask()) {
      if (slots_[at].hash == hash && keyAt(content, slots_[at].offset) == key) return at;
    }
    return kNone;
  }

  // Slots only: the hashes they keep place them in the larger table.
  void grow(size_t count) {
    size_t capacity = 16;
    while (count * 8 > capacity * 7) capacity *= 2;
    // Zero-filled by the allocator: large blocks come as fresh zero pages,
    // touched only where slots land.
    ZeroedArray<Slot> slots = makeZeroedArray<Slot>(capacity);
    const size_t newMask = capacity - 1;
    for (size_t at = 0; at < capacity_; ++at) {
      const Slot slot = slots_[at];
      if (slot.offset == 0) continue;
      size_t to = slot.hash & newMask;
      while (slots[to].offset != 0) to = (to + 1) & newMask;
      slots[to] = slot;
    }
    slots_ = std::move(slots);
    capacity_ = capacity;
  }

  ZeroedArray<Slot> slots_;
  size_t capacity_ = 0;  // a power of two, or 0
  size_t size_ = 0;
};

}  // namespace cask
