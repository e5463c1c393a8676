#include "coded_data.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace cask {

static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

uint32_t pbRawVarint32Size(uint32_t value) {
  if ((value & (0xffffffffu << 7)) == 0) return 1;
  if ((value & (0xffffffffu << 14)) == 0) return 2;
  if ((value & (0xffffffffu << 21)) == 0) return 3;
  if ((value & (0xffffffffu << 28)) == 0) return 4;
  return 5;
}

uint32_t pbUInt64Size(uint64_t value) {
  uint32_t size = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++size;
  }
  return size;
}

uint32_t pbInt32Size(int32_t value) {
  return value < 0 ? 10 : pbRawVarint32Size(static_cast<uint32_t>(value));
}

CodedInputData::CodedInputData(const void* data, size_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(size) {}

void CodedInputData::throwReachEnd() const {
  throw std::out_of_range("reach end, m_position: " + std::to_string(position_) +
                          ", m_size: " + std::to_string(size_));
}

void CodedInputData::throwKeyTooLong() { throw std::length_error("InvalidProtocolBuffer key too long"); }

void CodedInputData::throwOutOfSpace() { throw std::out_of_range("OutOfSpace"); }



int64_t CodedInputData::readRawVarint64() {
  uint64_t result = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const uint8_t byte = readRawByte();
    result |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return static_cast<int64_t>(result);
  }
  throw std::invalid_argument("InvalidProtocolBuffer malformedInt64");
}

uint32_t CodedInputData::readRawLittleEndian32() {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(readRawByte()) << (8 * i);
  return value;
}

uint64_t CodedInputData::readRawLittleEndian64() {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(readRawByte()) << (8 * i);
  return value;
}

float CodedInputData::readFloat() { return std::bit_cast<float>(readRawLittleEndian32()); }
double CodedInputData::readDouble() { return std::bit_cast<double>(readRawLittleEndian64()); }

int32_t checkedLength(int32_t length, size_t remaining) {
  if (length < 0) throw std::length_error("InvalidProtocolBuffer negativeSize");
  if (static_cast<size_t>(length) > remaining) {
    throw std::out_of_range("InvalidProtocolBuffer truncatedMessage");
  }
  return length;
}


std::string CodedInputData::readString() {
  const int32_t length = readLength();
  std::string value(reinterpret_cast<const char*>(data_ + position_), static_cast<size_t>(length));
  position_ += static_cast<size_t>(length);
  return value;
}



RvBuffer CodedInputData::readData() {
  const int32_t length = readLength();
  RvBuffer value(data_ + position_, static_cast<size_t>(length), RvBufferCopy);
  position_ += static_cast<size_t>(length);
  return value;
}


CodedOutputData::CodedOutputData(void* data, size_t size)
    : data_(static_cast<uint8_t*>(data)), size_(size) {}

void CodedOutputData::writeRawByte(uint8_t value) {
  if (position_ >= size_) {
    throw std::out_of_range("m_position: " + std::to_string(position_) +
                            " m_size: " + std::to_string(size_));
  }
  data_[position_++] = value;
}

void CodedOutputData::writeRawVarint32(int32_t value) {
  auto bits = static_cast<uint32_t>(value);
  while (bits >= 0x80) {
    writeRawByte(static_cast<uint8_t>((bits & 0x7f) | 0x80));
    bits >>= 7;
  }
  writeRawByte(static_cast<uint8_t>(bits));
}

void CodedOutputData::writeRawVarint64(int64_t value) {
  auto bits = static_cast<uint64_t>(value);
  while (bits >= 0x80) {
    writeRawByte(static_cast<uint8_t>((bits & 0x7f) | 0x80));
    bits >>= 7;
  }
  writeRawByte(static_cast<uint8_t>(bits));
}

void CodedOutputData::writeInt32(int32_t value) {
  if (value < 0) {
    writeRawVarint64(value);
  } else {
    writeRawVarint32(value);
  }
}

void CodedOutputData::writeRawLittleEndian32(uint32_t value) {
  for (int i = 0; i < 4; ++i) writeRawByte(static_cast<uint8_t>(value >> (8 * i)));
}

void CodedOutputData::writeRawLittleEndian64(uint64_t value) {
  for (int i = 0; i < 8; ++i) writeRawByte(static_cast<uint8_t>(value >> (8 * i)));
}

void CodedOutputData::writeFloat(float value) { writeRawLittleEndian32(std::bit_cast<uint32_t>(value)); }
void CodedOutputData::writeDouble(double value) { writeRawLittleEndian64(std::bit_cast<uint64_t>(value)); }

void CodedOutputData::writeData(std::span<const uint8_t> bytes) {
  writeRawVarint32(static_cast<int32_t>(bytes.size()));
  writeRawData(bytes);
}

void CodedOutputData::writeRawData(std::span<const uint8_t> bytes) {
  if (bytes.size() > spaceLeft()) {
    throw std::out_of_range("m_position: " + std::to_string(position_) +
                            ", numberOfBytes: " + std::to_string(bytes.size()) +
                            ", m_size: " + std::to_string(size_));
  }
  if (!bytes.empty()) std::memcpy(data_ + position_, bytes.data(), bytes.size());
  position_ += bytes.size();
}

void CodedOutputData::seek(size_t n) {
  if (n > spaceLeft()) throw std::out_of_range("OutOfSpace");
  position_ += n;
}

void CodedOutputData::setPosition(size_t position) {
  if (position > size_) throw std::out_of_range("OutOfSpace");
  position_ = position;
}

namespace {

// Whether every byte is ASCII, eight at a time (the last eight overlapping).
bool isAscii(std::span<const uint8_t> bytes) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  const size_t n = bytes.size();
  if (n < 8) {
    uint8_t all = 0;
    for (const uint8_t byte : bytes) all |= byte;
    return all < 0x80;
  }
  uint64_t all = 0;
  for (size_t i = 0; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, sizeof word);
    all |= word;
  }
  uint64_t last;
  std::memcpy(&last, bytes.data() + n - 8, sizeof last);
  return ((all | last) & kHighBits) == 0;
}

}  // namespace

bool isValidUtf8(std::span<const uint8_t> bytes) {
  // Keys are mostly ASCII.
  if (isAscii(bytes)) return true;
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = bytes[i];
    size_t extra = 0;
    uint32_t codePoint = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xe0) == 0xc0) {
      extra = 1;
      codePoint = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
      extra = 2;
      codePoint = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
      extra = 3;
      codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (extra > bytes.size() - i - 1) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((bytes[i + k] & 0xc0) != 0x80) return false;
      codePoint = (codePoint << 6) | (bytes[i + k] & 0x3f);
    }
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kMinimum[extra] || codePoint > 0x10ffff ||
        (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

template <>
bool decodeValue<bool>(std::span<const uint8_t> b) { return CodedInputData(b).readBool(); }
template <>
int32_t decodeValue<int32_t>(std::span<const uint8_t> b) { return CodedInputData(b).readInt32(); }
template <>
uint32_t decodeValue<uint32_t>(std::span<const uint8_t> b) { return CodedInputData(b).readUInt32(); }
template <>
int64_t decodeValue<int64_t>(std::span<const uint8_t> b) { return CodedInputData(b).readInt64(); }
template <>
uint64_t decodeValue<uint64_t>(std::span<const uint8_t> b) { return CodedInputData(b).readUInt64(); }
template <>
float decodeValue<float>(std::span<const uint8_t> b) { return CodedInputData(b).readFloat(); }
template <>
double decodeValue<double>(std::span<const uint8_t> b) { return CodedInputData(b).readDouble(); }
template <>
std::string decodeValue<std::string>(std::span<const uint8_t> b) { return CodedInputData(b).readString(); }
template <>
std::vector<uint8_t> decodeValue<std::vector<uint8_t>>(std::span<const uint8_t> b) {
  const RvBuffer value = CodedInputData(b).readData();
  return std::vector<uint8_t>(value.data(), value.data() + value.length());
}

}  // namespace cask
