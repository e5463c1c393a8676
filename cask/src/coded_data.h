#pragma once
// Varint and little-endian readers and writers over plain bytes, and the plain
// index entry. Readers and writers throw std::out_of_range, std::length_error
// or std::invalid_argument with fixed texts on malformed or short data; every
// caller in the store catches them. Not thread-safe.
//
//   CodedOutputData out(buf, sizeof buf);
//   out.writeRawVarint32(300);           // AC 02
//   CodedInputData in(buf, 2);
//   in.readRawVarint32();                // 300
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rv_buffer.h"

namespace cask {

// Varint sizes: 1 byte below 2^7, 2 below 2^14, ... (5 for 32-bit, 10 for 64-bit).
[[nodiscard]] uint32_t pbRawVarint32Size(uint32_t value);
[[nodiscard]] uint32_t pbUInt64Size(uint64_t value);
// A negative int32 is sign-extended and takes 10 bytes.
[[nodiscard]] uint32_t pbInt32Size(int32_t value);

// Decodes a varint32 from `reader.readRawByte()`; the plain and the decrypting
// reader share it. A negative value arrives sign-extended to ten bytes.
template <typename Reader>
[[nodiscard]] int32_t readVarint32From(Reader& reader) {
  uint32_t result = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    const uint8_t byte = reader.readRawByte();
    result |= static_cast<uint32_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return static_cast<int32_t>(result);
  }
  for (int i = 0; i < 5; ++i) {
    if ((reader.readRawByte() & 0x80) == 0) return static_cast<int32_t>(result);
  }
  throw std::invalid_argument("InvalidProtocolBuffer malformed varint32");
}
// `length` as read from a length prefix; throws unless it is non-negative and
// fits the `remaining` bytes.
[[nodiscard]] int32_t checkedLength(int32_t length, size_t remaining);

// Where one pair of a plain store lies, relative to the content start.
struct KeyValueHolder {
  uint16_t computedKVSize = 0;  // key-length varint + key + value-length varint
  uint16_t keySize = 0;
  uint32_t valueSize = 0;
  uint32_t offset = 0;  // of the pair's key-length varint

  // A view into `contentStart`, which must outlive it.
  [[nodiscard]] RvBuffer toRvBuffer(const uint8_t* contentStart) const {
    return RvBuffer(contentStart + offset + computedKVSize, valueSize, RvBufferNoCopy);
  }
  [[nodiscard]] uint32_t end() const { return offset + computedKVSize + valueSize; }
};

class CodedInputData {
 public:
  CodedInputData(const void* data, size_t size);
  explicit CodedInputData(std::span<const uint8_t> bytes) : CodedInputData(bytes.data(), bytes.size()) {}

  [[nodiscard]] uint8_t readRawByte() {
    if (position_ == size_) throwReachEnd();
    return data_[position_++];
  }
  [[nodiscard]] int32_t readRawVarint32() {
    // Loading a store reads two of these per pair: the common short forms
    // go without a bounds check per byte.
    if (size_ - position_ >= 5) {
      const uint8_t* p = data_ + position_;
      uint32_t result = p[0];
      if (result < 0x80) {
        position_ += 1;
        return static_cast<int32_t>(result);
      }
      result = (result & 0x7f) | (uint32_t{p[1]} << 7);
      if (p[1] < 0x80) {
        position_ += 2;
        return static_cast<int32_t>(result);
      }
      result = (result & 0x3fff) | (uint32_t{p[2]} << 14);
      if (p[2] < 0x80) {
        position_ += 3;
        return static_cast<int32_t>(result);
      }
    }
    return readVarint32From(*this);
  }
  [[nodiscard]] int64_t readRawVarint64();
  [[nodiscard]] int32_t readInt32() { return readRawVarint32(); }
  [[nodiscard]] uint32_t readUInt32() { return static_cast<uint32_t>(readRawVarint32()); }
  [[nodiscard]] int64_t readInt64() { return readRawVarint64(); }
  [[nodiscard]] uint64_t readUInt64() { return static_cast<uint64_t>(readRawVarint64()); }
  [[nodiscard]] bool readBool() { return readRawVarint32() != 0; }
  [[nodiscard]] float readFloat();
  [[nodiscard]] double readDouble();
  [[nodiscard]] uint32_t readRawLittleEndian32();
  [[nodiscard]] uint64_t readRawLittleEndian64();
  // Length-prefixed bytes.
  [[nodiscard]] std::string readString();
  // A key: records the pair's start and the key size in `holder`. The bytes
  // come as stored; the caller decides what a key that is not UTF-8 means.
  [[nodiscard]] std::string readString(KeyValueHolder& holder) {
    const size_t start = position_;
    const int32_t length = readLength();
    if (length > 0xffff || start > 0xffffffffu) throwKeyTooLong();
    holder.offset = static_cast<uint32_t>(start);
    holder.keySize = static_cast<uint16_t>(length);
    const char* bytes = reinterpret_cast<const char*>(data_ + position_);
    position_ += static_cast<size_t>(length);
    return std::string(bytes, static_cast<size_t>(length));
  }
  // A value after readString(holder): records its size and skips it.
  void readData(KeyValueHolder& holder) {
    const int32_t length = readLength();
    const size_t computed = position_ - holder.offset;
    if (computed > 0xffff) throwKeyTooLong();
    holder.computedKVSize = static_cast<uint16_t>(computed);
    holder.valueSize = static_cast<uint32_t>(length);
    position_ += static_cast<size_t>(length);
  }
  [[nodiscard]] RvBuffer readData();  // length-prefixed, copied
  void seek(size_t n) {
    if (n > size_ - position_) throwOutOfSpace();
    position_ += n;
  }
  [[nodiscard]] bool isAtEnd() const { return position_ == size_; }
  [[nodiscard]] size_t position() const { return position_; }

 private:
  [[nodiscard]] int32_t readLength() {
    const int32_t length = readRawVarint32();
    if (length < 0 || static_cast<size_t>(length) > size_ - position_) return checkedLength(length, size_ - position_);
    return length;
  }
  [[noreturn]] void throwReachEnd() const;
  [[noreturn]] static void throwKeyTooLong();
  [[noreturn]] static void throwOutOfSpace();

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

class CodedOutputData {
 public:
  CodedOutputData(void* data, size_t size);

  void writeRawByte(uint8_t value);
  void writeRawVarint32(int32_t value);
  void writeRawVarint64(int64_t value);
  void writeInt32(int32_t value);
  void writeUInt32(uint32_t value) { writeRawVarint32(static_cast<int32_t>(value)); }
  void writeInt64(int64_t value) { writeRawVarint64(value); }
  void writeUInt64(uint64_t value) { writeRawVarint64(static_cast<int64_t>(value)); }
  void writeBool(bool value) { writeRawByte(value ? 1 : 0); }
  void writeFloat(float value);
  void writeDouble(double value);
  void writeRawLittleEndian32(uint32_t value);
  void writeRawLittleEndian64(uint64_t value);
  // Varint32 length, then the bytes.
  void writeData(std::span<const uint8_t> bytes);
  void writeRawData(std::span<const uint8_t> bytes);
  [[nodiscard]] size_t spaceLeft() const { return position_ >= size_ ? 0 : size_ - position_; }
  void seek(size_t n);
  void setPosition(size_t position);
  [[nodiscard]] size_t position() const { return position_; }

 private:
  uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// True when `bytes` is well-formed UTF-8.
[[nodiscard]] bool isValidUtf8(std::span<const uint8_t> bytes);

// A stored value read as `T` (bool, the integer types, float, double;
// std::string and std::vector<uint8_t> for length-prefixed strings and byte
// data). Throws like the readers when the bytes do not hold one.
//
//   decodeValue<int64_t>(bytes);        // {0x05} -> 5
//   decodeValue<std::string>(bytes);    // {0x02, 'h', 'i'} -> "hi"
template <typename T>
[[nodiscard]] T decodeValue(std::span<const uint8_t> bytes);
template <> bool decodeValue<bool>(std::span<const uint8_t> bytes);
template <> int32_t decodeValue<int32_t>(std::span<const uint8_t> bytes);
template <> uint32_t decodeValue<uint32_t>(std::span<const uint8_t> bytes);
template <> int64_t decodeValue<int64_t>(std::span<const uint8_t> bytes);
template <> uint64_t decodeValue<uint64_t>(std::span<const uint8_t> bytes);
template <> float decodeValue<float>(std::span<const uint8_t> bytes);
template <> double decodeValue<double>(std::span<const uint8_t> bytes);
template <> std::string decodeValue<std::string>(std::span<const uint8_t> bytes);
template <> std::vector<uint8_t> decodeValue<std::vector<uint8_t>>(std::span<const uint8_t> bytes);

}  // namespace cask
