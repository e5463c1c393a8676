#include "jot/auto_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "jot/jotter.h"

namespace vela::comm {

namespace {
constexpr size_t kLargeBuffer = 50 * 1024 * 1024;
}  // namespace

const AutoBuffer KNullAtuoBuffer;

AutoBuffer::AutoBuffer(size_t mallocUnit) : unit_(mallocUnit ? mallocUnit : 128) {}

AutoBuffer::~AutoBuffer() { std::free(data_); }

bool AutoBuffer::Fit(size_t needed) {
  if (needed <= capacity_) return true;
  VELA_CHECK2(needed <= kLargeBuffer, "_len <= 50 * 1024 * 1024", "%llu",
              static_cast<unsigned long long>(needed));
  const size_t newCapacity = (needed + unit_ - 1) / unit_ * unit_;
  auto* grown = static_cast<unsigned char*>(std::realloc(data_, newCapacity));
  if (!grown) {
    VELA_CHECK2(grown, "p", "_len=%llu, m_nMallocUnitSize=%llu, nMallocSize=%llu, m_nCapacity=%llu",
                static_cast<unsigned long long>(needed), static_cast<unsigned long long>(unit_),
                static_cast<unsigned long long>(newCapacity),
                static_cast<unsigned long long>(capacity_));
    std::free(data_);
    data_ = nullptr;
    pos_ = length_ = capacity_ = 0;
    return false;
  }
  std::memset(grown + capacity_, 0, newCapacity - capacity_);
  data_ = grown;
  capacity_ = newCapacity;
  return true;
}

void AutoBuffer::Write(const void* data, size_t len) {
  VELA_CHECK(data != nullptr || len == 0, "NULL != _pbuffer || 0 == _len");
  VELA_CHECK(pos_ <= length_, "(size_t)_pos <= Length()");
  if (len == 0 || data == nullptr) return;
  if (!Fit(pos_ + len)) return;
  std::memcpy(data_ + pos_, data, len);
  pos_ += len;
  length_ = std::max(length_, pos_);
}

void AutoBuffer::AllocWrite(size_t len, bool changeLength) {
  if (!Fit(pos_ + len)) return;
  if (changeLength) length_ = std::max(length_, pos_ + len);
}

void AutoBuffer::Length(size_t pos, size_t len) {
  length_ = std::min(len, capacity_);
  pos_ = std::min(pos, length_);
}

void AutoBuffer::Reset() { pos_ = length_ = 0; }

PtrBuffer::PtrBuffer(void* data, size_t length, size_t maxLength)
    : data_(static_cast<unsigned char*>(data)),
      length_(std::min(length, maxLength)),
      maxLength_(maxLength) {
  VELA_CHECK(length <= maxLength, "length_ <= max_length_");
}

void PtrBuffer::Attach(void* data, size_t len) {
  data_ = static_cast<unsigned char*>(data);
  pos_ = 0;
  length_ = maxLength_ = len;
}

void PtrBuffer::Write(const void* data, size_t len) {
  VELA_CHECK(data_ != nullptr, "NULL != _pBuffer");
  VELA_CHECK(pos_ <= length_, "(unsigned int)_nPos <= Length()");
  if (!data_ || !data) return;
  const size_t copied = std::min(maxLength_ - pos_, len);
  std::memcpy(data_ + pos_, data, copied);
  length_ = std::max(length_, pos_ + copied);
  pos_ = std::min(pos_ + len, length_);
}

void PtrBuffer::Write(const void* data, size_t len, size_t pos) {
  VELA_CHECK(data_ != nullptr, "NULL != _pBuffer");
  if (!data_ || !data || pos > maxLength_) return;
  const size_t copied = std::min(maxLength_ - pos, len);
  std::memcpy(data_ + pos, data, copied);
  length_ = std::max(length_, pos + copied);
}

void PtrBuffer::Length(size_t pos, size_t len) {
  VELA_CHECK(pos <= len, "(size_t)_nPos <= _nLenght");
  VELA_CHECK(len <= maxLength_, "_nLenght <= MaxLength()");
  length_ = std::min(len, maxLength_);
  pos_ = std::min(pos, length_);
}

}  // namespace vela::comm
