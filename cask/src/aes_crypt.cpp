// The low-level AES interface is deprecated in OpenSSL 3 but is exactly the
// CFB-128 with an exposed register and block position that the stored streams
// were made with.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "aes_crypt.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <openssl/aes.h>

namespace cask {

struct AESCrypt::KeySchedule {
  AES_KEY key;
};

AESCrypt::AESCrypt(const void* key, size_t keyLength, const void* iv, size_t ivLength) {
  if (key == nullptr || keyLength == 0) return;
  std::memcpy(m_keyBytes, key, std::min(keyLength, kAESKeyLength));
  resetIV(iv, ivLength);
  m_encryptSchedule = std::make_shared<KeySchedule>();
  AES_set_encrypt_key(m_keyBytes, 128, &m_encryptSchedule->key);
}

AESCrypt::AESCrypt(AESCrypt&& other) noexcept
    : m_cloned(other.m_cloned),
      m_number(other.m_number),
      m_encryptSchedule(std::move(other.m_encryptSchedule)),
      m_decryptSchedule(std::move(other.m_decryptSchedule)) {
  std::memcpy(m_keyBytes, other.m_keyBytes, sizeof m_keyBytes);
  std::memcpy(m_register, other.m_register, sizeof m_register);
}

AESCrypt::~AESCrypt() = default;

void AESCrypt::resetIV(const void* iv, size_t ivLength) {
  m_number = 0;
  if (iv != nullptr && ivLength > 0) {
    std::memset(m_register, 0, sizeof m_register);
    std::memcpy(m_register, iv, std::min(ivLength, kAESKeyLength));
  } else {
    std::memcpy(m_register, m_keyBytes, kAESKeyLength);
  }
}

std::string AESCrypt::keyString() const {
  const auto* end = std::find(m_keyBytes, m_keyBytes + kAESKeyLength, 0);
  return std::string(reinterpret_cast<const char*>(m_keyBytes), reinterpret_cast<const char*>(end));
}

void AESCrypt::encrypt(const void* input, void* output, size_t length) {
  if (input == nullptr || output == nullptr || length == 0 || !m_encryptSchedule) return;
  int number = static_cast<int>(m_number);
  AES_cfb128_encrypt(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), length,
                     &m_encryptSchedule->key, m_register, &number, AES_ENCRYPT);
  m_number = static_cast<uint32_t>(number);
}

void AESCrypt::decrypt(const void* input, void* output, size_t length) {
  if (input == nullptr || output == nullptr || length == 0 || !m_encryptSchedule) return;
  int number = static_cast<int>(m_number);
  AES_cfb128_encrypt(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), length,
                     &m_encryptSchedule->key, m_register, &number, AES_DECRYPT);
  m_number = static_cast<uint32_t>(number);
}

void AESCrypt::getCurStatus(AESCryptStatus& status) const {
  status.m_number = static_cast<uint8_t>(m_number);
  std::memcpy(status.m_register, m_register, sizeof m_register);
}

void AESCrypt::setStatus(const AESCryptStatus& status) {
  m_number = status.m_number % kAESKeyLength;
  std::memcpy(m_register, status.m_register, sizeof m_register);
}

AESCrypt AESCrypt::cloneWithStatus(const AESCryptStatus& status) const {
  AESCrypt clone;
  clone.m_cloned = true;
  clone.m_encryptSchedule = m_encryptSchedule;
  clone.m_number = status.m_number % kAESKeyLength;
  std::memcpy(clone.m_register, status.m_register, sizeof clone.m_register);
  return clone;
}

void AESCrypt::statusBeforeDecrypt(const uint8_t* cipherEnd, const uint8_t* plainEnd, size_t bytes,
                                   AESCryptStatus& status) {
  if (!m_decryptSchedule) {
    m_decryptSchedule = std::make_shared<KeySchedule>();
    AES_set_decrypt_key(m_keyBytes, 128, &m_decryptSchedule->key);
  }
  uint32_t position = m_number;
  uint8_t reg[kAESKeyLength];
  std::memcpy(reg, m_register, sizeof reg);
  const uint8_t* cipher = cipherEnd;
  const uint8_t* plain = plainEnd;
  // Finish the partly used block: its used register bytes are ciphertext;
  // turning them back into keystream and decrypting gives the previous block.
  if (position > 0 && bytes > 0) {
    while (position > 0 && bytes > 0) {
      --cipher;
      --plain;
      --bytes;
      --position;
      reg[position] = *cipher ^ *plain;
    }
    if (position == 0) AES_decrypt(reg, reg, &m_decryptSchedule->key);
  }
  while (bytes >= kAESKeyLength) {
    cipher -= kAESKeyLength;
    plain -= kAESKeyLength;
    bytes -= kAESKeyLength;
    for (size_t i = 0; i < kAESKeyLength; ++i) reg[i] = cipher[i] ^ plain[i];
    AES_decrypt(reg, reg, &m_decryptSchedule->key);
    position = 0;
  }
  if (bytes > 0) {
    for (size_t i = 0; i < bytes; ++i) {
      --cipher;
      --plain;
      reg[kAESKeyLength - 1 - i] = *cipher ^ *plain;
    }
    position = static_cast<uint32_t>(kAESKeyLength - bytes);
  }
  status.m_number = static_cast<uint8_t>(position);
  std::memcpy(status.m_register, reg, sizeof reg);
}

void AESCrypt::fillRandomIV(uint8_t* output) {
  size_t filled = 0;
  while (filled < kAESKeyLength) {
    const ssize_t got = getrandom(output + filled, kAESKeyLength - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("getrandom: ") + std::strerror(errno));
    }
    filled += static_cast<size_t>(got);
  }
}

}  // namespace cask
