#pragma once
// Block headers, tails and body encryption (format: docs/log_format.md).
// A LogCrypt made with a valid server public key makes a fresh secp256k1 key
// pair, agrees a secret with the server key, and enciphers async block
// bodies with 16-cycle TEA under the secret's first 16 bytes. Any key
// failure leaves it in plain mode. Not thread-safe: the appender uses it
// under its buffer lock.
#include <array>
#include <cstddef>
#include <cstdint>

#include "jot/auto_buffer.h"

namespace vela::jot {

using EcPublicKey = std::array<uint8_t, 64>;   // X then Y, big-endian
using EcPrivateKey = std::array<uint8_t, 32>;  // big-endian scalar
using TeaKey = std::array<uint32_t, 4>;

// secp256k1 helpers (the shared secret is the X coordinate of the product).
[[nodiscard]] bool EcIsValidPublicKey(const EcPublicKey& pub);
[[nodiscard]] bool EcMakeKeyPair(EcPublicKey& pub, EcPrivateKey& priv);
[[nodiscard]] bool EcSharedSecret(const EcPublicKey& pub, const EcPrivateKey& priv,
                                  std::array<uint8_t, 32>& secret);
// The public key of `priv`; false when `priv` is not a valid scalar.
[[nodiscard]] bool EcPublicKeyOf(const EcPrivateKey& priv, EcPublicKey& pub);

// 128 hexadecimal characters -> 64 bytes; false for any other text.
[[nodiscard]] bool ParseHexKey(const char* text, uint8_t* out, size_t outLen);

// TEA, 16 cycles, on one 8-byte unit (two little-endian words) in place.
void TeaEncipher(const TeaKey& key, uint8_t* unit);
void TeaDecipher(const TeaKey& key, uint8_t* unit);
// The first 16 bytes of a shared secret as four little-endian words.
[[nodiscard]] TeaKey TeaKeyFromSecret(const uint8_t* secret16);

class LogCrypt {
 public:
  // `pubkey` is the server public key as text; null or invalid means plain.
  explicit LogCrypt(const char* pubkey);
  virtual ~LogCrypt() = default;
  LogCrypt(const LogCrypt&) = delete;
  LogCrypt& operator=(const LogCrypt&) = delete;

  [[nodiscard]] bool IsCrypt() const { return isCrypt_; }
  [[nodiscard]] static constexpr uint32_t GetHeaderLen() { return 73; }
  [[nodiscard]] static constexpr uint32_t GetTailerLen() { return 1; }

  // Writes a fresh header at `data`: async headers take the next sequence
  // number of the process-wide counter (1..65535, 0 skipped), sync ones 0.
  void SetHeaderInfo(char* data, bool isAsync, char magic);
  void SetTailerInfo(char* data, char tail = 0);
  void UpdateLogHour(char* data);
  // Body length of the header at `data`, 0 for a short or invalid header.
  [[nodiscard]] static uint32_t GetLogLen(const char* data, size_t len);
  void UpdateLogLen(char* data, uint32_t addLen);
  // Adopts a header left in memory: false when invalid.
  [[nodiscard]] bool Fix(const char* data, size_t len, uint32_t& bodyLen);

  // Appends one sync block to `out`: header with sequence 0, the current
  // hour, `magic` and `key` (zeros when null), the text unchanged, the tail.
  static void BuildSyncBlock(char magic, const EcPublicKey* key, const char* data, size_t len,
                             vela::comm::AutoBuffer& out, char tail = 0);
  // Appends one sync block (header, `len` bytes of text, tail) to `out`.
  void CryptSyncLog(const char* data, size_t len, vela::comm::AutoBuffer& out, char magic,
                    char tail = 0);
  // Appends `count` bytes to `out`, full 8-byte units enciphered when a key
  // is in use; `remainNoCryptLen` is the plain rest (count % 8, or 0 plain).
  void CryptAsyncLog(const char* data, size_t count, vela::comm::AutoBuffer& out,
                     size_t& remainNoCryptLen);
  // In place: enciphers the full units of `data[0..count)`.
  void EncipherInPlace(uint8_t* data, size_t count) const;

  [[nodiscard]] uint16_t seq() const { return seq_; }
  [[nodiscard]] const EcPublicKey& publicKey() const { return clientPubKey_; }
  [[nodiscard]] const TeaKey& teaKey() const { return teaKey_; }

 private:
  uint16_t seq_ = 0;
  TeaKey teaKey_{};
  EcPublicKey clientPubKey_{};
  bool isCrypt_ = false;
};

}  // namespace vela::jot
