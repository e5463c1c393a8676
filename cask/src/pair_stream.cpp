#include "pair_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crc.h"

namespace cask {

namespace {
constexpr size_t kChunk = 64 * 1024;
// Enough for a pair with a key and a value of up to 126 bytes each.
constexpr size_t kSmallPair = 256;
}  // namespace

PairStream::PairStream(int fd, uint64_t contentStart, size_t size, size_t from)
    : fd_(fd), contentStart_(contentStart), size_(size), position_(from), bufferStart_(from) {
  if (from > size) throw std::out_of_range("OutOfSpace");
  buffer_.resize(std::min(kChunk, size - from));
}

void PairStream::refill(size_t n) {
  const size_t wanted = std::min(n, size_ - position_);
  // A skipped value may have left the buffer behind.
  leaveSkipped();
  if (buffered() >= wanted) return;
  const size_t kept = buffered();
  std::memmove(buffer_.data(), current(), kept);
  bufferStart_ = position_;
  filled_ = kept;
  if (buffer_.size() < wanted) buffer_.resize(std::max(wanted, kChunk));
  while (filled_ < wanted) {
    const size_t length = std::min(buffer_.size() - filled_, size_ - (bufferStart_ + filled_));
    const ssize_t got = pread(fd_, buffer_.data() + filled_, length,
                              static_cast<off_t>(contentStart_ + bufferStart_ + filled_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      throw std::runtime_error(std::string("fail to read the content: ") +
                               (got < 0 ? std::strerror(errno) : "the file ends early"));
    }
    if (crc_) crc_ = crc32Of(*crc_, buffer_.data() + filled_, static_cast<size_t>(got));
    filled_ += static_cast<size_t>(got);
  }
}

void PairStream::leaveSkipped() {
  const size_t end = bufferStart_ + filled_;
  if (position_ <= end) return;
  if (crc_) {
    crc_ = fileCrc32(fd_, contentStart_ + end, position_ - end, *crc_);
    if (!crc_) throw std::runtime_error("fail to read the content");
  }
  bufferStart_ = position_;
  filled_ = 0;
}

uint32_t PairStream::crc() {
  leaveSkipped();
  return crc_.value_or(0);
}

uint8_t PairStream::readRawByte() {
  ensure(1);
  if (position_ == size_) {
    throw std::out_of_range("reach end, m_position: " + std::to_string(position_) +
                            ", m_size: " + std::to_string(size_));
  }
  const uint8_t byte = *current();
  ++position_;
  return byte;
}

int32_t PairStream::readRawVarint32() {
  ensure(5);
  // The common one- and two-byte forms straight from the buffer.
  if (buffered() >= 2) {
    const uint8_t* p = current();
    if (p[0] < 0x80) {
      position_ += 1;
      return p[0];
    }
    if (p[1] < 0x80) {
      position_ += 2;
      return static_cast<int32_t>((p[0] & 0x7fu) | (uint32_t{p[1]} << 7));
    }
  }
  return readVarint32From(*this);
}

int32_t PairStream::readLength() {
  const int32_t length = readRawVarint32();
  if (length < 0 || static_cast<size_t>(length) > size_ - position_) return checkedLength(length, size_ - position_);
  return length;
}

PairStream::Pair PairStream::readPair() {
  // Most pairs are small and lie whole in the buffer: both lengths in one
  // byte each, read without further checks.
  ensure(kSmallPair);
  const size_t available = buffered();
  const uint8_t* p = current();
  if (available >= 2 && p[0] < 0x80 && size_t{p[0]} + 2 <= available && p[p[0] + 1] < 0x80) {
    const uint32_t keyLength = p[0];
    const uint32_t valueLength = p[keyLength + 1];
    const size_t start = position_;
    if (valueLength <= size_ - start - keyLength - 2 && start <= 0xffffffffu) {
      position_ += keyLength + 2 + valueLength;
      return {static_cast<uint32_t>(start), {reinterpret_cast<const char*>(p + 1), keyLength}, valueLength};
    }
  }
  return readPairSlowly();
}

PairStream::Pair PairStream::readPairSlowly() {
  const size_t start = position_;
  const int32_t keyLength = readLength();
  if (keyLength > 0xffff || start > 0xffffffffu) throw std::length_error("InvalidProtocolBuffer key too long");
  // The key and the value's length prefix after it.
  ensure(static_cast<size_t>(keyLength) + 10);
  const std::string_view key(reinterpret_cast<const char*>(current()), static_cast<size_t>(keyLength));
  position_ += static_cast<size_t>(keyLength);
  const int32_t valueLength = readLength();
  position_ += static_cast<size_t>(valueLength);
  return {static_cast<uint32_t>(start), key, static_cast<uint32_t>(valueLength)};
}

std::optional<uint32_t> fileCrc32(int fd, uint64_t offset, size_t length, uint32_t crc) {
  std::vector<uint8_t> chunk(std::min(kChunk, length));
  while (length > 0) {
    const ssize_t got = pread(fd, chunk.data(), std::min(chunk.size(), length), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    crc = crc32Of(crc, chunk.data(), static_cast<size_t>(got));
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return crc;
}

}  // namespace cask
