#pragma once
// A reader over an encrypted region and the index entry of an encrypted store.
// The reader decrypts each byte exactly once, in order, through the store's
// crypter, so the crypter always stands at the reader's position: the state
// at a pair's start is simply the crypter's state before reading it. Values of
// 256 bytes or more are skipped and later decrypted from that saved state.
// Not thread-safe.
#include <cstdint>
#include <string>
#include <vector>

#include "aes_crypt.h"
#include "rv_buffer.h"

namespace cask {

inline constexpr uint32_t kOffsetHolderMinValueSize = 256;

struct KeyValueHolderCrypt {
  enum class Type : uint8_t { Memory, Offset };
  Type type = Type::Memory;
  // Memory form: the value bytes, decrypted.
  std::vector<uint8_t> bytes;
  // Offset form: where the pair lies in the content and the stream state at
  // its start.
  uint8_t prefixSize = 0;  // key-length varint + value-length varint
  uint16_t keyLength = 0;
  uint32_t valueLength = 0;
  uint32_t offset = 0;
  AESCryptStatus savedState;

  static KeyValueHolderCrypt memory(std::vector<uint8_t> value);
  static KeyValueHolderCrypt offsetForm(uint32_t keyLength, uint32_t valueLength, uint32_t offset,
                                        const AESCryptStatus& state);

  [[nodiscard]] uint32_t realValueSize() const {
    return type == Type::Memory ? static_cast<uint32_t>(bytes.size()) : valueLength;
  }
  [[nodiscard]] uint32_t pairSize() const { return prefixSize + keyLength + valueLength; }
  // Memory form: a view of `bytes`; offset form: decrypted from the file
  // with a clone of `crypter` (whose own state is untouched).
  [[nodiscard]] RvBuffer toRvBuffer(const uint8_t* contentStart, const AESCrypt& crypter) const;
};

class CodedInputDataCrypt {
 public:
  // `crypter` must stand at `position` 0 of the region's stream.
  CodedInputDataCrypt(const void* base, size_t size, AESCrypt& crypter);

  // Moves the position without decrypting; the crypter must already stand
  // at the new position (used to decode a tail appended by another process).
  void seek(size_t n);
  [[nodiscard]] bool isAtEnd() const { return position_ == size_; }
  [[nodiscard]] size_t position() const { return position_; }

  [[nodiscard]] uint8_t readRawByte();
  [[nodiscard]] int32_t readRawVarint32();
  // Reads one whole pair; returns its key as stored (empty for an empty key,
  // not checked for UTF-8).
  [[nodiscard]] std::string readPair(KeyValueHolderCrypt& holder);

 private:
  void decryptInto(uint8_t* output, size_t length);
  void skipBytes(size_t length);
  [[nodiscard]] int32_t readLength();

  const uint8_t* base_;
  size_t size_;
  size_t position_ = 0;
  AESCrypt& decrypter_;
};

}  // namespace cask
