#pragma once
// Reads the pairs of a plain store's content from its data file with pread,
// a chunk at a time, instead of through the file's mapping: a load then
// creates no page-table entry for the content it only passes over (on a
// virtual machine each one costs more than copying its page), and values are
// skipped without being read when they run past the chunk. Malformed content
// throws as CodedInputData does (coded_data.h), with positions in the
// content; a failed read throws std::runtime_error. Not thread-safe.
//
//   PairStream input(fd, 4, contentSize, 0);
//   (void)input.readRawVarint32();          // the item-size holder
//   while (!input.isAtEnd()) use(input.readPair());
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "coded_data.h"

namespace cask {

class PairStream {
 public:
  struct Pair {
    uint32_t offset;       // of the key-length varint, in the content
    std::string_view key;  // valid until the next read
    uint32_t valueSize;
  };

  // The content is the `size` bytes at file offset `contentStart` of `fd`;
  // reading starts at content offset `from`. Throws std::out_of_range
  // "OutOfSpace" when `from` is past `size`.
  PairStream(int fd, uint64_t contentStart, size_t size, size_t from);
  PairStream(const PairStream&) = delete;
  PairStream& operator=(const PairStream&) = delete;

  [[nodiscard]] bool isAtEnd() const { return position_ == size_; }
  [[nodiscard]] size_t position() const { return position_; }
  [[nodiscard]] uint8_t readRawByte();
  [[nodiscard]] int32_t readRawVarint32();
  // Reads a pair's key and value length and skips its value.
  [[nodiscard]] Pair readPair();

  // Before the first read: also keep the CRC-32 (crc32Of) of every content
  // byte from the start position on, skipped values included, so that one
  // read of the content both checks and decodes it.
  void keepCrc() { crc_ = 0; }
  // The CRC so far (the whole rest once isAtEnd()); reads what was skipped.
  [[nodiscard]] uint32_t crc();

 private:
  // Makes the next min(n, what is left) bytes readable at current().
  void ensure(size_t n) {
    if (buffered() < n && position_ >= bufferStart_) refill(n);
  }
  void refill(size_t n);
  [[nodiscard]] Pair readPairSlowly();
  [[nodiscard]] const uint8_t* current() const { return buffer_.data() + (position_ - bufferStart_); }
  // Bytes readable at current(); 0 when a skipped value left the buffer behind.
  [[nodiscard]] size_t buffered() const {
    return position_ <= bufferStart_ + filled_ ? bufferStart_ + filled_ - position_ : 0;
  }
  [[nodiscard]] int32_t readLength();
  // Drops the buffer when a skipped value left it behind, adding the
  // skipped bytes to crc_.
  void leaveSkipped();

  int fd_;
  uint64_t contentStart_;
  size_t size_;
  size_t position_;
  std::vector<uint8_t> buffer_;
  size_t bufferStart_;  // content offset of buffer_[0]
  size_t filled_ = 0;
  std::optional<uint32_t> crc_;  // of the content up to bufferStart_ + filled_
};

// The CRC-32 (crc32Of) of `length` bytes at `offset` of `fd`, continuing
// `crc`, read the same way; nothing when they cannot be read.
[[nodiscard]] std::optional<uint32_t> fileCrc32(int fd, uint64_t offset, size_t length, uint32_t crc);

}  // namespace cask
