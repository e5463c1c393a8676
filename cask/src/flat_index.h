#pragma once
// The store's in-memory index: a hash map from key to entry kept flat in one
// array (open addressing, linear probing), so that building it from a file
// allocates nothing per key beyond keys too long for std::string's inline
// buffer, and dropping it frees one block. One control byte per slot (0:
// empty, else 0x80 | 7 bits of the hash) keeps probing within a few cache
// lines; erasing shifts the following entries back, so there are no
// tombstones. Not thread-safe.
//
//   FlatIndex<KeyValueHolder> index;
//   index.insert_or_assign("launches", holder);
//   if (const KeyValueHolder* found = index.find("launches")) ...
//   for (auto& [key, holder] : index) ...
//
// Pointers and iterators are invalidated by every insertion and erasure.
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace cask {

template <typename Value>
class FlatIndex {
 public:
  using value_type = std::pair<std::string, Value>;

  template <bool Const>
  class Iterator {
   public:
    using Index = std::conditional_t<Const, const FlatIndex, FlatIndex>;
    using Reference = std::conditional_t<Const, const value_type&, value_type&>;
    Iterator(Index* index, size_t slot) : index_(index), slot_(slot) { skipEmpty(); }
    Reference operator*() const { return index_->slot(slot_); }
    auto* operator->() const { return &index_->slot(slot_); }
    Iterator& operator++() {
      ++slot_;
      skipEmpty();
      return *this;
    }
    bool operator==(const Iterator& other) const { return slot_ == other.slot_; }

   private:
    void skipEmpty() {
      while (slot_ < index_->capacity_ && index_->control_[slot_] == 0) ++slot_;
    }
    Index* index_;
    size_t slot_;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  FlatIndex() = default;
  FlatIndex(const FlatIndex&) = delete;
  FlatIndex& operator=(const FlatIndex&) = delete;
  FlatIndex(FlatIndex&& other) noexcept { swap(other); }
  FlatIndex& operator=(FlatIndex&& other) noexcept {
    FlatIndex(std::move(other)).swap(*this);
    return *this;
  }
  ~FlatIndex() { destroyAll(); }

  [[nodiscard]] size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }

  [[nodiscard]] Value* find(std::string_view key) {
    const size_t at = locate(key, hashOf(key));
    return at == kNone ? nullptr : &slot(at).second;
  }
  [[nodiscard]] const Value* find(std::string_view key) const {
    return const_cast<FlatIndex*>(this)->find(key);
  }
  [[nodiscard]] bool contains(std::string_view key) const { return find(key) != nullptr; }

  template <typename V>
  void insert_or_assign(std::string&& key, V&& value) {
    const size_t hash = hashOf(key);
    if ((size_ + 1) * 8 > capacity_ * 7) grow(size_ + 1);
    // One walk finds the key or the empty slot that ends its run.
    const uint8_t tag = tagOf(hash);
    size_t at = hash & mask();
    for (; control_[at] != 0; at = (at + 1) & mask()) {
      if (control_[at] == tag && slot(at).first == key) {
        slot(at).second = std::forward<V>(value);
        return;
      }
    }
    new (&slot(at)) value_type(std::move(key), std::forward<V>(value));
    control_[at] = tagOf(hash);
    ++size_;
  }
  template <typename V>
  void insert_or_assign(std::string_view key, V&& value) {
    insert_or_assign(std::string(key), std::forward<V>(value));
  }

  size_t erase(std::string_view key) {
    size_t hole = locate(key, hashOf(key));
    if (hole == kNone) return 0;
    slot(hole).~value_type();
    control_[hole] = 0;
    --size_;
    // Pull back every entry of the run after the hole whose home slot does
    // not lie between the hole and itself.
    for (size_t next = (hole + 1) & mask(); control_[next] != 0; next = (next + 1) & mask()) {
      const size_t home = hashOf(slot(next).first) & mask();
      if (((next - home) & mask()) >= ((next - hole) & mask())) {
        new (&slot(hole)) value_type(std::move(slot(next)));
        slot(next).~value_type();
        control_[hole] = control_[next];
        control_[next] = 0;
        hole = next;
      }
    }
    return 1;
  }

  void clear() {
    destroyAll();
    capacity_ = 0;
    size_ = 0;
  }

  // Room for `entries` without growing.
  void reserve(size_t entries) {
    if (entries * 8 > capacity_ * 7) grow(entries);
  }

  void swap(FlatIndex& other) noexcept {
    std::swap(control_, other.control_);
    std::swap(slots_, other.slots_);
    std::swap(capacity_, other.capacity_);
    std::swap(size_, other.size_);
  }

  iterator begin() { return iterator(this, 0); }
  iterator end() { return iterator(this, capacity_); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, capacity_); }

 private:
  static constexpr size_t kNone = ~size_t{0};
  struct Storage {
    alignas(value_type) unsigned char bytes[sizeof(value_type)];
  };

  // Eight bytes at a time through a 64x64->128 multiply: keys are short, and
  // both ends of the hash get used (low bits pick the slot, high the tag).
  static size_t hashOf(std::string_view key) {
    uint64_t hash = 0x9e3779b97f4a7c15ull ^ key.size();
    const char* bytes = key.data();
    size_t left = key.size();
    for (; left >= 8; bytes += 8, left -= 8) {
      uint64_t word;
      std::memcpy(&word, bytes, sizeof word);
      hash = mix(hash ^ word);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, bytes, left);
    return mix(hash ^ tail ^ (uint64_t{left} << 59));
  }
  static uint64_t mix(uint64_t value) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(value) * 0xff51afd7ed558ccdull;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
  // The top bits pick nothing the mask already picks.
  static uint8_t tagOf(size_t hash) { return static_cast<uint8_t>(0x80 | (hash >> 57)); }
  [[nodiscard]] size_t mask() const { return capacity_ - 1; }
  value_type& slot(size_t at) { return *std::launder(reinterpret_cast<value_type*>(slots_[at].bytes)); }
  const value_type& slot(size_t at) const {
    return *std::launder(reinterpret_cast<const value_type*>(slots_[at].bytes));
  }

  [[nodiscard]] size_t locate(std::string_view key, size_t hash) const {
    if (capacity_ == 0) return kNone;
    const uint8_t tag = tagOf(hash);
    for (size_t at = hash & mask();; at = (at + 1) & mask()) {
      const uint8_t control = control_[at];
      if (control == 0) return kNone;
      if (control == tag && slot(at).first == key) return at;
    }
  }

  [[nodiscard]] size_t freeSlotFor(size_t hash) const {
    size_t at = hash & mask();
    while (control_[at] != 0) at = (at + 1) & mask();
    return at;
  }

  void grow(size_t entries) {
    size_t capacity = 16;
    while (entries * 8 > capacity * 7) capacity *= 2;
    FlatIndex bigger;
    bigger.control_ = std::make_unique<uint8_t[]>(capacity);  // zeroed: all empty
    bigger.slots_ = std::make_unique_for_overwrite<Storage[]>(capacity);
    bigger.capacity_ = capacity;
    for (size_t at = 0; at < capacity_; ++at) {
      if (control_[at] == 0) continue;
      value_type& entry = slot(at);
      const size_t to = bigger.freeSlotFor(hashOf(entry.first));
      new (&bigger.slot(to)) value_type(std::move(entry));
      bigger.control_[to] = control_[at];
      ++bigger.size_;
    }
    swap(bigger);
  }

  void destroyAll() {
    if constexpr (!std::is_trivially_destructible_v<value_type>) {
      for (size_t at = 0; at < capacity_; ++at) {
        if (control_[at] != 0) slot(at).~value_type();
      }
    }
    control_.reset();
    slots_.reset();
  }

  std::unique_ptr<uint8_t[]> control_;
  std::unique_ptr<Storage[]> slots_;
  size_t capacity_ = 0;  // a power of two, or 0
  size_t size_ = 0;
};

}  // namespace cask
