#pragma once
// Block buffers over the block cache memory (format: docs/log_format.md).
// Each async record is compressed straight into the open block, so a mapped
// cache keeps every accepted record across a crash.
//
// The cache holds at most two blocks, one starting at offset 0 and one at
// the middle: while a sealed block waits to be written out, records go into
// a new block in the other half, so a writer never waits for the file. A
// block is zeroed only when told that it is safely elsewhere.
//
// Not thread-safe: the appender serialises all calls with its buffer lock.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "jot/auto_buffer.h"
#include "jot/log_crypt.h"

typedef struct z_stream_s z_stream;
typedef struct ZSTD_CCtx_s ZSTD_CCtx;

namespace vela::jot {

// A block found in a block cache: its offset and body length.
struct CacheBlock {
  size_t offset = 0;
  uint32_t bodyLength = 0;
};
// The blocks of a block cache of `size` bytes, oldest first: an async block
// (hours 0..23) at offset 0 that fits the memory, and one at `size / 2`
// unless the first reaches past it. Two are ordered by sequence number.
[[nodiscard]] std::vector<CacheBlock> LocateCacheBlocks(const uint8_t* mem, size_t size);

class LogBaseBuffer {
 public:
  // `buffer` (`len` bytes) must outlive this object. Blocks an earlier run
  // left in it are adopted and sealed (end hour, tail byte); every other
  // byte is zeroed. Take them out with OldestSealed() and DropOldestSealed()
  // (or Flush()) before writing: until then they fill the cache.
  LogBaseBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey);
  virtual ~LogBaseBuffer();
  LogBaseBuffer(const LogBaseBuffer&) = delete;
  LogBaseBuffer& operator=(const LogBaseBuffer&) = delete;

  // Compresses `inLen` bytes into `out`; the bytes produced, or SIZE_MAX.
  virtual size_t Compress(const void* in, size_t inLen, void* out, size_t outLen) = 0;

  // Appends one sync block of the text to `out`; false for empty text.
  bool Write(const void* data, size_t len, vela::comm::AutoBuffer& out);
  // Adds one record to the open block. An open block the record does not
  // fit into (or whose compressor failed) keeps what it has and is sealed,
  // and the record starts a new block in the free half. False, with nothing
  // of the record stored, for empty input or when no half is free.
  bool Write(const void* data, size_t len);

  // Seals the open block where it stands (end hour, tail byte): it takes
  // no more records and waits to be taken out. An open block without a body
  // is dropped instead. Nothing when no block is open.
  void Seal();
  // The oldest sealed block (header, body, tail), empty when there is none.
  // The bytes stay as they are until DropOldestSealed(): writers only touch
  // the open block, so they may be read without the buffer lock meanwhile.
  [[nodiscard]] std::span<const uint8_t> OldestSealed() const;
  // Zeroes the oldest sealed block: call once it is in the log file. Its
  // first byte goes first, so a kill part-way leaves no header behind.
  void DropOldestSealed();
  // Seal(), then every sealed block, oldest first, appended to `out` and
  // dropped: the memory is all zero afterwards.
  void Flush(vela::comm::AutoBuffer& out);
  // Zeroes the whole memory and forgets every block.
  void Clear();

  // Length of the open block (header and body), 0 when none is open.
  [[nodiscard]] size_t OpenLength() const;
  [[nodiscard]] size_t SealedCount() const;
  [[nodiscard]] bool IsCrypt() const { return isCrypt_; }
  [[nodiscard]] LogCrypt& Crypt() { return *logCrypt_; }
  [[nodiscard]] char SyncMagic() const { return GetMagicSyncStart(); }

 protected:
  // Starts a fresh stream for a new block; false when it cannot be set up.
  virtual bool Reset() = 0;
  [[nodiscard]] virtual char GetMagicSyncStart() const = 0;
  [[nodiscard]] virtual char GetMagicAsyncStart() const = 0;
  // Ends the stream without emitting anything more.
  virtual void EndStream() = 0;

  bool isCompress_;
  bool isCrypt_;
  // The open block's compressor stream is usable.
  bool streamLive_ = false;

 private:
  struct Block {
    size_t offset = 0;
    size_t length = 0;    // header and committed body, no tail
    size_t limit = 0;     // end of the memory this block may use
    size_t dirtyEnd = 0;  // bytes from `offset` up to here may be non-zero
    bool sealed = false;
  };

  // Adopts the blocks an earlier run left; zeroes the rest of the memory.
  void Fix();
  // A new open block in a free half; false when none is free.
  bool StartBlock();
  bool Append(Block& block, const void* data, size_t len);
  void SealBlock(size_t index);
  void DropBlock(size_t index);
  [[nodiscard]] Block* OpenBlock();

  uint8_t* mem_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<LogCrypt> logCrypt_;
  Block blocks_[2];
  size_t count_ = 0;  // blocks_[0] is the oldest
  size_t remainNoCryptLen_ = 0;
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
