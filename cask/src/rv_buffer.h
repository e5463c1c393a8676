#pragma once
// A byte buffer that either owns its bytes or borrows them (a view into the
// mapped file). Move-only. Not thread-safe.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace cask {

enum RvBufferCopyFlag { RvBufferCopy = 0, RvBufferNoCopy = 1 };

class RvBuffer {
 public:
  RvBuffer() = default;
  // Owned, zero-filled.
  explicit RvBuffer(size_t size) : owned_(size), data_(owned_.data()), size_(size) {}
  // NoCopy borrows `data`, which must outlive the buffer; Copy takes a copy.
  RvBuffer(const void* data, size_t size, RvBufferCopyFlag flag) : size_(size) {
    if (flag == RvBufferNoCopy) {
      data_ = static_cast<const uint8_t*>(data);
    } else {
      owned_.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
      data_ = owned_.data();
    }
  }
  explicit RvBuffer(std::vector<uint8_t> bytes)
      : owned_(std::move(bytes)), data_(owned_.data()), size_(owned_.size()) {}
  RvBuffer(const RvBuffer&) = delete;
  RvBuffer& operator=(const RvBuffer&) = delete;
  RvBuffer(RvBuffer&& other) noexcept { *this = std::move(other); }
  RvBuffer& operator=(RvBuffer&& other) noexcept {
    const bool otherOwns = other.data_ == other.owned_.data() && !other.owned_.empty();
    owned_ = std::move(other.owned_);
    data_ = otherOwns ? owned_.data() : other.data_;
    size_ = other.size_;
    other.owned_.clear();
    other.data_ = nullptr;
    other.size_ = 0;
    return *this;
  }

  [[nodiscard]] const uint8_t* data() const { return data_; }
  // Only for owned buffers.
  [[nodiscard]] uint8_t* mutableData() { return owned_.data(); }
  [[nodiscard]] size_t length() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] std::span<const uint8_t> span() const { return {data_, size_}; }

 private:
  std::vector<uint8_t> owned_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace cask
