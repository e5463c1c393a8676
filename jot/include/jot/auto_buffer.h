#pragma once
// Byte buffers of the log writer: `AutoBuffer` owns and grows its memory,
// `PtrBuffer` is a bounded view over memory owned elsewhere (the block cache).
// Neither is thread-safe.
#include <cstddef>
#include <cstdint>

namespace vela::comm {

// Growable byte buffer with a write position. Growth rounds up to the
// allocation unit and zeroes the new bytes:
//
//   AutoBuffer b(128);
//   b.Write("abc", 3);   // Length() == 3, Pos() == 3, Capacity() == 128
class AutoBuffer {
 public:
  explicit AutoBuffer(size_t mallocUnit = 128);
  ~AutoBuffer();
  AutoBuffer(const AutoBuffer&) = delete;
  AutoBuffer& operator=(const AutoBuffer&) = delete;

  // Copies `len` bytes at the position and moves the position past them.
  void Write(const void* data, size_t len);
  // Makes room for `len` bytes after the position; with `changeLength` the
  // length grows to cover them. The position stays.
  void AllocWrite(size_t len, bool changeLength = true);
  // Sets position and length (length capped to the capacity).
  void Length(size_t pos, size_t len);
  void Reset();

  [[nodiscard]] size_t Length() const { return length_; }
  [[nodiscard]] size_t Pos() const { return pos_; }
  [[nodiscard]] size_t Capacity() const { return capacity_; }
  [[nodiscard]] void* Ptr(size_t offset = 0) { return data_ ? data_ + offset : nullptr; }
  [[nodiscard]] const void* Ptr(size_t offset = 0) const {
    return data_ ? data_ + offset : nullptr;
  }

 private:
  // Returns false when the memory could not be had; the buffer is then empty.
  bool Fit(size_t needed);

  unsigned char* data_ = nullptr;
  size_t pos_ = 0;
  size_t length_ = 0;
  size_t capacity_ = 0;
  size_t unit_;
};

// An empty buffer for callers that need one to pass or return; made before
// main, never written.
extern const AutoBuffer KNullAtuoBuffer;

// View over `maxLength` bytes at `data`; never writes past them.
//
//   PtrBuffer p(mem, 95, 100);  p.Length(95, 95);
//   p.Write(src, 10);           // copies 5 bytes: Length() == 100, Pos() == 100
class PtrBuffer {
 public:
  PtrBuffer() = default;
  PtrBuffer(void* data, size_t length, size_t maxLength);
  PtrBuffer(const PtrBuffer&) = delete;
  PtrBuffer& operator=(const PtrBuffer&) = delete;

  // Position 0, length = maximum = `len`.
  void Attach(void* data, size_t len);
  void Write(const void* data, size_t len);
  // Copies at `pos`; the position stays.
  void Write(const void* data, size_t len, size_t pos);
  // Sets both; the length is capped to the maximum, the position to the length.
  void Length(size_t pos, size_t len);

  [[nodiscard]] size_t Pos() const { return pos_; }
  [[nodiscard]] size_t Length() const { return length_; }
  [[nodiscard]] size_t MaxLength() const { return maxLength_; }
  [[nodiscard]] void* Ptr() const { return data_; }
  [[nodiscard]] void* PosPtr() const { return data_ ? data_ + pos_ : nullptr; }

 private:
  unsigned char* data_ = nullptr;
  size_t pos_ = 0;
  size_t length_ = 0;
  size_t maxLength_ = 0;
};

}  // namespace vela::comm
