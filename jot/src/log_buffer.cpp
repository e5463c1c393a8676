#include "jot/log_buffer.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>
#include <zstd.h>

#include "jot/log_format.h"

namespace vela::jot {

LogBaseBuffer::LogBaseBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey)
    : isCompress_(isCompress), logCrypt_(std::make_unique<LogCrypt>(pubkey)) {
  isCrypt_ = logCrypt_->IsCrypt();
  buff_.Attach(buffer, len);
  dirtyLen_ = buff_.MaxLength();
  Fix();
}

LogBaseBuffer::~LogBaseBuffer() = default;

void LogBaseBuffer::Fix() {
  uint32_t bodyLen = 0;
  const size_t max = buff_.MaxLength();
  // Adopt a left-over block only when it fits: a damaged length must not
  // make the next flush read past the memory.
  if (buff_.Ptr() && logCrypt_->Fix(static_cast<const char*>(buff_.Ptr()), max, bodyLen) &&
      bodyLen <= max - kBlockHeaderLen - kBlockTailLen) {
    buff_.Length(kBlockHeaderLen + bodyLen, kBlockHeaderLen + bodyLen);
  } else {
    buff_.Length(0, 0);
  }
}

bool LogBaseBuffer::Reset() {
  if (!buff_.Ptr()) return false;
  Clear();
  logCrypt_->SetHeaderInfo(static_cast<char*>(buff_.Ptr()), true, GetMagicAsyncStart());
  buff_.Length(kBlockHeaderLen, kBlockHeaderLen);
  dirtyLen_ = kBlockHeaderLen;
  return true;
}

bool LogBaseBuffer::Write(const void* data, size_t len, vela::comm::AutoBuffer& out) {
  if (!data || len == 0) return false;
  logCrypt_->CryptSyncLog(static_cast<const char*>(data), len, out, GetMagicSyncStart());
  return true;
}

bool LogBaseBuffer::Write(const void* data, size_t len) {
  if (!data || len == 0 || !buff_.Ptr()) return false;
  if (buff_.Length() == 0) {
    if (!Reset()) return false;
  } else if (!streamLive_) {
    return false;  // an adopted block must be flushed first
  }
  auto* mem = static_cast<uint8_t*>(buff_.Ptr());
  const size_t before = buff_.Length();
  // Keep the tail byte's room free.
  const size_t room = buff_.MaxLength() - before - kBlockTailLen;
  size_t produced;
  if (isCompress_) {
    produced = Compress(data, len, mem + before, room);
    if (produced == SIZE_MAX) {
      dirtyLen_ = buff_.MaxLength();  // the compressor may have left bytes anywhere
      // The stream is out of step with the block: keep what is committed and
      // take no more records until the block is flushed.
      EndStream();
      return false;
    }
  } else {
    produced = std::min(len, room);
    std::memcpy(mem + before, data, produced);
  }
  if (produced == 0) return true;
  dirtyLen_ = std::max(dirtyLen_, before + produced);

  const size_t start = before - remainNoCryptLen_;
  const size_t count = remainNoCryptLen_ + produced;
  if (!isCrypt_) {
    logCrypt_->UpdateLogLen(static_cast<char*>(buff_.Ptr()), static_cast<uint32_t>(produced));
    buff_.Length(before + produced, before + produced);
    return true;
  }
  // The bytes before `before` are already counted in the header. Encipher
  // their unit aside and store it only after the length moved on, so that a
  // kill leaves either the old block or the new one (but for two stores).
  uint8_t firstUnit[8];
  const bool hasUnit = count >= 8;
  if (hasUnit) {
    std::memcpy(firstUnit, mem + start, 8);
    logCrypt_->EncipherInPlace(firstUnit, 8);
    logCrypt_->EncipherInPlace(mem + start + 8, count - 8);
  }
  logCrypt_->UpdateLogLen(static_cast<char*>(buff_.Ptr()), static_cast<uint32_t>(produced));
  if (hasUnit) std::memcpy(mem + start, firstUnit, 8);
  remainNoCryptLen_ = count % 8;
  buff_.Length(start + count, start + count);
  return true;
}

void LogBaseBuffer::Flush(vela::comm::AutoBuffer& out) {
  Seal(out);
  Clear();
}

void LogBaseBuffer::Seal(vela::comm::AutoBuffer& out) {
  EndStream();
  streamLive_ = false;
  char* mem = static_cast<char*>(buff_.Ptr());
  if (!mem) return;
  const uint32_t bodyLen = LogCrypt::GetLogLen(mem, buff_.Length());
  if (bodyLen > 0 && kBlockHeaderLen + bodyLen + kBlockTailLen <= buff_.MaxLength()) {
    logCrypt_->UpdateLogHour(mem);
    logCrypt_->SetTailerInfo(mem + kBlockHeaderLen + bodyLen, 0);
    dirtyLen_ = std::max(dirtyLen_, kBlockHeaderLen + bodyLen + kBlockTailLen);
    const size_t start = out.Length();
    out.Length(start, start);
    out.Write(mem, kBlockHeaderLen + bodyLen + kBlockTailLen);
  }
}

void LogBaseBuffer::Clear() {
  if (buff_.Ptr()) std::memset(buff_.Ptr(), 0, std::min(dirtyLen_, buff_.MaxLength()));
  dirtyLen_ = 0;
  buff_.Length(0, 0);
  remainNoCryptLen_ = 0;
}

LogZlibBuffer::LogZlibBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey)
    : LogBaseBuffer(buffer, len, isCompress, pubkey), cstream_(std::make_unique<z_stream>()) {
  std::memset(cstream_.get(), 0, sizeof(z_stream));
}

LogZlibBuffer::~LogZlibBuffer() {
  if (streamReady_) deflateEnd(cstream_.get());
}

void LogZlibBuffer::EndStream() {
  // Nothing more is emitted; the stream's memory is kept for the next block.
  streamLive_ = false;
}

bool LogZlibBuffer::Reset() {
  EndStream();
  if (!LogBaseBuffer::Reset()) return false;
  if (isCompress_) {
    // A reset stream starts exactly like a new one, without its allocations.
    const int ret = streamReady_ ? deflateReset(cstream_.get())
                                 : deflateInit2(cstream_.get(), 9, Z_DEFLATED, -MAX_WBITS, 9,
                                                Z_DEFAULT_STRATEGY);
    if (ret != Z_OK) {
      if (streamReady_) deflateEnd(cstream_.get());
      std::memset(cstream_.get(), 0, sizeof(z_stream));
      streamReady_ = false;
      Clear();
      return false;
    }
    streamReady_ = true;
  }
  streamLive_ = true;
  return true;
}

size_t LogZlibBuffer::Compress(const void* in, size_t inLen, void* out, size_t outLen) {
  if (!streamLive_) return SIZE_MAX;
  z_stream* zs = cstream_.get();
  zs->next_in = static_cast<Bytef*>(const_cast<void*>(in));
  zs->avail_in = static_cast<uInt>(inLen);
  zs->next_out = static_cast<Bytef*>(out);
  zs->avail_out = static_cast<uInt>(outLen);
  if (deflate(zs, Z_SYNC_FLUSH) != Z_OK) return SIZE_MAX;
  // Everything must have fitted, or the stream is out of step with the block.
  if (zs->avail_in != 0 || zs->avail_out == 0) return SIZE_MAX;
  return outLen - zs->avail_out;
}

char LogZlibBuffer::GetMagicSyncStart() const {
  return static_cast<char>(isCrypt_ ? kMagicZlibCryptSync : kMagicZlibPlainSync);
}

char LogZlibBuffer::GetMagicAsyncStart() const {
  return static_cast<char>(isCrypt_ ? kMagicZlibCryptAsync : kMagicZlibPlainAsync);
}

LogZstdBuffer::LogZstdBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey,
                             int level)
    : LogBaseBuffer(buffer, len, isCompress, pubkey), cctx_(ZSTD_createCCtx()) {
  if (cctx_) {
    ZSTD_CCtx_setParameter(cctx_, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(cctx_, ZSTD_c_windowLog, 16);
  }
}

LogZstdBuffer::~LogZstdBuffer() {
  EndStream();
  ZSTD_freeCCtx(cctx_);
}

void LogZstdBuffer::EndStream() {
  // The frame stays open on disk; dropping the session emits nothing.
  if (cctx_) ZSTD_CCtx_reset(cctx_, ZSTD_reset_session_only);
  streamLive_ = false;
}

bool LogZstdBuffer::Reset() {
  EndStream();
  if (!cctx_ || !LogBaseBuffer::Reset()) return false;
  streamLive_ = true;
  return true;
}

size_t LogZstdBuffer::Compress(const void* in, size_t inLen, void* out, size_t outLen) {
  if (!streamLive_) return SIZE_MAX;
  ZSTD_inBuffer input{in, inLen, 0};
  ZSTD_outBuffer output{out, outLen, 0};
  size_t remaining;
  do {
    remaining = ZSTD_compressStream2(cctx_, &output, &input, ZSTD_e_flush);
    if (ZSTD_isError(remaining)) return SIZE_MAX;
  } while (remaining != 0 && output.pos < output.size);
  if (remaining != 0) return SIZE_MAX;
  return output.pos;
}

char LogZstdBuffer::GetMagicSyncStart() const {
  return static_cast<char>(isCrypt_ ? kMagicZstdCryptSync : kMagicZstdPlainSync);
}

char LogZstdBuffer::GetMagicAsyncStart() const {
  return static_cast<char>(isCrypt_ ? kMagicZstdCryptAsync : kMagicZstdPlainAsync);
}

}  // namespace vela::jot
