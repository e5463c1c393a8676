#pragma once
// A byte buffer that owns its bytes or borrows them (a view into the mapped
// file). Owned buffers under 25 bytes keep their bytes inline, so the small
// values a store mostly holds cost no allocation. Move-only. Not thread-safe.
//
//   RvBuffer view(file + offset, n, RvBufferNoCopy);  // borrows
//   RvBuffer copy(bytes, 10, RvBufferCopy);           // owns, inline
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <stdexcept>
#include <utility>

namespace cask {

enum RvBufferCopyFlag { RvBufferCopy = 0, RvBufferNoCopy = 1 };

class RvBuffer {
 public:
  static constexpr size_t kInlineCapacity = 24;

  RvBuffer() = default;
  // Owned, zero-filled. Throws std::runtime_error when memory runs out.
  explicit RvBuffer(size_t size) { allocate(size, true); }
  // NoCopy borrows `data`, which must outlive the buffer; Copy takes a copy
  // (throws std::runtime_error when memory runs out).
  RvBuffer(const void* data, size_t size, RvBufferCopyFlag flag) {
    if (flag == RvBufferNoCopy) {
      pointer_ = static_cast<uint8_t*>(const_cast<void*>(data));
      size_ = size;
      return;
    }
    allocate(size, false);
    if (size > 0) std::memcpy(mutableData(), data, size);
  }
  RvBuffer(const RvBuffer&) = delete;
  RvBuffer& operator=(const RvBuffer&) = delete;
  RvBuffer(RvBuffer&& other) noexcept { takeFrom(other); }
  RvBuffer& operator=(RvBuffer&& other) noexcept {
    if (this == &other) return *this;
    if (isInline_ && other.isInline_) {
      // Two inline buffers just trade places.
      std::swap(inline_, other.inline_);
      std::swap(size_, other.size_);
      return *this;
    }
    release();
    takeFrom(other);
    return *this;
  }
  ~RvBuffer() { release(); }

  [[nodiscard]] const uint8_t* data() const { return isInline_ ? inline_ : pointer_; }
  // Only for owned buffers.
  [[nodiscard]] uint8_t* mutableData() { return isInline_ ? inline_ : pointer_; }
  [[nodiscard]] size_t length() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] bool isInline() const { return isInline_; }
  [[nodiscard]] std::span<const uint8_t> span() const { return {data(), size_}; }
  // Gives up ownership of a malloc'd block: the caller frees it. An inline
  // buffer has nothing to give away and stays as it is.
  void detach() { owns_ = false; }

 private:
  void allocate(size_t size, bool zero) {
    size_ = size;
    if (size < kInlineCapacity + 1) {
      isInline_ = true;
      if (zero) std::memset(inline_, 0, sizeof inline_);
      return;
    }
    pointer_ = static_cast<uint8_t*>(zero ? std::calloc(size, 1) : std::malloc(size));
    if (pointer_ == nullptr) {
      size_ = 0;
      throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
    }
    owns_ = true;
  }
  void takeFrom(RvBuffer& other) noexcept {
    isInline_ = other.isInline_;
    owns_ = other.owns_;
    size_ = other.size_;
    if (isInline_) {
      std::memcpy(inline_, other.inline_, size_);
    } else {
      pointer_ = other.pointer_;
    }
    other.isInline_ = false;
    other.owns_ = false;
    other.pointer_ = nullptr;
    other.size_ = 0;
  }
  void release() {
    if (!isInline_ && owns_) std::free(pointer_);
    owns_ = false;
  }

  union {
    uint8_t inline_[kInlineCapacity];
    uint8_t* pointer_ = nullptr;
  };
  size_t size_ = 0;
  bool isInline_ = false;
  bool owns_ = false;
};

}  // namespace cask
