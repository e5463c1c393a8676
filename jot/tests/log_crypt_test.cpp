#include "jot/log_crypt.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "jot/jot_util.h"
#include "jot/log_format.h"
#include "support/jot_test_support.h"

namespace {

using vela::jot::EcPrivateKey;
using vela::jot::EcPublicKey;
using vela::jot::LogCrypt;

std::array<uint8_t, 32> bytes32(const std::string& hex) {
  std::array<uint8_t, 32> out{};
  EXPECT_TRUE(vela::jot::ParseHexKey(hex.c_str(), out.data(), out.size()));
  return out;
}

EcPrivateKey scalar(uint8_t value) {
  EcPrivateKey priv{};
  priv[31] = value;
  return priv;
}

TEST(Tea, SixteenCycleVectors) {
  uint8_t unit[8] = {};
  vela::jot::TeaEncipher({0, 0, 0, 0}, unit);
  // 16 cycles; the usual 32-cycle result would be 41ea3a0a 94baa940.
  EXPECT_EQ(jottest::toHex(unit, 8), "98f789a883802d18");
  uint8_t unit2[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  vela::jot::TeaEncipher({0x33221100, 0x77665544, 0xbbaa9988, 0xffeeddcc}, unit2);
  EXPECT_EQ(jottest::toHex(unit2, 8), "dde1533a3c68d938");
  vela::jot::TeaDecipher({0x33221100, 0x77665544, 0xbbaa9988, 0xffeeddcc}, unit2);
  EXPECT_EQ(jottest::toHex(unit2, 8), "0102030405060708");
  // The key is the secret's first 16 bytes as four little-endian words.
  uint8_t secret[32];
  for (uint8_t i = 0; i < 32; ++i) secret[i] = i;
  EXPECT_EQ(vela::jot::TeaKeyFromSecret(secret),
            (vela::jot::TeaKey{0x03020100, 0x07060504, 0x0b0a0908, 0x0f0e0d0c}));
}

TEST(Ecdh, KnownMultiplesOfTheGenerator) {
  EcPublicKey g{};
  const std::string gHex =
      "79be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798"
      "483ada7726a3c4655da4fbfc0e1108a8fd17b448a68554199c47d08ffb10d4b8";
  ASSERT_TRUE(vela::jot::ParseHexKey(gHex.c_str(), g.data(), g.size()));
  EcPublicKey pubOf1{};
  ASSERT_TRUE(vela::jot::EcPublicKeyOf(scalar(1), pubOf1));
  EXPECT_EQ(pubOf1, g);
  std::array<uint8_t, 32> secret{};
  ASSERT_TRUE(vela::jot::EcSharedSecret(g, scalar(2), secret));
  EXPECT_EQ(secret, bytes32("c6047f9441ed7d6d3045406e95c07cd85c778e4b8cef3ca7abac09b95c709ee5"));
  ASSERT_TRUE(vela::jot::EcSharedSecret(g, scalar(3), secret));
  EXPECT_EQ(secret, bytes32("f9308a019258c31049344f85f89d5229b531c845836f99b08601f113bce036f9"));
}

// The secret OpenSSL's own ECDH derivation gives for the same keys.
std::array<uint8_t, 32> opensslDerive(const EcPrivateKey& priv, const EcPublicKey& ourPub,
                                      const EcPublicKey& peer) {
  auto makeKey = [](const EcPublicKey& pub, const EcPrivateKey* secretKey) {
    uint8_t oct[65] = {0x04};
    std::memcpy(oct + 1, pub.data(), pub.size());
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "secp256k1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, oct, sizeof oct);
    BIGNUM* d = nullptr;
    if (secretKey) {
      d = BN_bin2bn(secretKey->data(), 32, nullptr);
      OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, secretKey ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(d);
    return key;
  };
  EVP_PKEY* mine = makeKey(ourPub, &priv);
  EVP_PKEY* theirs = makeKey(peer, nullptr);
  std::array<uint8_t, 32> secret{};
  size_t len = secret.size();
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(mine, nullptr);
  EXPECT_EQ(EVP_PKEY_derive_init(ctx), 1);
  EXPECT_EQ(EVP_PKEY_derive_set_peer(ctx, theirs), 1);
  EXPECT_EQ(EVP_PKEY_derive(ctx, secret.data(), &len), 1);
  EXPECT_EQ(len, 32u);
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(mine);
  EVP_PKEY_free(theirs);
  return secret;
}

TEST(Ecdh, GeneratedPairsAgreeWithOpenSslDerivation) {
  for (int i = 0; i < 4; ++i) {
    const jottest::KeyPair a = jottest::makeKeyPair();
    const jottest::KeyPair b = jottest::makeKeyPair();
    std::array<uint8_t, 32> ab{}, ba{};
    ASSERT_TRUE(vela::jot::EcSharedSecret(b.pub, a.priv, ab));
    ASSERT_TRUE(vela::jot::EcSharedSecret(a.pub, b.priv, ba));
    EXPECT_EQ(ab, ba);
    EXPECT_EQ(ab, opensslDerive(a.priv, a.pub, b.pub));
  }
}

TEST(Ecdh, PointsOffTheCurveAreRefused) {
  EcPublicKey key{};
  ASSERT_TRUE(vela::jot::ParseHexKey(vela::jot::JotUtil::kServerPublicKey, key.data(), key.size()));
  EXPECT_FALSE(vela::jot::EcIsValidPublicKey(key));
  EXPECT_FALSE(vela::jot::EcIsValidPublicKey(EcPublicKey{}));
  std::array<uint8_t, 32> secret{};
  EXPECT_FALSE(vela::jot::EcSharedSecret(key, scalar(2), secret));
}

TEST(LogCrypt, KeyTextsThatGivePlainBlocks) {
  const std::string good = jottest::makeKeyPair().pubHex();
  EXPECT_TRUE(LogCrypt(good.c_str()).IsCrypt());
  EXPECT_FALSE(LogCrypt(nullptr).IsCrypt());
  EXPECT_FALSE(LogCrypt(good.substr(0, 127).c_str()).IsCrypt());
  EXPECT_FALSE(LogCrypt((good + "a").c_str()).IsCrypt());
  EXPECT_FALSE(LogCrypt((good + std::string(200, 'a')).c_str()).IsCrypt());
  std::string withG = good;
  withG[10] = 'g';
  EXPECT_FALSE(LogCrypt(withG.c_str()).IsCrypt());
  // Each digit of a pair is checked.
  uint8_t one = 0;
  EXPECT_FALSE(vela::jot::ParseHexKey("0g", &one, 1));
  EXPECT_FALSE(vela::jot::ParseHexKey("g0", &one, 1));
  EXPECT_TRUE(vela::jot::ParseHexKey("aF", &one, 1));
  EXPECT_EQ(one, 0xaf);
  // The compiled-in key is not a curve point: plain, and no crash.
  EXPECT_FALSE(LogCrypt(vela::jot::JotUtil::kServerPublicKey).IsCrypt());
}

TEST(LogCrypt, BothSidesDeriveTheSameTeaKey) {
  const jottest::KeyPair server = jottest::makeKeyPair();
  LogCrypt crypt(server.pubHex().c_str());
  ASSERT_TRUE(crypt.IsCrypt());
  std::array<uint8_t, 32> secret{};
  ASSERT_TRUE(vela::jot::EcSharedSecret(crypt.publicKey(), server.priv, secret));
  EXPECT_EQ(vela::jot::TeaKeyFromSecret(secret.data()), crypt.teaKey());
}

TEST(LogCrypt, OnlyFullUnitsAreEnciphered) {
  const jottest::KeyPair server = jottest::makeKeyPair();
  LogCrypt crypt(server.pubHex().c_str());
  const char input[16] = "abcdefghijklmno";
  vela::comm::AutoBuffer out;
  size_t plain = 99;
  crypt.CryptAsyncLog(input, 15, out, plain);
  ASSERT_EQ(out.Length(), 15u);
  EXPECT_EQ(plain, 7u);
  EXPECT_NE(std::memcmp(out.Ptr(), input, 8), 0);
  EXPECT_EQ(std::memcmp(out.Ptr(8), input + 8, 7), 0);
  vela::comm::AutoBuffer seven;
  crypt.CryptAsyncLog(input, 7, seven, plain);
  EXPECT_EQ(plain, 7u);
  EXPECT_EQ(std::memcmp(seven.Ptr(), input, 7), 0);
}

TEST(LogCrypt, SequenceWrapsToOneSkippingZero) {
  LogCrypt crypt(nullptr);
  char header[73];
  for (int i = 1; i <= 65535; ++i) {
    crypt.SetHeaderInfo(header, true, static_cast<char>(vela::jot::kMagicZlibPlainAsync));
    ASSERT_EQ(crypt.seq(), i);
  }
  crypt.SetHeaderInfo(header, true, static_cast<char>(vela::jot::kMagicZlibPlainAsync));
  EXPECT_EQ(crypt.seq(), 1);
  EXPECT_EQ(header[1], 1);
  EXPECT_EQ(header[2], 0);
  crypt.SetHeaderInfo(header, false, static_cast<char>(vela::jot::kMagicZlibPlainSync));
  EXPECT_EQ(crypt.seq(), 0);
}

TEST(LogCrypt, HeaderLengthChecks) {
  char header[73] = {};
  header[0] = 5;
  header[5] = 10;
  EXPECT_EQ(LogCrypt::GetLogLen(header, sizeof header), 0u);
  header[0] = 14;
  EXPECT_EQ(LogCrypt::GetLogLen(header, sizeof header), 0u);
  header[0] = 9;
  EXPECT_EQ(LogCrypt::GetLogLen(header, sizeof header), 10u);
  EXPECT_EQ(LogCrypt::GetLogLen(header, 72), 0u);
  // An adopted header gives its sequence number, little-endian.
  header[1] = 0x34;
  header[2] = 0x12;
  LogCrypt crypt(nullptr);
  uint32_t bodyLen = 0;
  ASSERT_TRUE(crypt.Fix(header, sizeof header, bodyLen));
  EXPECT_EQ(bodyLen, 10u);
  EXPECT_EQ(crypt.seq(), 0x1234);
}

}  // namespace
