#pragma once
// The encrypted store's in-memory index: a hash map from key to entry (the
// plain store's is pair_index.h, which keeps no keys). The entries lie
// densely in one vector in insertion order; a separate table of 8-byte slots
// (32 bits of the key's hash, the entry's number) finds them by open
// addressing with linear probing. Building it from a file therefore writes
// the entries one after another and only small slots at random places,
// allocates nothing per key beyond keys too long for std::string's inline
// buffer, and dropping it frees two blocks. Erasing moves the last entry into
// the hole and shifts the following slots back, so there are no tombstones.
// Not thread-safe.
//
//   FlatIndex<KeyValueHolderCrypt> index;
//   index.insert_or_assign("launches", std::move(holder));
//   if (const KeyValueHolderCrypt* found = index.find("launches")) ...
//   for (auto& [key, holder] : index) ...
//
// Pointers and iterators are invalidated by every insertion and erasure.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_arena.h"
#include "key_hash.h"
#include "large_block.h"

namespace cask {

template <typename Value>
class FlatIndex {
 public:
  using value_type = std::pair<std::string, Value>;
  using Entries = std::vector<value_type, BlockAllocator<value_type>>;
  using iterator = typename Entries::iterator;
  using const_iterator = typename Entries::const_iterator;

  FlatIndex() = default;
  FlatIndex(const FlatIndex&) = delete;
  FlatIndex& operator=(const FlatIndex&) = delete;
  FlatIndex(FlatIndex&& other) noexcept { swap(other); }
  FlatIndex& operator=(FlatIndex&& other) noexcept {
    FlatIndex(std::move(other)).swap(*this);
    return *this;
  }

  [[nodiscard]] size_t size() const { return entries_.size(); }
  [[nodiscard]] bool empty() const { return entries_.empty(); }

  [[nodiscard]] Value* find(std::string_view key) {
    const size_t at = locate(key, hashOf(key));
    return at == kNone ? nullptr : &entries_[slots_[at].entry].second;
  }
  [[nodiscard]] const Value* find(std::string_view key) const { return const_cast<FlatIndex*>(this)->find(key); }
  [[nodiscard]] bool contains(std::string_view key) const { return find(key) != nullptr; }

  template <typename V>
  void insert_or_assign(std::string&& key, V&& value) {
    insert_or_assign(std::move(key), hashOf(key), std::forward<V>(value));
  }
  // With `hash` = hashOf(key), as a loader that prefetched the slot has it.
  template <typename V>
  void insert_or_assign(std::string&& key, uint32_t hash, V&& value) {
    if ((entries_.size() + 1) * 8 > capacity() * 7) grow(entries_.size() + 1);
    // One walk finds the key or the empty slot that ends its run.
    size_t at = hash & mask();
    for (; slots_[at].entry != kEmpty; at = (at + 1) & mask()) {
      if (slots_[at].hash == hash && entries_[slots_[at].entry].first == key) {
        entries_[slots_[at].entry].second = std::forward<V>(value);
        return;
      }
    }
    entries_.emplace_back(std::move(key), std::forward<V>(value));
    slots_[at].hash = hash;
    slots_[at].entry = static_cast<uint32_t>(entries_.size() - 1);
  }
  template <typename V>
  void insert_or_assign(std::string_view key, V&& value) {
    insert_or_assign(std::string(key), std::forward<V>(value));
  }

  size_t erase(std::string_view key) { return erase(key, hashOf(key)); }
  size_t erase(std::string_view key, uint32_t hash) {
    size_t hole = locate(key, hash);
    if (hole == kNone) return 0;
    const uint32_t removed = slots_[hole].entry;
    // The last entry takes the removed one's place.
    const auto last = static_cast<uint32_t>(entries_.size() - 1);
    if (removed != last) {
      const uint32_t lastHash = hashOf(entries_[last].first);
      size_t at = lastHash & mask();
      while (slots_[at].entry != last) at = (at + 1) & mask();
      slots_[at].entry = removed;
      entries_[removed] = std::move(entries_[last]);
    }
    entries_.pop_back();
    slots_[hole].entry = kEmpty;
    // Pull back every slot of the run after the hole whose home does not lie
    // between the hole and itself.
    for (size_t next = (hole + 1) & mask(); slots_[next].entry != kEmpty; next = (next + 1) & mask()) {
      const size_t home = slots_[next].hash & mask();
      if (((next - home) & mask()) >= ((next - hole) & mask())) {
        slots_[hole] = slots_[next];
        slots_[next].entry = kEmpty;
        hole = next;
      }
    }
    return 1;
  }

  static uint32_t hashOf(std::string_view key) { return keyHash(key); }

  // A loader hashes each key a few pairs ahead and loads its slot's line
  // early, so inserting in file order does not wait on one miss per key.
  void prefetchSlot(uint32_t hash) const {
    if (capacity_ != 0) loadAhead(&slots_[hash & mask()]);
  }

  // Bytes that live as long as the index's entries (until clear()): a
  // loader puts the values it decodes here instead of allocating each.
  [[nodiscard]] ByteArena& arena() { return arena_; }

  void clear() {
    Entries().swap(entries_);
    slots_.reset();
    capacity_ = 0;
    arena_.clear();
  }

  // Room for `count` entries without growing; an estimate may run short by
  // a quarter before the entries move (the room beyond count is only
  // address space until used).
  void reserve(size_t count) {
    entries_.reserve(count + count / 4);
    if (count * 8 > capacity() * 7) grow(count);
  }

  void swap(FlatIndex& other) noexcept {
    entries_.swap(other.entries_);
    arena_.swap(other.arena_);
    std::swap(slots_, other.slots_);
    std::swap(capacity_, other.capacity_);
  }

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  static constexpr uint32_t kEmpty = ~uint32_t{0};
  static constexpr size_t kNone = ~size_t{0};
  struct Slot {
    uint32_t hash;
    uint32_t entry;  // kEmpty: free
  };

  [[nodiscard]] size_t capacity() const { return capacity_; }
  [[nodiscard]] size_t mask() const { return capacity_ - 1; }

  [[nodiscard]] size_t locate(std::string_view key, uint32_t hash) const {
    if (capacity_ == 0) return kNone;
    for (size_t at = hash & mask();; at = (at + 1) & mask()) {
      const Slot& slot = slots_[at];
      if (slot.entry == kEmpty) return kNone;
      if (slot.hash == hash && entries_[slot.entry].first == key) return at;
    }
  }

  // Slots only: the entries stay where they are.
  void grow(size_t count) {
    size_t capacity = 16;
    while (count * 8 > capacity * 7) capacity *= 2;
    ZeroedArray<Slot> slots = makeZeroedArray<Slot>(capacity);
    std::memset(slots.get(), 0xff, capacity * sizeof(Slot));  // all kEmpty
    const size_t newMask = capacity - 1;
    for (size_t at = 0; at < capacity_; ++at) {
      const Slot slot = slots_[at];
      if (slot.entry == kEmpty) continue;
      size_t to = slot.hash & newMask;
      while (slots[to].entry != kEmpty) to = (to + 1) & newMask;
      slots[to] = slot;
    }
    slots_ = std::move(slots);
    capacity_ = capacity;
  }

  ByteArena arena_;  // before entries_: destroyed after them
  Entries entries_;
  ZeroedArray<Slot> slots_;
  size_t capacity_ = 0;  // slots: a power of two, or 0
};

}  // namespace cask
