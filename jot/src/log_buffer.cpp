#include "jot/log_buffer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstring>
#include <vector>

#include <zlib.h>
#include <zstd.h>

#include "jot/block_reader.h"
#include "jot/log_format.h"

namespace vela::jot {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the cache's counters are stored as native 64-bit words");

constexpr size_t kDroppedCounter = 0;
constexpr size_t kCounterAtStart = 1;
constexpr size_t kCounterAtMiddle = 2;
static_assert(kCacheCountersLen == 3 * sizeof(uint64_t));

std::atomic<void (*)(const uint8_t*, size_t)> gZeroingHook{nullptr};

uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t seqOf(const uint8_t* header) { return static_cast<uint16_t>(header[1] | header[2] << 8); }

// True when sequence number `b` came after `a`: async numbers run 1..65535
// and then 1 again, and the two blocks of one cache are close in that cycle.
bool seqAfter(uint16_t a, uint16_t b) {
  const uint32_t ahead = (static_cast<uint32_t>(b) + 65535 - a) % 65535;
  return ahead != 0 && ahead < 32768;
}

// The high half of a counter word. Not linear in the bits of `n` (as a
// complement is), so that the same bits flipped in both halves do not check.
uint32_t countCheck(uint32_t n) {
  n ^= n >> 16;
  n *= 0x85EBCA6Bu;
  n ^= n >> 13;
  n *= 0xC2B2AE35u;
  n ^= n >> 16;
  return ~n;
}

// A counter is one word, so that a kill leaves the old value or the new one:
// the count in the low half, its check in the high half; 0 is all zero.
uint64_t encodeCount(uint32_t n) {
  return n == 0 ? 0 : uint64_t{n} | uint64_t{countCheck(n)} << 32;
}

std::optional<uint32_t> decodeCount(uint64_t word) {
  if (word == 0) return 0;
  const auto n = static_cast<uint32_t>(word);
  if (static_cast<uint32_t>(word >> 32) != countCheck(n)) return std::nullopt;
  return n;
}

uint64_t loadWord(uint64_t& word) {
  return std::atomic_ref<uint64_t>(word).load(std::memory_order_relaxed);
}

}  // namespace

void SetZeroingHookForTesting(void (*hook)(const uint8_t* mem, size_t size)) {
  gZeroingHook.store(hook, std::memory_order_release);
}

std::optional<uint32_t> CachedDropCount(std::span<const uint8_t> counters) {
  if (counters.size() < sizeof(uint64_t)) return 0;
  uint64_t word = 0;
  std::memcpy(&word, counters.data() + kDroppedCounter * sizeof word, sizeof word);
  return decodeCount(word);
}

std::vector<CacheBlock> LocateCacheBlocks(const uint8_t* mem, size_t size) {
  std::vector<CacheBlock> found;
  if (!mem) return found;
  size = std::min(size, kBufferBlockLength);
  // Only async blocks live here. A block needs its header and room for its
  // tail before `limit`.
  auto blockAt = [&](size_t offset, size_t limit) {
    if (limit < offset + kBlockHeaderLen + kBlockTailLen) return false;
    const uint8_t* header = mem + offset;
    if (!IsAsyncMagic(header[0]) || header[3] > 23 || header[4] > 23) return false;
    const uint32_t bodyLen = loadLe32(mem + offset + kBlockLengthOffset);
    if (bodyLen > limit - offset - kBlockHeaderLen - kBlockTailLen) return false;
    found.push_back({offset, bodyLen});
    return true;
  };
  const size_t half = size / 2;
  if (!blockAt(0, size) ||
      kBlockHeaderLen + found[0].bodyLength + kBlockTailLen <= half) {
    blockAt(half, size);
  }
  if (found.size() == 2 && seqAfter(seqOf(mem + found[1].offset), seqOf(mem + found[0].offset))) {
    std::swap(found[0], found[1]);
  }
  return found;
}

LogBaseBuffer::LogBaseBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey,
                             void* counters)
    : isCompress_(isCompress),
      mem_(static_cast<uint8_t*>(buffer)),
      size_(buffer ? len : 0),
      logCrypt_(std::make_unique<LogCrypt>(pubkey)) {
  isCrypt_ = logCrypt_->IsCrypt();
  if (counters) {
    assert(reinterpret_cast<uintptr_t>(counters) % alignof(uint64_t) == 0);
    counters_ = static_cast<uint64_t*>(counters);
  }
  Fix();
}

LogBaseBuffer::~LogBaseBuffer() = default;

size_t LogBaseBuffer::CounterOf(const Block& block) const {
  return block.offset == 0 ? kCounterAtStart : kCounterAtMiddle;
}

void LogBaseBuffer::StoreCounter(size_t index, uint32_t value) {
  std::atomic_ref<uint64_t>(counters_[index]).store(encodeCount(value), std::memory_order_relaxed);
}

void LogBaseBuffer::AddDropped(uint32_t n) {
  dropped_ = n > UINT32_MAX - dropped_ ? UINT32_MAX : dropped_ + n;
  StoreCounter(kDroppedCounter, dropped_);
}

void LogBaseBuffer::ForgetDropped(uint32_t n) {
  assert(n <= dropped_);
  dropped_ -= n;
  StoreCounter(kDroppedCounter, dropped_);
}

uint64_t LogBaseBuffer::HeldRecords() const {
  uint64_t held = 0;
  for (size_t i = 0; i < count_; ++i) held += blocks_[i].records;
  return held;
}

void LogBaseBuffer::Fix() {
  // A damaged count is no count, but it is said.
  const std::optional<uint32_t> dropped = decodeCount(loadWord(counters_[kDroppedCounter]));
  dropCountDamaged_ = !dropped;
  dropped_ = dropped.value_or(0);
  StoreCounter(kDroppedCounter, dropped_);
  if (!mem_) return;
  std::vector<CacheBlock> found = LocateCacheBlocks(mem_, size_);
  // A body that does not decode whole (a cut or damaged cache) would make
  // the log undecodable. An enciphered one cannot be read here.
  std::erase_if(found, [&](const CacheBlock& cached) {
    if (IsCryptMagic(mem_[cached.offset])) return false;
    DecodedBlock decoded;
    DecodeBlockBody({mem_ + cached.offset, kBlockHeaderLen},
                    {mem_ + cached.offset + kBlockHeaderLen, cached.bodyLength}, std::nullopt,
                    decoded);
    return !decoded.error.empty();
  });
  bool counted[3] = {};
  for (const CacheBlock& cached : found) {
    uint32_t bodyLen = 0;  // as found; this takes the header's sequence number
    (void)logCrypt_->Fix(reinterpret_cast<const char*>(mem_ + cached.offset), kBlockHeaderLen, bodyLen);
    Block& block = blocks_[count_++];
    block.offset = cached.offset;
    block.length = kBlockHeaderLen + cached.bodyLength;
    block.limit = size_;
    block.dirtyEnd = block.offset + block.length + kBlockTailLen;
    // No count (an earlier version's cache), a damaged one, or more records
    // than body bytes (each takes one at least): 0, never given up.
    block.records = decodeCount(loadWord(counters_[CounterOf(block)])).value_or(0);
    if (block.records > cached.bodyLength) block.records = 0;
    counted[CounterOf(block)] = true;
  }
  // A half without a block has no count: a block that starts there counts
  // from 0 even when a kill comes before its first record's count.
  for (size_t index : {kCounterAtStart, kCounterAtMiddle}) {
    if (!counted[index]) StoreCounter(index, 0);
  }
  // What lies outside the adopted blocks is nothing anyone can read.
  std::sort(found.begin(), found.end(),
            [](const CacheBlock& a, const CacheBlock& b) { return a.offset < b.offset; });
  size_t from = 0;
  for (const CacheBlock& cached : found) {
    std::memset(mem_ + from, 0, cached.offset - from);
    from = cached.offset + kBlockHeaderLen + cached.bodyLength + kBlockTailLen;
  }
  std::memset(mem_ + from, 0, size_ - from);
  // Backwards: sealing drops a block without a body.
  for (size_t i = count_; i-- > 0;) SealBlock(i);
}

LogBaseBuffer::Block* LogBaseBuffer::OpenBlock() {
  return count_ > 0 && !blocks_[count_ - 1].sealed ? &blocks_[count_ - 1] : nullptr;
}

size_t LogBaseBuffer::OpenLength() const {
  return count_ > 0 && !blocks_[count_ - 1].sealed ? blocks_[count_ - 1].length : 0;
}

size_t LogBaseBuffer::SealedCount() const {
  size_t sealed = 0;
  for (size_t i = 0; i < count_; ++i) sealed += blocks_[i].sealed ? 1 : 0;
  return sealed;
}

bool LogBaseBuffer::StartBlock() {
  if (!mem_ || count_ == 2 || OpenBlock()) return false;
  // Each block keeps to its half, so that a sealed block always leaves the
  // other half to the records that come while it is written.
  const size_t half = size_ / 2;
  Block block;
  if (count_ == 0 || blocks_[0].offset == half) {
    block.limit = half;
  } else if (blocks_[0].length + kBlockTailLen <= half) {
    block.offset = half;
    block.limit = size_;
  } else {
    return false;  // an adopted block that runs past the middle
  }
  if (block.limit - block.offset < kBlockHeaderLen + kBlockTailLen) return false;
  logCrypt_->SetHeaderInfo(reinterpret_cast<char*>(mem_ + block.offset), true, GetMagicAsyncStart());
  block.length = kBlockHeaderLen;
  block.dirtyEnd = block.offset + kBlockHeaderLen;
  blocks_[count_++] = block;
  remainNoCryptLen_ = 0;
  if (!Reset()) {
    DropBlock(count_ - 1);
    return false;
  }
  streamLive_ = true;
  return true;
}

bool LogBaseBuffer::GiveUpOldest() {
  if (count_ == 0) return false;
  const Block& oldest = blocks_[0];
  // Only a block the files refused, not being tried again just now, and
  // whose records are known, makes room: its count goes in before its bytes go.
  if (!oldest.failed || oldest.writing || oldest.records == 0) return false;
  AddDropped(oldest.records);
  DropBlock(0);
  return true;
}

bool LogBaseBuffer::Write(const void* data, size_t len, vela::comm::AutoBuffer& out) {
  if (!data || len == 0) return false;
  logCrypt_->CryptSyncLog(static_cast<const char*>(data), len, out, GetMagicSyncStart());
  return true;
}

bool LogBaseBuffer::Write(const void* data, size_t len) {
  if (!data || len == 0 || !mem_) return false;
  if (Block* open = OpenBlock()) {
    if (streamLive_ && Append(*open, data, len)) return true;
    SealBlock(count_ - 1);  // full: what it holds is kept
  }
  if (StartBlock() || (GiveUpOldest() && StartBlock())) {
    if (Append(blocks_[count_ - 1], data, len)) return true;
    SealBlock(count_ - 1);  // drops the block, which has no body
  }
  AddDropped(1);
  return false;
}

bool LogBaseBuffer::Append(Block& block, const void* data, size_t len) {
  uint8_t* mem = mem_ + block.offset;
  const size_t before = block.length;
  // Keep the tail byte's room free.
  const size_t room = block.limit - block.offset - before - kBlockTailLen;
  size_t produced;
  if (isCompress_) {
    produced = Compress(data, len, mem + before, room);
  } else {
    produced = len <= room ? len : SIZE_MAX;
    if (produced != SIZE_MAX) std::memcpy(mem + before, data, len);
  }
  if (produced == SIZE_MAX) {
    block.dirtyEnd = block.limit;  // the compressor may have left bytes anywhere
    // The stream is out of step with the block: keep what is committed.
    EndStream();
    return false;
  }
  if (produced > 0) {
    block.dirtyEnd = std::max(block.dirtyEnd, block.offset + before + produced);
    const size_t start = before - remainNoCryptLen_;
    const size_t count = remainNoCryptLen_ + produced;
    if (!isCrypt_) {
      logCrypt_->UpdateLogLen(reinterpret_cast<char*>(mem), static_cast<uint32_t>(produced));
      block.length = before + produced;
    } else {
      // The bytes before `before` are already counted in the header.
      // Encipher their unit aside and store it only after the length moved
      // on, so that a kill leaves either the old block or the new one (but
      // for two stores).
      uint8_t firstUnit[8];
      const bool hasUnit = count >= 8;
      if (hasUnit) {
        std::memcpy(firstUnit, mem + start, 8);
        logCrypt_->EncipherInPlace(firstUnit, 8);
        logCrypt_->EncipherInPlace(mem + start + 8, count - 8);
      }
      logCrypt_->UpdateLogLen(reinterpret_cast<char*>(mem), static_cast<uint32_t>(produced));
      if (hasUnit) std::memcpy(mem + start, firstUnit, 8);
      remainNoCryptLen_ = count % 8;
      block.length = start + count;
    }
  }
  // After the record is in: a kill in between leaves it one short, never
  // more than the block holds.
  StoreCounter(CounterOf(block), ++block.records);
  return true;
}

void LogBaseBuffer::Seal() {
  if (OpenBlock()) SealBlock(count_ - 1);
}

void LogBaseBuffer::SealBlock(size_t index) {
  Block& block = blocks_[index];
  if (!block.sealed) {
    // Only the open block has a stream; adopted blocks are sealed at
    // construction, before the stream's owner exists.
    if (streamLive_) EndStream();
    streamLive_ = false;
    remainNoCryptLen_ = 0;
  }
  char* mem = reinterpret_cast<char*>(mem_ + block.offset);
  const uint32_t bodyLen = LogCrypt::GetLogLen(mem, block.length);
  if (bodyLen == 0) {
    DropBlock(index);
    return;
  }
  logCrypt_->UpdateLogHour(mem);
  logCrypt_->SetTailerInfo(mem + kBlockHeaderLen + bodyLen, 0);
  block.dirtyEnd = std::max(block.dirtyEnd, block.offset + kBlockHeaderLen + bodyLen + kBlockTailLen);
  block.sealed = true;
  ++sealedSoFar_;
}

std::span<const uint8_t> LogBaseBuffer::OldestSealed() const {
  if (count_ == 0 || !blocks_[0].sealed) return {};
  return {mem_ + blocks_[0].offset, blocks_[0].length + kBlockTailLen};
}

std::span<const uint8_t> LogBaseBuffer::TakeOldestSealed() {
  const std::span<const uint8_t> block = OldestSealed();
  if (!block.empty()) blocks_[0].writing = true;
  return block;
}

void LogBaseBuffer::DropOldestSealed() {
  if (count_ > 0 && blocks_[0].sealed) DropBlock(0);
}

void LogBaseBuffer::KeepOldestSealed() {
  if (count_ == 0 || !blocks_[0].sealed) return;
  blocks_[0].writing = false;
  blocks_[0].failed = true;
}

// Zeroes [from, to) so that a kill part-way leaves no valid header behind:
// the bytes where a block may start go first, then the rest.
void LogBaseBuffer::ZeroMemory(size_t from, size_t to) {
  if (from >= to) return;
  const size_t half = size_ / 2;
  volatile uint8_t* firstBytes = mem_;
  firstBytes[from] = 0;
  if (half > from && half < to) firstBytes[half] = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (auto* hook = gZeroingHook.load(std::memory_order_acquire)) hook(mem_, size_);
  std::memset(mem_ + from + 1, 0, to - from - 1);
}

void LogBaseBuffer::DropBlock(size_t index) {
  Block& block = blocks_[index];
  ZeroMemory(block.offset, std::min(block.dirtyEnd, size_));
  StoreCounter(CounterOf(block), 0);
  if (!block.sealed) {
    streamLive_ = false;
    remainNoCryptLen_ = 0;
  }
  for (size_t i = index; i + 1 < count_; ++i) blocks_[i] = blocks_[i + 1];
  --count_;
}

void LogBaseBuffer::Flush(vela::comm::AutoBuffer& out) {
  Seal();
  for (auto block = OldestSealed(); !block.empty(); block = OldestSealed()) {
    out.Length(out.Length(), out.Length());
    out.Write(block.data(), block.size());
    DropOldestSealed();
  }
}

void LogBaseBuffer::Clear() {
  if (OpenBlock() && streamLive_) EndStream();
  streamLive_ = false;
  remainNoCryptLen_ = 0;
  if (mem_) ZeroMemory(0, size_);
  count_ = 0;
  for (size_t index : {kDroppedCounter, kCounterAtStart, kCounterAtMiddle}) StoreCounter(index, 0);
  dropped_ = 0;
}

LogZlibBuffer::LogZlibBuffer(void* buffer, size_t len, bool isCompress, const char* pubkey,
                             void* counters)
    : LogBaseBuffer(buffer, len, isCompress, pubkey, counters),
      cstream_(std::make_unique<z_stream>()) {
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
  if (!isCompress_) return true;
  // A reset stream starts exactly like a new one, without its allocations.
  const int ret = streamReady_ ? deflateReset(cstream_.get())
                               : deflateInit2(cstream_.get(), 9, Z_DEFLATED, -MAX_WBITS, 9,
                                              Z_DEFAULT_STRATEGY);
  if (ret != Z_OK) {
    if (streamReady_) deflateEnd(cstream_.get());
    std::memset(cstream_.get(), 0, sizeof(z_stream));
    streamReady_ = false;
    return false;
  }
  streamReady_ = true;
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
                             int level, void* counters)
    : LogBaseBuffer(buffer, len, isCompress, pubkey, counters), cctx_(ZSTD_createCCtx()) {
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
  EndStream();  // a new frame
  return cctx_ != nullptr;
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
