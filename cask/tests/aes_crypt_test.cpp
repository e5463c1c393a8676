// The reference CFB routine below is deprecated in OpenSSL 3.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "aes_crypt.h"

#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/aes.h>

#include <gtest/gtest.h>

namespace {

using cask::AESCrypt;
using cask::AESCryptStatus;

std::vector<uint8_t> counting(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

TEST(AESCrypt, EncryptThenDecryptInPiecesRoundTrips) {
  const auto plain = counting(1000);
  AESCrypt encrypter("key", 3, "0123456789abcdef", 16);
  std::vector<uint8_t> cipher(plain.size());
  encrypter.encrypt(plain.data(), cipher.data(), 7);
  encrypter.encrypt(plain.data() + 7, cipher.data() + 7, plain.size() - 7);
  EXPECT_NE(cipher, plain);
  AESCrypt decrypter("key", 3, "0123456789abcdef", 16);
  std::vector<uint8_t> back(plain.size());
  for (size_t i = 0; i < plain.size(); i += 33) {
    decrypter.decrypt(cipher.data() + i, back.data() + i, std::min<size_t>(33, plain.size() - i));
  }
  EXPECT_EQ(back, plain);
}

// Stored streams were made with OpenSSL's AES_cfb128_encrypt: every split
// of the bytes into calls must give its bytes, in both directions, in place
// or not.
TEST(AESCrypt, MatchesOpenSslCfbForEverySplit) {
  const uint8_t key[16] = {'s', 'p', 'l', 'i', 't'};
  const uint8_t iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::mt19937 random(5);
  std::vector<uint8_t> plain(5000);
  for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
  AES_KEY schedule;
  AES_set_encrypt_key(key, 128, &schedule);
  std::vector<uint8_t> expected(plain.size());
  uint8_t reg[16];
  std::memcpy(reg, iv, 16);
  int number = 0;
  AES_cfb128_encrypt(plain.data(), expected.data(), plain.size(), &schedule, reg, &number, AES_ENCRYPT);
  for (int round = 0; round < 20; ++round) {
    AESCrypt encrypter(key, 16, iv, 16);
    AESCrypt decrypter(key, 16, iv, 16);
    std::vector<uint8_t> cipher(plain.size());
    std::vector<uint8_t> back = expected;  // decrypted in place
    for (size_t at = 0; at < plain.size();) {
      const size_t step = std::min<size_t>(plain.size() - at, random() % (round < 10 ? 40 : 3000));
      encrypter.encrypt(plain.data() + at, cipher.data() + at, step);
      decrypter.decrypt(back.data() + at, back.data() + at, step);
      at += step;
    }
    ASSERT_EQ(cipher, expected) << round;
    ASSERT_EQ(back, plain) << round;
    AESCryptStatus end;
    decrypter.getCurStatus(end);
    EXPECT_EQ(end.m_number, static_cast<uint8_t>(number));
    EXPECT_EQ(std::memcmp(end.m_register, reg, 16), 0);
  }
}

std::vector<uint8_t> fromHex(std::string_view hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

// NIST SP 800-38A, F.3.13 (CFB128-AES128 encrypt): every key and IV byte
// counts, so a short copy of either changes the ciphertext.
TEST(AESCrypt, MatchesTheKnownAnswerForEachSplit) {
  const auto key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const auto iv = fromHex("000102030405060708090a0b0c0d0e0f");
  const auto plain = fromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const auto cipher = fromHex(
      "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
      "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
  for (size_t step : {size_t{64}, size_t{16}, size_t{1}, size_t{15}, size_t{33}}) {
    AESCrypt encrypter(key.data(), key.size(), iv.data(), iv.size());
    AESCrypt decrypter(key.data(), key.size(), iv.data(), iv.size());
    std::vector<uint8_t> out(plain.size());
    std::vector<uint8_t> back = cipher;  // decrypted in place
    for (size_t at = 0; at < plain.size(); at += step) {
      const size_t n = std::min(step, plain.size() - at);
      encrypter.encrypt(plain.data() + at, out.data() + at, n);
      decrypter.decrypt(back.data() + at, back.data() + at, n);
    }
    EXPECT_EQ(out, cipher) << step;
    EXPECT_EQ(back, plain) << step;
  }
}

TEST(AESCrypt, SavedStateDecryptsFromTheMiddleWithoutMovingTheOriginal) {
  const auto plain = counting(600);
  AESCrypt crypt("secret", 6, "iv", 2);
  std::vector<uint8_t> cipher(plain.size());
  crypt.encrypt(plain.data(), cipher.data(), 37);
  AESCryptStatus at37;
  crypt.getCurStatus(at37);
  crypt.encrypt(plain.data() + 37, cipher.data() + 37, plain.size() - 37);
  AESCryptStatus end;
  crypt.getCurStatus(end);

  for (int round = 0; round < 2; ++round) {
    AESCrypt clone = crypt.cloneWithStatus(at37);
    std::vector<uint8_t> middle(300);
    clone.decrypt(cipher.data() + 37, middle.data(), middle.size());
    EXPECT_TRUE(std::equal(middle.begin(), middle.end(), plain.begin() + 37));
  }
  AESCryptStatus after;
  crypt.getCurStatus(after);
  EXPECT_EQ(after.m_number, end.m_number);
  EXPECT_EQ(0, std::memcmp(after.m_register, end.m_register, 16));
}

TEST(AESCrypt, StatusBeforeDecryptWalksBackToEveryEarlierState) {
  const auto plain = counting(100);
  AESCrypt crypt("k", 1, "vector", 6);
  std::vector<uint8_t> cipher(plain.size());
  std::vector<AESCryptStatus> states(plain.size() + 1);
  for (size_t i = 0; i < plain.size(); ++i) {
    crypt.getCurStatus(states[i]);
    crypt.encrypt(plain.data() + i, cipher.data() + i, 1);
  }
  crypt.getCurStatus(states[plain.size()]);
  for (size_t back : {0u, 1u, 5u, 16u, 17u, 32u, 50u, 100u}) {
    AESCryptStatus got;
    crypt.statusBeforeDecrypt(cipher.data() + plain.size(), plain.data() + plain.size(), back, got);
    const AESCryptStatus& want = states[plain.size() - back];
    EXPECT_EQ(got.m_number, want.m_number) << back;
    EXPECT_EQ(0, std::memcmp(got.m_register, want.m_register, 16)) << back;
  }
}

TEST(AESCrypt, KeysUseTheirFirstSixteenBytesZeroPadded) {
  AESCrypt shortKey("abc", 3);
  const char padded[5] = {'a', 'b', 'c', 0, 0};
  AESCrypt paddedKey(padded, 5);
  AESCrypt longKey("0123456789abcdefIGNORED", 23);
  AESCrypt sixteen("0123456789abcdef", 16);
  const auto plain = counting(40);
  auto encrypt = [&](AESCrypt& c) {
    std::vector<uint8_t> out(plain.size());
    c.encrypt(plain.data(), out.data(), out.size());
    return out;
  };
  EXPECT_EQ(encrypt(shortKey), encrypt(paddedKey));
  EXPECT_EQ(encrypt(longKey), encrypt(sixteen));
  EXPECT_EQ(shortKey.keyString(), "abc");

  // IVs too, also one byte long and one set again on a used crypter.
  const char paddedIV[16] = {'v'};
  AESCrypt oneByteIV("abc", 3, "v", 1);
  AESCrypt sixteenIV("abc", 3, paddedIV, 16);
  AESCrypt reset("abc", 3, "0123456789abcdef", 16);
  (void)encrypt(reset);
  reset.resetIV("v", 1);
  const auto withIV = encrypt(sixteenIV);
  EXPECT_EQ(encrypt(oneByteIV), withIV);
  EXPECT_EQ(encrypt(reset), withIV);
  EXPECT_NE(encrypt(shortKey), withIV);
}

TEST(AESCrypt, RandomIVsDiffer) {
  uint8_t a[16];
  uint8_t b[16];
  AESCrypt::fillRandomIV(a);
  AESCrypt::fillRandomIV(b);
  EXPECT_NE(0, std::memcmp(a, b, 16));
}

}  // namespace
