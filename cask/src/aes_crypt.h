#pragma once
// AES-128 in CFB-128 mode with a state (register and position within the
// block) that can be saved and restored, so a value in the middle of the
// stream can be decrypted from the state saved at its pair's start.
// Not thread-safe: each store guards its crypter with its own lock.
//
//   AESCrypt crypt(key, 16, iv, 16);
//   AESCryptStatus at; crypt.getCurStatus(at);
//   crypt.encrypt(in, out, n);
//   AESCrypt again = crypt.cloneWithStatus(at);   // decrypts `out` from the start
#include <cstdint>
#include <memory>
#include <string>

namespace cask {

inline constexpr size_t kAESKeyLength = 16;

struct AESCryptStatus {
  uint8_t m_number = 0;  // position 0..15 within the current block
  uint8_t m_register[kAESKeyLength] = {};
};

class AESCrypt {
 public:
  // Uses the first min(keyLength, 16) key bytes, zero-padded. Without an IV
  // the register starts as the key.
  AESCrypt(const void* key, size_t keyLength, const void* iv = nullptr, size_t ivLength = 0);
  AESCrypt(const AESCrypt&) = delete;
  AESCrypt& operator=(const AESCrypt&) = delete;
  AESCrypt(AESCrypt&&) noexcept;
  AESCrypt& operator=(AESCrypt&&) = delete;
  ~AESCrypt();

  void resetIV(const void* iv = nullptr, size_t ivLength = 0);
  // The key up to its first zero byte (at most 16 bytes).
  [[nodiscard]] std::string keyString() const;

  // In place allowed; nothing happens for null pointers or length 0.
  void encrypt(const void* input, void* output, size_t length);
  void decrypt(const void* input, void* output, size_t length);

  void getCurStatus(AESCryptStatus& status) const;
  // Continues the stream from `status` (as saved by getCurStatus).
  void setStatus(const AESCryptStatus& status);
  // A crypter at `status` sharing this one's key schedule; it must not
  // outlive this crypter.
  [[nodiscard]] AESCrypt cloneWithStatus(const AESCryptStatus& status) const;

  // The state `bytes` bytes before the current position, given the
  // ciphertext and plaintext that end there (both at least `bytes` long).
  void statusBeforeDecrypt(const uint8_t* cipherEnd, const uint8_t* plainEnd, size_t bytes,
                           AESCryptStatus& status);

  // 16 random bytes from getrandom(2).
  static void fillRandomIV(uint8_t* output);

  [[nodiscard]] uint32_t number() const { return m_number; }

 private:
  struct KeySchedule;
  AESCrypt() = default;

  bool m_cloned = false;
  uint32_t m_number = 0;
  std::shared_ptr<KeySchedule> m_encryptSchedule;
  std::shared_ptr<KeySchedule> m_decryptSchedule;
  uint8_t m_keyBytes[kAESKeyLength] = {};
  uint8_t m_register[kAESKeyLength] = {};
};

}  // namespace cask
