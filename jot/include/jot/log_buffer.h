#pragma once
// Block buffers over the block cache memory (format: docs/log_format.md).
// Each async record is compressed straight into the open block, so a mapped
// cache keeps every accepted record across a crash. Not thread-safe: the
// appender serialises all calls with its buffer lock.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "jot/auto_buffer.h"
#include "jot/log_crypt.h"

typedef struct z_stream_s z_stream;
typedef struct ZSTD_CCtx_s ZSTD_CCtx;

namespace vela::jot {

class LogBaseBuffer {
 public:
  // `buffer` (`len` bytes) must outlive this object. A block left in it by
  // an earlier run is adopted when its header is valid and it fits; call
  // Flush() before the first async Write() to take it out.
  LogBaseBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey);
  virtual ~LogBaseBuffer();
  LogBaseBuffer(const LogBaseBuffer&) = delete;
  LogBaseBuffer& operator=(const LogBaseBuffer&) = delete;

  // Compresses `inLen` bytes into `out`; the bytes produced, or SIZE_MAX.
  virtual size_t Compress(const void* in, size_t inLen, void* out, size_t outLen) = 0;
  // Finishes the open block, appends it to `out` when it has a body, and
  // zeroes the memory: Seal() then Clear().
  virtual void Flush(vela::comm::AutoBuffer& out);
  // Finishes the open block (end hour, tail byte) and appends it to `out`
  // when it has a body, but leaves it in the memory: a crash before Clear()
  // still finds it there. The block takes no more records until Clear().
  void Seal(vela::comm::AutoBuffer& out);
  // Zeroes what the memory may hold and empties the buffer.
  void Clear();

  [[nodiscard]] vela::comm::PtrBuffer& GetData() { return buff_; }
  [[nodiscard]] bool IsCrypt() const { return isCrypt_; }
  // True when the open block takes no more records until it is flushed
  // (an adopted block, or a compressor error).
  [[nodiscard]] bool NeedsFlush() const { return buff_.Length() > 0 && !streamLive_; }
  [[nodiscard]] LogCrypt& Crypt() { return *logCrypt_; }
  [[nodiscard]] char SyncMagic() const { return GetMagicSyncStart(); }

  // Appends one sync block of the text to `out`; false for empty text.
  bool Write(const void* data, size_t len, vela::comm::AutoBuffer& out);
  // Adds one record to the open block (starting one when empty).
  bool Write(const void* data, size_t len);

 protected:
  // Starts a new block: zeroed memory, fresh header, fresh stream.
  virtual bool Reset();
  [[nodiscard]] virtual char GetMagicSyncStart() const = 0;
  [[nodiscard]] virtual char GetMagicAsyncStart() const = 0;
  // Ends the stream without emitting anything more.
  virtual void EndStream() = 0;
  void Fix();

  vela::comm::PtrBuffer buff_;
  bool isCompress_;
  std::unique_ptr<LogCrypt> logCrypt_;
  bool isCrypt_;
  size_t remainNoCryptLen_ = 0;
  bool streamLive_ = false;
  // Bytes from the start of the memory that may be non-zero; zeroing stops
  // there. Unknown (everything) until the first Clear().
  size_t dirtyLen_ = 0;
};

class LogZlibBuffer final : public LogBaseBuffer {
 public:
  LogZlibBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey);
  ~LogZlibBuffer() override;

  size_t Compress(const void* in, size_t inLen, void* out, size_t outLen) override;

 private:
  bool Reset() override;
  char GetMagicSyncStart() const override;
  char GetMagicAsyncStart() const override;
  void EndStream() override;

  std::unique_ptr<z_stream> cstream_;
  bool streamReady_ = false;  // cstream_ holds an initialised stream
};

class LogZstdBuffer final : public LogBaseBuffer {
 public:
  LogZstdBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey, int level);
  ~LogZstdBuffer() override;

  size_t Compress(const void* in, size_t inLen, void* out, size_t outLen) override;

 private:
  bool Reset() override;
  char GetMagicSyncStart() const override;
  char GetMagicAsyncStart() const override;
  void EndStream() override;

  ZSTD_CCtx* cctx_;
};

}  // namespace vela::jot
