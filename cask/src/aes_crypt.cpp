// CFB-128 with an exposed register and block position, as OpenSSL's
// AES_cfb128_encrypt keeps them (the stored streams were made with it). The
// block cipher runs through EVP's AES-128-ECB, which uses the processor's AES
// instructions; decryption, whose blocks are independent, goes in batches.
// The low-level interface (deprecated in OpenSSL 3) remains for the inverse
// cipher that walks a stream back.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "aes_crypt.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <openssl/aes.h>
#include <openssl/evp.h>

namespace cask {

struct AESCrypt::KeySchedule {
  AES_KEY key;
  EVP_CIPHER_CTX* ecb = nullptr;  // encrypts whole blocks; shared by clones

  KeySchedule() = default;
  KeySchedule(const KeySchedule&) = delete;
  KeySchedule& operator=(const KeySchedule&) = delete;
  ~KeySchedule() { EVP_CIPHER_CTX_free(ecb); }

  void encryptBlocks(const uint8_t* input, uint8_t* output, size_t blocks) {
    int produced = 0;
    if (ecb == nullptr ||
        EVP_EncryptUpdate(ecb, output, &produced, input, static_cast<int>(blocks * kAESKeyLength)) != 1) {
      // Only when EVP could not be set up: the portable single-block routine.
      for (size_t i = 0; i < blocks; ++i) AES_encrypt(input + i * kAESKeyLength, output + i * kAESKeyLength, &key);
    }
  }
};

namespace {
constexpr size_t kBatchBlocks = 64;

// out = in ^ stream, eight bytes at a time; `out` may be `in`.
void xorInto(uint8_t* out, const uint8_t* in, const uint8_t* stream, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, in + i, sizeof a);
    std::memcpy(&b, stream + i, sizeof b);
    a ^= b;
    std::memcpy(out + i, &a, sizeof a);
  }
  for (; i < length; ++i) out[i] = in[i] ^ stream[i];
}
}  // namespace

AESCrypt::AESCrypt(const void* key, size_t keyLength, const void* iv, size_t ivLength) {
  if (key == nullptr || keyLength == 0) return;
  std::memcpy(m_keyBytes, key, std::min(keyLength, kAESKeyLength));
  resetIV(iv, ivLength);
  m_encryptSchedule = std::make_shared<KeySchedule>();
  AES_set_encrypt_key(m_keyBytes, 128, &m_encryptSchedule->key);
  EVP_CIPHER_CTX* ecb = EVP_CIPHER_CTX_new();
  if (ecb != nullptr && EVP_EncryptInit_ex(ecb, EVP_aes_128_ecb(), nullptr, m_keyBytes, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(ecb, 0) == 1) {
    m_encryptSchedule->ecb = ecb;
  } else {
    EVP_CIPHER_CTX_free(ecb);
  }
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

// The register holds the ciphertext bytes of the current block before the
// position and its keystream bytes from the position on.
void AESCrypt::encrypt(const void* input, void* output, size_t length) {
  if (input == nullptr || output == nullptr || length == 0 || !m_encryptSchedule) return;
  const auto* in = static_cast<const uint8_t*>(input);
  auto* out = static_cast<uint8_t*>(output);
  uint32_t n = m_number;
  for (; n != 0 && length > 0; --length, n = (n + 1) % kAESKeyLength) *out++ = m_register[n] ^= *in++;
  while (length > 0) {
    m_encryptSchedule->encryptBlocks(m_register, m_register, 1);
    const size_t step = std::min(length, kAESKeyLength);
    for (size_t i = 0; i < step; ++i) out[i] = m_register[i] ^= in[i];
    in += step;
    out += step;
    length -= step;
    n = static_cast<uint32_t>(step % kAESKeyLength);
  }
  m_number = n;
}

void AESCrypt::decrypt(const void* input, void* output, size_t length) {
  if (input == nullptr || output == nullptr || length == 0 || !m_encryptSchedule) return;
  const auto* in = static_cast<const uint8_t*>(input);
  auto* out = static_cast<uint8_t*>(output);
  uint32_t n = m_number;
  for (; n != 0 && length > 0; --length, n = (n + 1) % kAESKeyLength) {
    const uint8_t c = *in++;
    *out++ = m_register[n] ^ c;
    m_register[n] = c;
  }
  // Each whole block's keystream is the cipher of the ciphertext before it,
  // all known up front: encrypt a batch of them in one call.
  uint8_t stream[kBatchBlocks * kAESKeyLength];
  while (length >= kAESKeyLength) {
    const size_t blocks = std::min(length / kAESKeyLength, kBatchBlocks);
    const size_t bytes = blocks * kAESKeyLength;
    std::memcpy(stream, m_register, kAESKeyLength);
    std::memcpy(stream + kAESKeyLength, in, bytes - kAESKeyLength);
    // Taken before `out`, which may be `in`, is written.
    std::memcpy(m_register, in + bytes - kAESKeyLength, kAESKeyLength);
    m_encryptSchedule->encryptBlocks(stream, stream, blocks);
    xorInto(out, in, stream, bytes);
    in += bytes;
    out += bytes;
    length -= bytes;
  }
  if (length > 0) {
    m_encryptSchedule->encryptBlocks(m_register, m_register, 1);
    for (; n < length; ++n) {
      const uint8_t c = in[n];
      out[n] = m_register[n] ^ c;
      m_register[n] = c;
    }
  }
  m_number = n;
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
