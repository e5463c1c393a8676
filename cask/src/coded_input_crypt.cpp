#include "coded_input_crypt.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "coded_data.h"
#include "crc.h"
#include "pair_stream.h"

namespace cask {

namespace {
constexpr size_t kCipherChunk = 64 * 1024;
}  // namespace

KeyValueHolderCrypt KeyValueHolderCrypt::inMemory(size_t size) {
  KeyValueHolderCrypt holder;
  if (size <= kStoredCapacity) {
    holder.stored_.size = static_cast<uint8_t>(size);
    return holder;
  }
  auto* bytes = static_cast<uint8_t*>(std::malloc(size));
  if (bytes == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
  holder.type_ = Type::Memory;
  holder.memory_ = {static_cast<uint32_t>(size), true, bytes};
  return holder;
}

KeyValueHolderCrypt KeyValueHolderCrypt::inArena(std::span<const uint8_t> value, ByteArena& arena) {
  if (value.size() <= kStoredCapacity) return inMemory(value);
  KeyValueHolderCrypt holder;
  uint8_t* bytes = arena.allocate(value.size());
  std::memcpy(bytes, value.data(), value.size());
  holder.type_ = Type::Memory;
  holder.memory_ = {static_cast<uint32_t>(value.size()), false, bytes};
  return holder;
}

KeyValueHolderCrypt KeyValueHolderCrypt::inMemory(std::span<const uint8_t> value) {
  KeyValueHolderCrypt holder = inMemory(value.size());
  if (!value.empty()) std::memcpy(holder.mutableBytes(), value.data(), value.size());
  return holder;
}

KeyValueHolderCrypt KeyValueHolderCrypt::offsetForm(uint32_t keyLength, uint32_t valueLength,
                                                    uint32_t offset, const AESCryptStatus& state) {
  KeyValueHolderCrypt holder;
  holder.type_ = Type::Offset;
  holder.offset_.prefixSize =
      static_cast<uint8_t>(pbRawVarint32Size(keyLength) + pbRawVarint32Size(valueLength));
  holder.offset_.keyLength = static_cast<uint16_t>(keyLength);
  holder.offset_.valueLength = valueLength;
  holder.offset_.offset = offset;
  holder.offset_.savedState = state;
  return holder;
}

RvBuffer KeyValueHolderCrypt::toRvBuffer(const uint8_t* contentStart, const AESCrypt& crypter) const {
  if (type_ != Type::Offset) {
    const std::span<const uint8_t> bytes = valueBytes();
    return RvBuffer(bytes.data(), bytes.size(), RvBufferNoCopy);
  }
  AESCrypt clone = crypter.cloneWithStatus(offset_.savedState);
  uint8_t scratch[16];
  size_t skip = static_cast<size_t>(offset_.keyLength) + offset_.prefixSize;
  const uint8_t* input = contentStart + offset_.offset;
  while (skip > 0) {
    const size_t step = skip < sizeof scratch ? skip : sizeof scratch;
    clone.decrypt(input, scratch, step);
    input += step;
    skip -= step;
  }
  RvBuffer value(offset_.valueLength);
  clone.decrypt(input, value.mutableData(), offset_.valueLength);
  return value;
}

CipherText::CipherText(int fd, uint64_t fileOffset, size_t size) : size_(size), fd_(fd), fileOffset_(fileOffset) {
  capacity_ = std::min(kCipherChunk, size);
  buffer_ = static_cast<uint8_t*>(std::malloc(std::max<size_t>(capacity_, 1)));
  if (buffer_ == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
}

CipherText::CipherText(CipherText&& other) noexcept
    : base_(other.base_),
      size_(other.size_),
      fd_(other.fd_),
      fileOffset_(other.fileOffset_),
      buffer_(std::exchange(other.buffer_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      bufferStart_(other.bufferStart_),
      filled_(std::exchange(other.filled_, 0)),
      dropMark_(other.dropMark_),
      crc_(other.crc_) {}

CipherText::~CipherText() { std::free(buffer_); }

void CipherText::readMore(size_t length) {
  for (;;) {
    const ssize_t got = pread(fd_, buffer_ + filled_, length, static_cast<off_t>(fileOffset_ + bufferStart_ + filled_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      throw std::runtime_error(std::string("fail to read the content: ") +
                               (got < 0 ? std::strerror(errno) : "the file ends early"));
    }
    crc_ = crc32Of(crc_, buffer_ + filled_, static_cast<size_t>(got));
    filled_ += static_cast<size_t>(got);
    return;
  }
}

void CipherText::refill(size_t position, size_t length) {
  if (position < bufferStart_ || position > size_ || length > size_ - position) {
    throw std::logic_error("ciphertext asked out of order");
  }
  const size_t keep = std::min(position, dropMark_);
  const size_t end = bufferStart_ + filled_;
  if (keep >= end) {
    // Nothing held is wanted: what lies before `keep` counts for the CRC only.
    passOver(keep);
  } else if (keep > bufferStart_) {
    std::memmove(buffer_, buffer_ + (keep - bufferStart_), end - keep);
    filled_ = end - keep;
    bufferStart_ = keep;
  }
  const size_t need = position + length - bufferStart_;
  if (need > capacity_) {
    const size_t capacity = std::max(need, capacity_ + kCipherChunk);
    auto* bigger = static_cast<uint8_t*>(std::realloc(buffer_, capacity));
    if (bigger == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
    buffer_ = bigger;
    capacity_ = capacity;
  }
  // Read ahead as far as the buffer allows: fewer, larger reads.
  while (filled_ < need) readMore(std::min(capacity_ - filled_, size_ - (bufferStart_ + filled_)));
}

void CipherText::passOver(size_t position) {
  const size_t end = bufferStart_ + filled_;
  if (position > end) {
    const std::optional<uint32_t> crc = fileCrc32(fd_, fileOffset_ + end, position - end, crc_);
    if (!crc) throw std::runtime_error("fail to read the content");
    crc_ = *crc;
  }
  bufferStart_ = std::max(position, end);
  filled_ = 0;
}

uint32_t CipherText::crc() {
  if (base_ != nullptr) return crc32Of(0, base_, size_);
  passOver(size_);
  return crc_;
}

namespace {
size_t roundUpToBlock(size_t n) { return (n + kAESKeyLength - 1) / kAESKeyLength * kAESKeyLength; }
// Each call into the cipher costs far more than a block: the window
// decrypts at least this far ahead (pairs are mostly smaller).
constexpr size_t kReadAhead = 512;
}  // namespace

CodedInputDataCrypt::CodedInputDataCrypt(const void* base, size_t size, AESCrypt& crypter)
    : CodedInputDataCrypt(CipherText(static_cast<const uint8_t*>(base), size), crypter) {}

CodedInputDataCrypt::CodedInputDataCrypt(CipherText cipher, AESCrypt& crypter)
    : cipher_(std::move(cipher)), size_(cipher_.size()), decrypter_(crypter) {
  decryptBuffer_ = static_cast<uint8_t*>(std::malloc(decryptBufferSize_));
  if (decryptBuffer_ == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
  resetWindow();
}

CodedInputDataCrypt::~CodedInputDataCrypt() { std::free(decryptBuffer_); }

void CodedInputDataCrypt::resetWindow() {
  // The window's first byte lies on an AES block boundary of the stream.
  decryptBufferPosition_ = decrypter_.number();
  decryptBufferDecryptLength_ = decryptBufferPosition_;
  decryptBufferDiscardMark_ = decryptBufferPosition_;
}

void CodedInputDataCrypt::seek(size_t n) {
  if (n > size_ - position_) throw std::out_of_range("OutOfSpace");
  position_ += n;
  decryptPosition_ += n;
  assert(position_ % kAESKeyLength == decrypter_.number());
  resetWindow();
}

void CodedInputDataCrypt::decryptMore(size_t length) {
  const size_t held = decryptBufferDecryptLength_ - decryptBufferPosition_;
  const size_t missing = std::max(length - held, kReadAhead);
  // Decryption stops on a block boundary, so the crypter's position there is
  // 0 and a skip can jump whole blocks.
  const size_t number = decrypter_.number();
  size_t count;
  if (number > 0) {
    const size_t finish = kAESKeyLength - number;
    count = missing <= finish ? finish : finish + roundUpToBlock(missing - finish);
  } else {
    count = roundUpToBlock(missing);
  }
  count = std::min(count, size_ - decryptPosition_);
  if (count == 0) return;
  if (decryptBufferDecryptLength_ + count > decryptBufferSize_) {
    // Whole blocks before the discard mark are no longer needed.
    const size_t drop = decryptBufferDiscardMark_ / kAESKeyLength * kAESKeyLength;
    if (drop > 0) {
      std::memmove(decryptBuffer_, decryptBuffer_ + drop, decryptBufferDecryptLength_ - drop);
      decryptBufferDecryptLength_ -= drop;
      decryptBufferPosition_ -= drop;
      decryptBufferDiscardMark_ -= drop;
    }
    if (decryptBufferDecryptLength_ + count > decryptBufferSize_) {
      const size_t size = decryptBufferSize_ + count;
      auto* bigger = static_cast<uint8_t*>(std::realloc(decryptBuffer_, size));
      if (bigger == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
      decryptBuffer_ = bigger;
      decryptBufferSize_ = size;
    }
  }
  // The stream state of a pair's start may need the ciphertext block before
  // the window (stateAt).
  const size_t windowStart = decryptPosition_ - decryptBufferDecryptLength_;
  cipher_.dropBefore(windowStart > kAESKeyLength ? windowStart - kAESKeyLength : 0);
  decrypter_.decrypt(cipher_.at(decryptPosition_, count), decryptBuffer_ + decryptBufferDecryptLength_, count);
  decryptPosition_ += count;
  decryptBufferDecryptLength_ += count;
  assert(decryptPosition_ == size_ || decrypter_.number() == 0);
}

void CodedInputDataCrypt::skipBytes(size_t length) {
  // Callers checked that `length` bytes remain.
  const size_t held = decryptBufferDecryptLength_ - decryptBufferPosition_;
  if (length <= held) {
    decryptBufferPosition_ += length;
    position_ += length;
    return;
  }
  assert(decrypter_.number() == 0);
  const size_t count = std::min(roundUpToBlock(length - held), size_ - decryptPosition_);
  // The stream's state at a block boundary is the ciphertext block before
  // it: only the last block needs the cipher, and it stays in the window.
  const size_t lastStart = decryptPosition_ + (count - 1) / kAESKeyLength * kAESKeyLength;
  cipher_.dropBefore(lastStart > kAESKeyLength ? lastStart - kAESKeyLength : 0);
  if (lastStart > decryptPosition_) {
    AESCryptStatus state;
    std::memcpy(state.m_register, cipher_.at(lastStart - kAESKeyLength, kAESKeyLength), kAESKeyLength);
    decrypter_.setStatus(state);
  }
  const size_t lastLength = decryptPosition_ + count - lastStart;
  decrypter_.decrypt(cipher_.at(lastStart, lastLength), decryptBuffer_, lastLength);
  decryptPosition_ = lastStart + lastLength;
  position_ += length;
  decryptBufferDecryptLength_ = lastLength;
  decryptBufferPosition_ = position_ - lastStart;
  decryptBufferDiscardMark_ = 0;
  assert(decryptBufferPosition_ <= decryptBufferDecryptLength_);
  assert(decryptPosition_ - decryptBufferDecryptLength_ + decryptBufferPosition_ == position_);
}

AESCryptStatus CodedInputDataCrypt::stateAt(size_t position) {
  // CFB's register within a block holds the ciphertext bytes before the
  // position and the keystream (cipher ^ plain) from it on; on a block
  // boundary, the previous ciphertext block. The window still holds the
  // block (its start is never dropped before the pair's), decrypted whole.
  AESCryptStatus state;
  const size_t number = position % kAESKeyLength;
  const size_t blockStart = position - number;
  state.m_number = static_cast<uint8_t>(number);
  if (number == 0) {
    assert(blockStart >= kAESKeyLength);
    std::memcpy(state.m_register, cipher_.at(blockStart - kAESKeyLength, kAESKeyLength), kAESKeyLength);
    return state;
  }
  const size_t windowStart = decryptPosition_ - decryptBufferDecryptLength_;
  assert(blockStart >= windowStart && blockStart + kAESKeyLength <= decryptPosition_);
  const uint8_t* plain = decryptBuffer_ + (blockStart - windowStart);
  const uint8_t* cipher = cipher_.at(blockStart, kAESKeyLength);
  for (size_t i = 0; i < kAESKeyLength; ++i) state.m_register[i] = i < number ? cipher[i] : cipher[i] ^ plain[i];
  return state;
}

uint8_t CodedInputDataCrypt::readRawByte() {
  if (decryptBufferPosition_ == decryptBufferDecryptLength_) consumeBytes(1, false);
  if (decryptBufferPosition_ == decryptBufferDecryptLength_) {
    throw std::out_of_range("reach end, m_position: " + std::to_string(position_) +
                            ", m_size: " + std::to_string(size_));
  }
  assert(position_ <= decryptPosition_ && decryptBufferPosition_ < decryptBufferSize_);
  ++position_;
  return decryptBuffer_[decryptBufferPosition_++];
}

int32_t CodedInputDataCrypt::readRawVarint32(bool discard) {
  consumeBytes(10, discard);
  // Lengths of keys and small values take one byte.
  if (decryptBufferPosition_ < decryptBufferDecryptLength_ && decryptBuffer_[decryptBufferPosition_] < 0x80) {
    ++position_;
    return decryptBuffer_[decryptBufferPosition_++];
  }
  return readVarint32From(*this);
}

int32_t CodedInputDataCrypt::readLength(bool discard) {
  const int32_t length = readRawVarint32(discard);
  if (length < 0 || static_cast<size_t>(length) > size_ - position_) return checkedLength(length, size_ - position_);
  return length;
}

std::string CodedInputDataCrypt::readPair(KeyValueHolderCrypt& holder, ByteArena* arena) {
  const size_t start = position_;
  if (start > 0xffffffffu) throw std::length_error("InvalidProtocolBuffer content too large");
  // A new pair: what the window holds before it is not needed any more.
  const int32_t keyLength = readLength(true);
  if (keyLength > 0xffff) throw std::length_error("InvalidProtocolBuffer key too long");
  consumeBytes(static_cast<size_t>(keyLength), false);
  std::string key(reinterpret_cast<const char*>(decryptBuffer_ + decryptBufferPosition_),
                  static_cast<size_t>(keyLength));
  decryptBufferPosition_ += static_cast<size_t>(keyLength);
  position_ += static_cast<size_t>(keyLength);

  const auto valueLength = static_cast<uint32_t>(readLength(false));
  if (valueLength >= kOffsetHolderMinValueSize) {
    const AESCryptStatus state = stateAt(start);
    holder = KeyValueHolderCrypt::offsetForm(static_cast<uint32_t>(keyLength), valueLength,
                                             static_cast<uint32_t>(start), state);
    skipBytes(valueLength);
  } else {
    consumeBytes(valueLength, false);
    const std::span<const uint8_t> value(decryptBuffer_ + decryptBufferPosition_, valueLength);
    holder = arena != nullptr ? KeyValueHolderCrypt::inArena(value, *arena) : KeyValueHolderCrypt::inMemory(value);
    decryptBufferPosition_ += valueLength;
    position_ += valueLength;
  }
  return key;
}

}  // namespace cask
