#include "jot/block_reader.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>
#include <zstd.h>

#include "jot/log_buffer.h"
#include "jot/log_format.h"

namespace vela::jot {
namespace {

uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// An unended raw deflate stream: take everything up to the last flush point.
bool inflateRaw(std::span<const uint8_t> in, std::string& out, std::string& error) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
    error = "inflate init failed";
    return false;
  }
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  char chunk[16384];
  int ret = Z_OK;
  while (ret == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    ret = inflate(&zs, Z_SYNC_FLUSH);
    out.append(chunk, sizeof chunk - zs.avail_out);
    if (ret == Z_BUF_ERROR && zs.avail_in == 0) ret = Z_STREAM_END;  // no end marker: normal
    if (ret == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) ret = Z_STREAM_END;
  }
  const bool ok = ret == Z_STREAM_END;
  if (!ok) error = std::string("inflate error: ") + (zs.msg ? zs.msg : std::to_string(ret));
  inflateEnd(&zs);
  return ok;
}

bool decompressZstd(std::span<const uint8_t> in, std::string& out, std::string& error) {
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  if (!dctx) {
    error = "zstd init failed";
    return false;
  }
  ZSTD_inBuffer input{in.data(), in.size(), 0};
  char chunk[16384];
  bool ok = true;
  while (input.pos < input.size) {
    ZSTD_outBuffer output{chunk, sizeof chunk, 0};
    const size_t ret = ZSTD_decompressStream(dctx, &output, &input);
    out.append(chunk, output.pos);
    if (ZSTD_isError(ret)) {
      error = std::string("zstd error: ") + ZSTD_getErrorName(ret);
      ok = false;
      break;
    }
    if (output.pos == 0 && ret == 0) break;
  }
  if (ok) {
    // Drain what is still buffered.
    for (;;) {
      ZSTD_outBuffer output{chunk, sizeof chunk, 0};
      const size_t ret = ZSTD_decompressStream(dctx, &output, &input);
      out.append(chunk, output.pos);
      if (ZSTD_isError(ret) || output.pos < sizeof chunk) break;
    }
  }
  ZSTD_freeDCtx(dctx);
  return ok;
}

}  // namespace

size_t BlockEndAt(std::span<const uint8_t> bytes, size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < kBlockHeaderLen + kBlockTailLen) return 0;
  const uint8_t* p = bytes.data() + offset;
  if (!IsValidMagic(p[0]) || p[3] > 23 || p[4] > 23) return 0;
  if (!IsAsyncMagic(p[0]) && (p[1] != 0 || p[2] != 0)) return 0;
  const uint64_t tail = offset + kBlockHeaderLen + uint64_t{loadLe32(p + kBlockLengthOffset)};
  if (tail >= bytes.size() || bytes[tail] != 0) return 0;
  return static_cast<size_t>(tail + kBlockTailLen);
}

void DecodeBlockBody(std::span<const uint8_t> header, std::span<const uint8_t> body,
                     const std::optional<EcPrivateKey>& serverKey, DecodedBlock& out) {
  const uint8_t* h = header.data();
  out.magic = h[0];
  out.seq = static_cast<uint16_t>(h[1] | h[2] << 8);
  out.beginHour = h[3];
  out.endHour = h[4];
  out.bodyLength = loadLe32(h + kBlockLengthOffset);
  out.isAsync = IsAsyncMagic(out.magic);
  out.isCrypt = IsCryptMagic(out.magic);
  out.isZstd = IsZstdMagic(out.magic);
  if (!out.isAsync) {
    out.text.assign(reinterpret_cast<const char*>(body.data()), body.size());
    return;
  }
  std::vector<uint8_t> plain(body.begin(), body.end());
  if (out.isCrypt) {
    if (!serverKey) {
      out.error = "encrypted block, no private key given";
      return;
    }
    EcPublicKey writerKey;
    std::memcpy(writerKey.data(), h + kBlockKeyOffset, writerKey.size());
    std::array<uint8_t, 32> secret{};
    if (!EcSharedSecret(writerKey, *serverKey, secret)) {
      out.error = "cannot agree a key with the block's public key";
      return;
    }
    const TeaKey key = TeaKeyFromSecret(secret.data());
    for (size_t i = 0; i + 8 <= plain.size(); i += 8) TeaDecipher(key, plain.data() + i);
  }
  if (out.isZstd) {
    decompressZstd(plain, out.text, out.error);
  } else {
    inflateRaw(plain, out.text, out.error);
  }
}

ReadResult ReadLogBlocks(std::span<const uint8_t> bytes,
                         const std::optional<EcPrivateKey>& serverKey) {
  ReadResult result;
  size_t offset = 0;
  while (offset < bytes.size()) {
    const size_t end = BlockEndAt(bytes, offset);
    if (end == 0) {
      size_t next = offset + 1;
      while (next < bytes.size() && BlockEndAt(bytes, next) == 0) ++next;
      result.damage.push_back("damaged data at offset " + std::to_string(offset) + ", " +
                              std::to_string(next - offset) + " bytes skipped");
      offset = next;
      continue;
    }
    DecodedBlock block;
    block.offset = offset;
    DecodeBlockBody(bytes.subspan(offset, kBlockHeaderLen),
                    bytes.subspan(offset + kBlockHeaderLen, end - offset - kBlockHeaderLen - kBlockTailLen),
                    serverKey, block);
    result.blocks.push_back(std::move(block));
    offset = end;
  }
  return result;
}

ReadResult ReadCacheBlocks(std::span<const uint8_t> bytes,
                           const std::optional<EcPrivateKey>& serverKey) {
  ReadResult result;
  const std::vector<CacheBlock> found = LocateCacheBlocks(bytes.data(), bytes.size());
  if (found.empty() && std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; })) {
    result.damage.push_back("cache holds no valid block");
  }
  for (const CacheBlock& cached : found) {
    DecodedBlock block;
    block.offset = cached.offset;
    DecodeBlockBody(bytes.subspan(cached.offset, kBlockHeaderLen),
                    bytes.subspan(cached.offset + kBlockHeaderLen, cached.bodyLength), serverKey, block);
    result.blocks.push_back(std::move(block));
  }
  return result;
}

}  // namespace vela::jot
