#pragma once
// A reader over an encrypted region and the index entry of an encrypted store.
// The reader decrypts each byte exactly once, in order, through the store's
// crypter, so the crypter always stands at the reader's position: the state
// at a pair's start is simply the crypter's state before reading it. Values of
// 256 bytes or more are skipped and later decrypted from that saved state.
// Not thread-safe.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "aes_crypt.h"
#include "byte_arena.h"
#include "rv_buffer.h"

namespace cask {

inline constexpr uint32_t kOffsetHolderMinValueSize = 256;

// The index entry of an encrypted store, in one of three forms: Stored (the
// decrypted value inline, under 28 bytes), Memory (a decrypted copy, 28 to
// 255 bytes, malloc'd or in the index's arena when a load made it) or Offset (values of 256 bytes or more: where the
// pair lies and the stream state at its start). Move-only.
class KeyValueHolderCrypt {
 public:
  enum class Type : uint8_t { Stored, Memory, Offset };
  static constexpr size_t kStoredCapacity = 27;

  KeyValueHolderCrypt() : type_(Type::Stored) { stored_.size = 0; }
  KeyValueHolderCrypt(const KeyValueHolderCrypt&) = delete;
  KeyValueHolderCrypt& operator=(const KeyValueHolderCrypt&) = delete;
  KeyValueHolderCrypt(KeyValueHolderCrypt&& other) noexcept { takeFrom(other); }
  KeyValueHolderCrypt& operator=(KeyValueHolderCrypt&& other) noexcept {
    if (this != &other) {
      release();
      takeFrom(other);
    }
    return *this;
  }
  ~KeyValueHolderCrypt() { release(); }

  // `size` bytes in memory (Stored or Memory form) for the caller to fill
  // through mutableBytes(). Throws std::runtime_error when memory runs out.
  static KeyValueHolderCrypt inMemory(size_t size);
  static KeyValueHolderCrypt inMemory(std::span<const uint8_t> value);
  // A copy in `arena`, which must outlive the holder. Throws std::bad_alloc.
  static KeyValueHolderCrypt inArena(std::span<const uint8_t> value, ByteArena& arena);
  static KeyValueHolderCrypt offsetForm(uint32_t keyLength, uint32_t valueLength, uint32_t offset,
                                        const AESCryptStatus& state);

  [[nodiscard]] Type type() const { return type_; }
  [[nodiscard]] bool isOffset() const { return type_ == Type::Offset; }
  [[nodiscard]] uint32_t realValueSize() const {
    switch (type_) {
      case Type::Stored: return stored_.size;
      case Type::Memory: return memory_.size;
      case Type::Offset: break;
    }
    return offset_.valueLength;
  }
  // Stored and Memory forms: the decrypted value.
  [[nodiscard]] std::span<const uint8_t> valueBytes() const {
    return type_ == Type::Stored ? std::span<const uint8_t>(stored_.bytes, stored_.size)
                                 : std::span<const uint8_t>(memory_.bytes, memory_.size);
  }
  [[nodiscard]] uint8_t* mutableBytes() { return type_ == Type::Stored ? stored_.bytes : memory_.bytes; }

  // Offset form.
  [[nodiscard]] uint32_t offset() const { return offset_.offset; }
  void setOffset(uint32_t offset) { offset_.offset = offset; }
  [[nodiscard]] const AESCryptStatus& savedState() const { return offset_.savedState; }
  void setSavedState(const AESCryptStatus& state) { offset_.savedState = state; }
  [[nodiscard]] uint32_t pairSize() const {
    return uint32_t{offset_.prefixSize} + offset_.keyLength + offset_.valueLength;
  }

  // Stored and Memory: a view of their bytes; Offset: decrypted from the file
  // with a clone of `crypter` (whose own state is untouched).
  [[nodiscard]] RvBuffer toRvBuffer(const uint8_t* contentStart, const AESCrypt& crypter) const;

 private:
  struct Stored {
    uint8_t size;
    uint8_t bytes[kStoredCapacity];
  };
  struct Memory {
    uint32_t size;
    bool owned;  // false: the bytes lie in an arena
    uint8_t* bytes;
  };
  struct Offset {
    uint8_t prefixSize;  // key-length varint + value-length varint
    uint16_t keyLength;
    uint32_t valueLength;
    uint32_t offset;  // of the pair's start in the content
    AESCryptStatus savedState;
  };

  void takeFrom(KeyValueHolderCrypt& other) noexcept {
    type_ = other.type_;
    switch (type_) {
      case Type::Stored: stored_ = other.stored_; break;
      case Type::Memory: memory_ = other.memory_; break;
      case Type::Offset: offset_ = other.offset_; break;
    }
    other.type_ = Type::Stored;
    other.stored_.size = 0;
  }
  void release() {
    if (type_ == Type::Memory && memory_.owned) std::free(memory_.bytes);
    type_ = Type::Stored;
    stored_.size = 0;
  }

  Type type_;
  union {
    Stored stored_;
    Memory memory_;
    Offset offset_;
  };
};

// The ciphertext a reader decrypts: either memory (a mapping), or the bytes
// at an offset of a file read a chunk at a time with pread, which keeps the
// CRC-32 (crc32Of) of every byte so that one read both checks and decodes
// the content (see pair_stream.h for why pread). Not thread-safe.
class CipherText {
 public:
  CipherText(const uint8_t* base, size_t size) : base_(base), size_(size) {}
  CipherText(int fd, uint64_t fileOffset, size_t size);
  CipherText(const CipherText&) = delete;
  CipherText& operator=(const CipherText&) = delete;
  CipherText(CipherText&& other) noexcept;
  CipherText& operator=(CipherText&&) = delete;
  ~CipherText();

  [[nodiscard]] size_t size() const { return size_; }
  // Bytes [position, position + length), which must lie within the region
  // and not before what dropBefore() released; valid until the next call.
  // A file that cannot be read throws std::runtime_error.
  [[nodiscard]] const uint8_t* at(size_t position, size_t length) {
    if (base_ != nullptr) return base_ + position;
    if (position < bufferStart_ || position + length > bufferStart_ + filled_) refill(position, length);
    return buffer_ + (position - bufferStart_);
  }
  // Bytes before `position` will not be asked for again.
  void dropBefore(size_t position) { dropMark_ = std::max(dropMark_, position); }
  // The CRC of the whole region (for a file, reads what was not asked for).
  [[nodiscard]] uint32_t crc();

 private:
  void refill(size_t position, size_t length);
  // Drops the buffer and adds the bytes up to `position` to crc_ unread.
  void passOver(size_t position);
  // Reads up to `length` bytes at the buffer's end, adding them to crc_.
  void readMore(size_t length);

  const uint8_t* base_ = nullptr;  // memory form
  size_t size_;
  int fd_ = -1;
  uint64_t fileOffset_ = 0;
  uint8_t* buffer_ = nullptr;  // malloc'd
  size_t capacity_ = 0;
  size_t bufferStart_ = 0;  // region offset of buffer_[0]
  size_t filled_ = 0;
  size_t dropMark_ = 0;
  uint32_t crc_ = 0;  // of the region up to bufferStart_ + filled_
};

// Reads pairs from an encrypted region through a window of decrypted bytes
// that always ends on an AES block boundary (or the region's end): each byte
// is decrypted at most once, large values are jumped over by blocks, and the
// window keeps the current pair's bytes and what was decrypted ahead.
class CodedInputDataCrypt {
 public:
  // `crypter` must stand at `position` 0 of the region's stream; it advances
  // as the reader decrypts, and stands at the region's end once all was read.
  // Throws std::runtime_error when memory runs out.
  CodedInputDataCrypt(const void* base, size_t size, AESCrypt& crypter);
  CodedInputDataCrypt(CipherText cipher, AESCrypt& crypter);
  CodedInputDataCrypt(const CodedInputDataCrypt&) = delete;
  CodedInputDataCrypt& operator=(const CodedInputDataCrypt&) = delete;
  ~CodedInputDataCrypt();

  // Moves the position without decrypting; the crypter must already stand
  // at the new position (used to decode a tail appended by another process).
  void seek(size_t n);
  [[nodiscard]] bool isAtEnd() const { return position_ == size_; }
  [[nodiscard]] size_t position() const { return position_; }

  [[nodiscard]] uint8_t readRawByte();
  // With `discard`, window bytes before the current one may be dropped.
  [[nodiscard]] int32_t readRawVarint32(bool discard = false);
  // Reads one whole pair; returns its key as stored (empty for an empty key,
  // not checked for UTF-8). A value in the Memory form goes into `arena`
  // when given.
  [[nodiscard]] std::string readPair(KeyValueHolderCrypt& holder, ByteArena* arena = nullptr);
  // The CRC of the whole region; a file's is read once, with the pairs.
  [[nodiscard]] uint32_t crc() { return cipher_.crc(); }

 private:
  // Makes the window hold `length` undelivered bytes (fewer at the end).
  void consumeBytes(size_t length, bool discard) {
    if (discard) decryptBufferDiscardMark_ = decryptBufferPosition_;
    if (decryptBufferDecryptLength_ - decryptBufferPosition_ < length) decryptMore(length);
  }
  void decryptMore(size_t length);
  void skipBytes(size_t length);
  void resetWindow();
  // The stream's state at `position`, whose block the window holds.
  [[nodiscard]] AESCryptStatus stateAt(size_t position);
  [[nodiscard]] int32_t readLength(bool discard);

  CipherText cipher_;
  size_t size_;
  size_t position_ = 0;         // in the plain stream
  size_t decryptPosition_ = 0;  // how far the region is decrypted
  AESCrypt& decrypter_;
  uint8_t* decryptBuffer_ = nullptr;  // the window, malloc'd
  size_t decryptBufferSize_ = 32;
  size_t decryptBufferPosition_ = 0;      // the next undelivered byte
  size_t decryptBufferDecryptLength_ = 0; // decrypted bytes held
  size_t decryptBufferDiscardMark_ = 0;   // bytes before it may be dropped
};

}  // namespace cask
