#pragma once
// Block buffers over the block cache memory (format: docs/log_format.md).
// Each async record is compressed straight into the open block, so a mapped
// cache keeps every accepted record across a crash.
//
// The cache holds at most two blocks, each in its own half: while a sealed
// block waits to be written out, records go into a new block in the other
// half, so a writer never waits for the file. A block is zeroed only when
// told that it is safely elsewhere, or when it is given up: a block whose
// write failed stays until newer records need its half, and its records are
// then counted as dropped. The count of dropped records, and the record
// count of each block, are kept in counters beside the blocks, so that they
// survive a kill with them.
//
// Not thread-safe: the appender serialises all calls with its buffer lock.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
// The blocks of a block cache of `size` bytes (no more than
// kBufferBlockLength are looked at: the counters after them are no block),
// oldest first: an async block (hours 0..23) at offset 0 that fits the
// memory, and one at the middle unless the first reaches past it. Two are
// ordered by sequence number. A cache an earlier version left, one block at
// offset 0 that may run past the middle and zeros after it, reads the same.
[[nodiscard]] std::vector<CacheBlock> LocateCacheBlocks(const uint8_t* mem, size_t size);
// The count of dropped records in the kCacheCountersLen bytes of counters
// at `counters`: 0 when none, nullopt when the word is damaged.
[[nodiscard]] std::optional<uint32_t> CachedDropCount(std::span<const uint8_t> counters);

// Test hook, called while a block's memory is zeroed, once the bytes where a
// block may start are zero and before the rest is (null: none). Lets a test
// see what a kill at that moment would leave.
void SetZeroingHookForTesting(void (*hook)(const uint8_t* mem, size_t size));

class LogBaseBuffer {
 public:
  // `buffer` (`len` bytes) must outlive this object; so must `counters`
  // (kCacheCountersLen bytes, 8-byte aligned) when given: without them the
  // counts live in this object. Blocks an earlier run left in the buffer
  // are adopted and sealed (end hour, tail byte), with their counts; every
  // other byte is zeroed. Take them out with TakeOldestSealed() and
  // DropOldestSealed() (or Flush()) before writing: until then they fill
  // the cache.
  LogBaseBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey,
                void* counters = nullptr);
  virtual ~LogBaseBuffer();
  LogBaseBuffer(const LogBaseBuffer&) = delete;
  LogBaseBuffer& operator=(const LogBaseBuffer&) = delete;

  // Compresses `inLen` bytes into `out`; the bytes produced, or SIZE_MAX.
  virtual size_t Compress(const void* in, size_t inLen, void* out, size_t outLen) = 0;

  // Appends one sync block of the text to `out`; false for empty text.
  bool Write(const void* data, size_t len, vela::comm::AutoBuffer& out);
  // Adds one record to the open block. An open block the record does not
  // fit into (or whose compressor failed) keeps what it has and is sealed,
  // and the record starts a new block in the other half; a sealed block
  // there whose write failed is given up for it. False, with nothing of the
  // record stored, for empty input, or when no half can be had: the record
  // is then counted as dropped.
  bool Write(const void* data, size_t len);

  // Seals the open block where it stands (end hour, tail byte): it takes
  // no more records and waits to be taken out. An open block without a body
  // is dropped instead. Nothing when no block is open.
  void Seal();
  // The oldest sealed block (header, body, tail), empty when there is none.
  // The bytes stay as they are until it is dropped: writers only touch the
  // open block, so they may be read without the buffer lock meanwhile.
  [[nodiscard]] std::span<const uint8_t> OldestSealed() const;
  // OldestSealed(), to be written now: it is not given up for newer records
  // until DropOldestSealed() or KeepOldestSealed().
  [[nodiscard]] std::span<const uint8_t> TakeOldestSealed();
  // Zeroes the oldest sealed block: call once it is in the log file. Its
  // first byte goes first, so a kill part-way leaves no header behind.
  void DropOldestSealed();
  // The oldest sealed block could not be written: it stays to be tried
  // again, and is given up when newer records need its half.
  void KeepOldestSealed();
  // Seal(), then every sealed block, oldest first, appended to `out` and
  // dropped: the memory is all zero afterwards.
  void Flush(vela::comm::AutoBuffer& out);
  // Zeroes the whole memory and the counters, and forgets every block.
  void Clear();

  // Records dropped (no room, or in a block given up) not yet noted in the
  // log.
  [[nodiscard]] uint32_t Dropped() const { return dropped_; }
  // The count of dropped records an earlier run left did not check: taken
  // as 0, and to be said in the log.
  [[nodiscard]] bool DropCountWasDamaged() const { return dropCountDamaged_; }
  // `n` (at most Dropped()) of the dropped records are now noted in the log.
  void ForgetDropped(uint32_t n);
  // `n` more records were dropped (also those a sync writer's file refused:
  // kept in the counters, a kill does not lose their count).
  void AddDropped(uint32_t n);
  // Records held in the blocks (an adopted block's count as it was kept).
  [[nodiscard]] uint64_t HeldRecords() const;
  // Length of the open block (header and body), 0 when none is open.
  [[nodiscard]] size_t OpenLength() const;
  [[nodiscard]] size_t SealedCount() const;
  [[nodiscard]] bool IsEmpty() const { return count_ == 0; }
  // Blocks sealed so far: grows whenever a block is sealed.
  [[nodiscard]] uint64_t SealedSoFar() const { return sealedSoFar_; }
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
    uint32_t records = 0;  // 0 for an adopted block whose count is unknown
    bool sealed = false;
    bool writing = false;  // taken out to be written
    bool failed = false;   // its last write failed
  };

  // Adopts the blocks an earlier run left; zeroes the rest of the memory.
  void Fix();
  // A new open block in a free half; false when none is free.
  bool StartBlock();
  // Gives up the oldest block if its write failed; false when it cannot go.
  bool GiveUpOldest();
  bool Append(Block& block, const void* data, size_t len);
  void SealBlock(size_t index);
  void DropBlock(size_t index);
  void ZeroMemory(size_t from, size_t to);
  [[nodiscard]] Block* OpenBlock();
  // The counter of a block's records: by the half it lives in.
  [[nodiscard]] size_t CounterOf(const Block& block) const;
  void StoreCounter(size_t index, uint32_t value);

  uint8_t* mem_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<LogCrypt> logCrypt_;
  Block blocks_[2];
  size_t count_ = 0;  // blocks_[0] is the oldest
  size_t remainNoCryptLen_ = 0;
  uint64_t ownCounters_[3] = {};
  uint64_t* counters_ = ownCounters_;  // dropped, block at 0, block at the middle
  uint32_t dropped_ = 0;
  bool dropCountDamaged_ = false;
  uint64_t sealedSoFar_ = 0;
};

class LogZlibBuffer final : public LogBaseBuffer {
 public:
  LogZlibBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey,
                void* counters = nullptr);
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
  LogZstdBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey, int level,
                void* counters = nullptr);
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
