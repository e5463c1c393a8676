#include "coded_input_crypt.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "coded_data.h"

namespace cask {

KeyValueHolderCrypt KeyValueHolderCrypt::inMemory(size_t size) {
  KeyValueHolderCrypt holder;
  if (size <= kStoredCapacity) {
    holder.stored_.size = static_cast<uint8_t>(size);
    return holder;
  }
  auto* bytes = static_cast<uint8_t*>(std::malloc(size));
  if (bytes == nullptr) throw std::runtime_error(std::strerror(errno != 0 ? errno : ENOMEM));
  holder.type_ = Type::Memory;
  holder.memory_ = {static_cast<uint32_t>(size), bytes};
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

CodedInputDataCrypt::CodedInputDataCrypt(const void* base, size_t size, AESCrypt& crypter)
    : base_(static_cast<const uint8_t*>(base)), size_(size), decrypter_(crypter) {}

void CodedInputDataCrypt::seek(size_t n) {
  if (n > size_ - position_) throw std::out_of_range("OutOfSpace");
  position_ += n;
}

void CodedInputDataCrypt::decryptInto(uint8_t* output, size_t length) {
  if (length > size_ - position_) {
    throw std::out_of_range("reach end, m_position: " + std::to_string(position_) +
                            ", m_size: " + std::to_string(size_));
  }
  decrypter_.decrypt(base_ + position_, output, length);
  position_ += length;
}

void CodedInputDataCrypt::skipBytes(size_t length) {
  uint8_t scratch[4096];
  while (length > 0) {
    const size_t step = length < sizeof scratch ? length : sizeof scratch;
    decryptInto(scratch, step);
    length -= step;
  }
}

uint8_t CodedInputDataCrypt::readRawByte() {
  // decryptInto() throws at the end.
  uint8_t byte = 0;
  decryptInto(&byte, 1);
  return byte;
}

int32_t CodedInputDataCrypt::readRawVarint32() { return readVarint32From(*this); }

int32_t CodedInputDataCrypt::readLength() {
  const int32_t length = readRawVarint32();
  return checkedLength(length, size_ - position_);
}

std::string CodedInputDataCrypt::readPair(KeyValueHolderCrypt& holder) {
  AESCryptStatus state;
  decrypter_.getCurStatus(state);
  const size_t start = position_;
  if (start > 0xffffffffu) throw std::length_error("InvalidProtocolBuffer content too large");

  const int32_t keyLength = readLength();
  if (keyLength > 0xffff) throw std::length_error("InvalidProtocolBuffer key too long");
  std::string key(static_cast<size_t>(keyLength), '\0');
  decryptInto(reinterpret_cast<uint8_t*>(key.data()), key.size());

  const auto valueLength = static_cast<uint32_t>(readLength());
  if (valueLength >= kOffsetHolderMinValueSize) {
    holder = KeyValueHolderCrypt::offsetForm(static_cast<uint32_t>(keyLength), valueLength,
                                             static_cast<uint32_t>(start), state);
    skipBytes(valueLength);
  } else {
    holder = KeyValueHolderCrypt::inMemory(valueLength);
    decryptInto(holder.mutableBytes(), valueLength);
  }
  return key;
}

}  // namespace cask
