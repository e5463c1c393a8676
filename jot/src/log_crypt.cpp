#include "jot/log_crypt.h"

#include <sys/time.h>

#include <bit>
#include <cstring>
#include <ctime>
#include <memory>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include "jot/log_format.h"

namespace vela::jot {
namespace {

constexpr uint32_t kTeaDelta = 0x9E3779B9;
constexpr int kTeaCycles = 16;

// Only touched under the appender's buffer lock.
uint16_t gSeq = 0;

uint16_t nextSeq() {
  gSeq = gSeq == 0xFFFF ? 1 : static_cast<uint16_t>(gSeq + 1);
  return gSeq;
}

struct GroupDeleter {
  void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct PointDeleter {
  void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxDeleter {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using GroupPtr = std::unique_ptr<EC_GROUP, GroupDeleter>;
using PointPtr = std::unique_ptr<EC_POINT, PointDeleter>;
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;
using CtxPtr = std::unique_ptr<BN_CTX, CtxDeleter>;

GroupPtr curve() { return GroupPtr(EC_GROUP_new_by_curve_name(NID_secp256k1)); }

// A point from raw X||Y; null unless it lies on the curve.
PointPtr pointFrom(const EC_GROUP* group, const EcPublicKey& pub, BN_CTX* ctx) {
  uint8_t oct[65];
  oct[0] = 0x04;
  std::memcpy(oct + 1, pub.data(), pub.size());
  PointPtr point(EC_POINT_new(group));
  if (!point || EC_POINT_oct2point(group, point.get(), oct, sizeof oct, ctx) != 1 ||
      EC_POINT_is_on_curve(group, point.get(), ctx) != 1 ||
      EC_POINT_is_at_infinity(group, point.get())) {
    return nullptr;
  }
  return point;
}

// A scalar in 1..order-1, else null.
BnPtr scalarFrom(const EC_GROUP* group, const EcPrivateKey& priv) {
  BnPtr d(BN_bin2bn(priv.data(), static_cast<int>(priv.size()), nullptr));
  if (!d || BN_is_zero(d.get()) || BN_cmp(d.get(), EC_GROUP_get0_order(group)) >= 0) {
    return nullptr;
  }
  return d;
}

int localHour() {
  const time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return tm.tm_hour;
}

uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void storeLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool EcIsValidPublicKey(const EcPublicKey& pub) {
  const GroupPtr group = curve();
  const CtxPtr ctx(BN_CTX_new());
  return group && ctx && pointFrom(group.get(), pub, ctx.get()) != nullptr;
}

bool EcPublicKeyOf(const EcPrivateKey& priv, EcPublicKey& pub) {
  const GroupPtr group = curve();
  const CtxPtr ctx(BN_CTX_new());
  if (!group || !ctx) return false;
  const BnPtr d = scalarFrom(group.get(), priv);
  PointPtr point(EC_POINT_new(group.get()));
  if (!d || !point ||
      EC_POINT_mul(group.get(), point.get(), d.get(), nullptr, nullptr, ctx.get()) != 1) {
    return false;
  }
  uint8_t oct[65];
  if (EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, oct,
                         sizeof oct, ctx.get()) != sizeof oct) {
    return false;
  }
  std::memcpy(pub.data(), oct + 1, pub.size());
  return true;
}

bool EcMakeKeyPair(EcPublicKey& pub, EcPrivateKey& priv) {
  const GroupPtr group = curve();
  BnPtr d(BN_new());
  if (!group || !d || BN_priv_rand_range(d.get(), EC_GROUP_get0_order(group.get())) != 1 ||
      BN_is_zero(d.get()) ||
      BN_bn2binpad(d.get(), priv.data(), static_cast<int>(priv.size())) < 0) {
    return false;
  }
  return EcPublicKeyOf(priv, pub);
}

bool EcSharedSecret(const EcPublicKey& pub, const EcPrivateKey& priv,
                    std::array<uint8_t, 32>& secret) {
  const GroupPtr group = curve();
  const CtxPtr ctx(BN_CTX_new());
  if (!group || !ctx) return false;
  const PointPtr peer = pointFrom(group.get(), pub, ctx.get());
  const BnPtr d = scalarFrom(group.get(), priv);
  PointPtr product(EC_POINT_new(group.get()));
  BnPtr x(BN_new());
  if (!peer || !d || !product || !x ||
      EC_POINT_mul(group.get(), product.get(), nullptr, peer.get(), d.get(), ctx.get()) != 1 ||
      EC_POINT_is_at_infinity(group.get(), product.get()) ||
      EC_POINT_get_affine_coordinates(group.get(), product.get(), x.get(), nullptr, ctx.get()) !=
          1) {
    return false;
  }
  return BN_bn2binpad(x.get(), secret.data(), static_cast<int>(secret.size())) ==
         static_cast<int>(secret.size());
}

bool ParseHexKey(const char* text, uint8_t* out, size_t outLen) {
  if (!text || ::strnlen(text, 256) != outLen * 2) return false;
  for (size_t i = 0; i < outLen; ++i) {
    const int hi = hexValue(text[2 * i]);
    const int lo = hexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

void TeaEncipher(const TeaKey& k, uint8_t* unit) {
  uint32_t y = loadLe32(unit);
  uint32_t z = loadLe32(unit + 4);
  uint32_t sum = 0;
  for (int i = 0; i < kTeaCycles; ++i) {
    sum += kTeaDelta;
    y += ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
    z += ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
  }
  storeLe32(unit, y);
  storeLe32(unit + 4, z);
}

void TeaDecipher(const TeaKey& k, uint8_t* unit) {
  uint32_t y = loadLe32(unit);
  uint32_t z = loadLe32(unit + 4);
  uint32_t sum = kTeaDelta * kTeaCycles;
  for (int i = 0; i < kTeaCycles; ++i) {
    z -= ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
    y -= ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
    sum -= kTeaDelta;
  }
  storeLe32(unit, y);
  storeLe32(unit + 4, z);
}

TeaKey TeaKeyFromSecret(const uint8_t* secret16) {
  return {loadLe32(secret16), loadLe32(secret16 + 4), loadLe32(secret16 + 8),
          loadLe32(secret16 + 12)};
}

LogCrypt::LogCrypt(const char* pubkey) {
  EcPublicKey server{};
  if (!ParseHexKey(pubkey, server.data(), server.size())) return;
  // A key that is not a curve point would make the agreement meaningless.
  if (!EcIsValidPublicKey(server)) return;
  EcPrivateKey priv{};
  std::array<uint8_t, 32> secret{};
  if (!EcMakeKeyPair(clientPubKey_, priv) || !EcSharedSecret(server, priv, secret)) {
    clientPubKey_.fill(0);
    return;
  }
  teaKey_ = TeaKeyFromSecret(secret.data());
  OPENSSL_cleanse(priv.data(), priv.size());
  OPENSSL_cleanse(secret.data(), secret.size());
  isCrypt_ = true;
}

void LogCrypt::SetHeaderInfo(char* data, bool isAsync, char magic) {
  auto* p = reinterpret_cast<uint8_t*>(data);
  seq_ = isAsync ? nextSeq() : 0;
  const auto hour = static_cast<uint8_t>(localHour());
  p[0] = static_cast<uint8_t>(magic);
  p[1] = static_cast<uint8_t>(seq_);
  p[2] = static_cast<uint8_t>(seq_ >> 8);
  p[3] = hour;
  p[4] = hour;
  storeLe32(p + kBlockLengthOffset, 0);
  if (isCrypt_) {
    std::memcpy(p + kBlockKeyOffset, clientPubKey_.data(), kBlockKeyLen);
  } else {
    std::memset(p + kBlockKeyOffset, 0, kBlockKeyLen);
  }
}

void LogCrypt::SetTailerInfo(char* data, char tail) { *data = tail; }

void LogCrypt::UpdateLogHour(char* data) { data[4] = static_cast<char>(localHour()); }

uint32_t LogCrypt::GetLogLen(const char* data, size_t len) {
  if (!data || len < kBlockHeaderLen) return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  if (!IsValidMagic(p[0])) return 0;
  return loadLe32(p + kBlockLengthOffset);
}

void LogCrypt::UpdateLogLen(char* data, uint32_t addLen) {
  auto* p = reinterpret_cast<uint8_t*>(data);
  const uint32_t current = IsValidMagic(p[0]) ? loadLe32(p + kBlockLengthOffset) : 0;
  // One aligned-size store: a kill never leaves half a length behind.
  const uint32_t updated = current + addLen;
  std::memcpy(p + kBlockLengthOffset, &updated, sizeof updated);
  static_assert(std::endian::native == std::endian::little);
}

bool LogCrypt::Fix(const char* data, size_t len, uint32_t& bodyLen) {
  if (!data || len < kBlockHeaderLen) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  if (!IsValidMagic(p[0])) return false;
  bodyLen = loadLe32(p + kBlockLengthOffset);
  seq_ = static_cast<uint16_t>(p[1] | p[2] << 8);
  return true;
}

void LogCrypt::BuildSyncBlock(char magic, const EcPublicKey* key, const char* data, size_t len,
                              vela::comm::AutoBuffer& out, char tail) {
  const size_t start = out.Length();
  out.Length(start, start);
  out.AllocWrite(kBlockHeaderLen + len + kBlockTailLen);
  auto* p = static_cast<uint8_t*>(out.Ptr(start));
  if (!p) return;
  const auto hour = static_cast<uint8_t>(localHour());
  p[0] = static_cast<uint8_t>(magic);
  p[1] = p[2] = 0;
  p[3] = p[4] = hour;
  storeLe32(p + kBlockLengthOffset, static_cast<uint32_t>(len));
  if (key) {
    std::memcpy(p + kBlockKeyOffset, key->data(), kBlockKeyLen);
  } else {
    std::memset(p + kBlockKeyOffset, 0, kBlockKeyLen);
  }
  if (len) std::memcpy(p + kBlockHeaderLen, data, len);
  p[kBlockHeaderLen + len] = static_cast<uint8_t>(tail);
  const size_t end = start + kBlockHeaderLen + len + kBlockTailLen;
  out.Length(end, end);
}

void LogCrypt::CryptSyncLog(const char* data, size_t len, vela::comm::AutoBuffer& out,
                            char magic, char tail) {
  seq_ = 0;
  BuildSyncBlock(magic, isCrypt_ ? &clientPubKey_ : nullptr, data, len, out, tail);
}

void LogCrypt::CryptAsyncLog(const char* data, size_t count, vela::comm::AutoBuffer& out,
                             size_t& remainNoCryptLen) {
  const size_t start = out.Length();
  out.Length(start, start);
  out.Write(data, count);
  if (!isCrypt_) {
    remainNoCryptLen = 0;
    return;
  }
  EncipherInPlace(static_cast<uint8_t*>(out.Ptr(start)), count);
  remainNoCryptLen = count % 8;
}

void LogCrypt::EncipherInPlace(uint8_t* data, size_t count) const {
  if (!isCrypt_ || !data) return;
  for (size_t i = 0; i + 8 <= count; i += 8) TeaEncipher(teaKey_, data + i);
}

}  // namespace vela::jot
