// Loading damaged files: flipped bytes, truncation, a zeroed, deleted or
// unopenable meta file, the last-confirmed fallback, the error handler's
// answers, and malformed contents with fixed-up CRCs.
#include <algorithm>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include "aes_crypt.h"
#include "cask/store_snapshot.h"
#include "store_fixture.h"

namespace {

using cask::Cask;
using cask::CaskMetaInfo;

cask::CaskRecoverStrategic g_answer = cask::CaskOnErrorDiscard;
int g_asked = 0;
cask::CaskRecoverStrategic answer(const std::string&, cask::CaskErrorType) {
  ++g_asked;
  return g_answer;
}

class LoadTest : public cask::testing::StoreTest {
 protected:
  // A closed store holding k0..k(n-1) = "value<i>".
  void makeStore(int n, const std::string& key = "") {
    Cask* store = open("store", key);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(store->set("value" + std::to_string(i), "k" + std::to_string(i)));
    forget(store);
    store->close();
  }
  void flipByte(const std::string& path, size_t offset) {
    auto bytes = bytesOf(path);
    bytes[offset] ^= 0x5A;
    writeBytes(path, bytes);
  }
  static std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
  }
  void setMeta(const CaskMetaInfo& meta) {
    auto bytes = bytesOf(dataPath() + ".crc");
    std::memcpy(bytes.data(), &meta, sizeof meta);
    writeBytes(dataPath() + ".crc", bytes);
  }
  // Writes a store whose content is `body` (encrypted under `key` from a
  // fixed IV when one is given), with a meta record that matches it.
  std::vector<uint8_t> writeContent(const std::string& id, const std::vector<uint8_t>& body,
                                    const std::string& key = "") {
    CaskMetaInfo meta;
    meta.version = 3;
    meta.sequence = 9;
    std::vector<uint8_t> content = body;
    if (!key.empty()) {
      std::memset(meta.vector, 0x42, sizeof meta.vector);
      cask::AESCrypt crypter(key.data(), key.size(), meta.vector, sizeof meta.vector);
      crypter.encrypt(body.data(), content.data(), body.size());
    }
    std::vector<uint8_t> data(Cask::pageSize(), 0);
    const auto size = static_cast<uint32_t>(content.size());
    std::memcpy(data.data(), &size, 4);
    std::memcpy(data.data() + 4, content.data(), content.size());
    meta.actualSize = size;
    meta.crcDigest = static_cast<uint32_t>(crc32(0, content.data(), size));
    std::vector<uint8_t> metaBytes(Cask::pageSize(), 0);
    std::memcpy(metaBytes.data(), &meta, sizeof meta);
    writeBytes(dataPath(id), data);
    writeBytes(dataPath(id) + ".crc", metaBytes);
    return data;
  }
  void SetUp() override {
    StoreTest::SetUp();
    g_answer = cask::CaskOnErrorDiscard;
    g_asked = 0;
  }
};

TEST_F(LoadTest, FlippedHolderByteIsDiscardedAndACopyKept) {
  makeStore(10);
  const auto original = bytesOf(dataPath());
  flipByte(dataPath(), 5);  // inside the item-size holder: no earlier state matches either
  Cask::registerErrorHandler(&answer);
  Cask* store = open();
  EXPECT_EQ(store->count(), 0u);
  EXPECT_EQ(g_asked, 1);
  EXPECT_TRUE(store->set(int32_t{1}, "fresh"));
  EXPECT_EQ(bytesOf(dataPath() + ".damaged").size(), original.size());
  EXPECT_TRUE(cask::isFileExist(dataPath() + ".crc.damaged"));
}

TEST_F(LoadTest, FlippedContentByteWithRecoverKeepsTheReadablePairs) {
  makeStore(10);
  const uint32_t sequence = metaOf(dataPath()).sequence;
  flipByte(dataPath(), 7);  // the holder's last byte: it still ends the varint
  g_answer = cask::CaskOnErrorRecover;
  Cask::registerErrorHandler(&answer);
  Cask* store = open();
  EXPECT_EQ(store->count(), 10u);
  EXPECT_EQ(g_asked, 1);
  EXPECT_EQ(store->getString("k0"), "value0");
  EXPECT_GT(metaOf(dataPath()).sequence, sequence);
  EXPECT_EQ(cask::checkDataFile(dataPath()), cask::FileCheck::Valid);
}

TEST_F(LoadTest, TruncatedDataFileIsDiscardedOrRecovered) {
  // Recovery decodes up to the cut pair, which throws: the pairs before it
  // must survive that, encrypted as well as plain.
  for (const std::string key : {"", "truncated-key"}) {
    for (const auto strategy : {cask::CaskOnErrorDiscard, cask::CaskOnErrorRecover}) {
      makeStore(600, key);
      auto bytes = bytesOf(dataPath());
      ASSERT_GT(bytes.size(), Cask::pageSize());
      bytes.resize(Cask::pageSize());
      writeBytes(dataPath(), bytes);
      g_answer = strategy;
      Cask::registerErrorHandler(&answer);
      Cask* store = open("store", key);
      if (strategy == cask::CaskOnErrorDiscard) {
        EXPECT_EQ(store->count(), 0u) << key;
      } else {
        EXPECT_GT(store->count(), 10u) << key;
        EXPECT_EQ(store->getString("k0"), "value0") << key;
      }
      EXPECT_TRUE(store->set(int32_t{1}, "after"));
      store = reopen(store, key);
      EXPECT_EQ(store->getInt32("after"), 1) << key;
      forget(store);
      store->close();
      unlink(dataPath().c_str());
      unlink((dataPath() + ".crc").c_str());
    }
  }
}

TEST_F(LoadTest, ZeroedOrDeletedMetaFileNeverCrashes) {
  makeStore(10, "key");
  writeBytes(dataPath() + ".crc", std::vector<uint8_t>(Cask::pageSize(), 0));
  Cask* store = open("store", "key");
  EXPECT_EQ(store->count(), 0u);
  EXPECT_TRUE(store->set(int32_t{1}, "x"));
  forget(store);
  store->close();
  unlink((dataPath() + ".crc").c_str());
  store = open("store", "key");
  EXPECT_EQ(store->count(), 0u);
  EXPECT_TRUE(store->set(int32_t{2}, "y"));
  EXPECT_EQ(reopen(store, "key")->getInt32("y"), 2);
}

TEST_F(LoadTest, EmptyMetaFileIsJudgedWithoutReadingThroughNothing) {
  makeStore(3);
  writeBytes(dataPath() + ".crc", {});
  EXPECT_EQ(cask::checkDataFile(dataPath()), cask::FileCheck::BadCrc);
  EXPECT_FALSE(Cask::isFileValid("store", &dir_));
}

TEST_F(LoadTest, StaleJournalTempIsRemovedOnLoadAndTheValuesKept) {
  for (const int mode : {cask::CaskSingleProcess, cask::CaskMultiProcess}) {
    makeStore(5);
    const std::string temp = dataPath() + ".journal.tmp";
    writeBytes(temp, std::vector<uint8_t>(3 * Cask::pageSize(), 0xAB));
    Cask* store = open("store", "", mode);
    EXPECT_EQ(store->getString("k4"), "value4");
    EXPECT_FALSE(cask::isFileExist(temp));
    EXPECT_FALSE(cask::isFileExist(dataPath() + ".journal"));
    forget(store);
    store->close();
  }
}

TEST_F(LoadTest, UnopenableMetaFileLeavesTheStoreUnusableAndTheDataUntouched) {
  makeStore(5);
  const auto before = bytesOf(dataPath());
  unlink((dataPath() + ".crc").c_str());
  ASSERT_EQ(mkdir((dataPath() + ".crc").c_str(), 0700), 0);  // cannot be opened as a file
  for (const int mode : {cask::CaskSingleProcess, cask::CaskMultiProcess}) {
    Cask* store = open("store", "", mode);
    EXPECT_EQ(store->getString("k0"), std::nullopt);
    EXPECT_FALSE(store->set(int32_t{1}, "x"));
    store->clearAll();
    store->trim();
    EXPECT_EQ(bytesOf(dataPath()), before);
    forget(store);
    store->close();
  }
}

TEST_F(LoadTest, MetaSizeWinsOverTheHeaderFromVersionThree) {
  makeStore(3);
  auto data = bytesOf(dataPath());
  const uint32_t metaSize = metaOf(dataPath()).actualSize;
  const uint32_t wrong = metaSize - 3;
  std::memcpy(data.data(), &wrong, 4);
  writeBytes(dataPath(), data);
  Cask* store = open();
  EXPECT_EQ(store->actualSize(), metaSize);
  EXPECT_EQ(store->getString("k2"), "value2");
}

// Encrypted too: the failed check reads the whole content, and the crypter
// must still stand at the start for the fallback's decode.
TEST_F(LoadTest, LastConfirmedStateIsUsedWhenTheCurrentOneFails) {
  for (const std::string key : {"", "fallback-key"}) {
    SCOPED_TRACE(key);
    const std::string id = "store" + key;
    Cask* store = open(id, key);
    ASSERT_TRUE(store->set(std::string("first"), "a"));  // the write-back confirmed the empty holder
    ASSERT_TRUE(store->set(std::string(300, 'x'), "large"));  // kept by offset when encrypted
    store->trim();
    forget(store);
    store->close();
    CaskMetaInfo meta = metaOf(dataPath(id));
    // Confirm the current content, then break the current CRC.
    meta.lastConfirmedActualSize = meta.actualSize;
    meta.lastConfirmedCrcDigest = meta.crcDigest;
    meta.crcDigest ^= 1;
    auto metaBytes = bytesOf(dataPath(id) + ".crc");
    std::memcpy(metaBytes.data(), &meta, sizeof meta);
    writeBytes(dataPath(id) + ".crc", metaBytes);
    const uint32_t sequence = meta.sequence;
    Cask::registerErrorHandler(&answer);
    store = open(id, key);
    EXPECT_EQ(store->getString("a"), "first");
    EXPECT_EQ(store->getString("large"), std::string(300, 'x'));
    EXPECT_EQ(g_asked, 0);
    EXPECT_EQ(metaOf(dataPath(id)).sequence, sequence);
    // Appends continue the stream where the load left the crypter.
    ASSERT_TRUE(store->set(std::string("second"), "b"));
    store = reopen(store, key);
    EXPECT_EQ(store->getString("b"), "second");
    EXPECT_EQ(store->getString("a"), "first");
  }
}

TEST_F(LoadTest, DamagedTailFallsBackToTheLastConfirmedStateAndKeepsACopy) {
  makeStore(10);
  const uint32_t size = metaOf(dataPath()).actualSize;
  flipByte(dataPath(), 4 + size - 2);  // inside the last value, appended after the last confirmation
  Cask::registerErrorHandler(&answer);
  Cask* store = open();
  EXPECT_EQ(store->count(), 0u);  // the first pair was appended after the confirmed empty holder
  EXPECT_TRUE(cask::isFileExist(dataPath() + ".damaged"));
}

TEST_F(LoadTest, TruncatedMetaFallingBackToAnEmptyStateKeepsACopyOfTheData) {
  makeStore(10);
  const auto original = bytesOf(dataPath());
  flipByte(dataPath(), 12);
  // Cut inside the size field: size, last confirmed size and CRC read as 0,
  // and an empty content matches a CRC of 0.
  writeBytes(dataPath() + ".crc", cut(bytesOf(dataPath() + ".crc"), 20));
  Cask* store = open();
  EXPECT_EQ(store->count(), 0u);
  auto copy = bytesOf(dataPath() + ".damaged");
  ASSERT_EQ(copy.size(), original.size());
  copy[12] ^= 0x5A;
  EXPECT_EQ(copy, original);
}

TEST_F(LoadTest, ContentSizeZeroLoadsEmptyWithoutRaisingTheSequence) {
  Cask* store = open();
  EXPECT_EQ(store->count(), 0u);
  store = reopen(store);
  EXPECT_EQ(store->count(), 0u);
  EXPECT_EQ(metaOf(dataPath()).sequence, 0u);
}

// Malformed pair streams whose CRC is made to match: the decoder must
// reject or read them without crashing, and the store must neither discard
// nor rewrite them.
// Content that fills the data file to its last byte is whole, and a meta
// file that holds just the record is one.
TEST_F(LoadTest, ContentAndMetaThatExactlyFillTheirFilesAreSound) {
  std::vector<uint8_t> body = {0xFF, 0xFF, 0xFF, 0x07, 0x01, 'k'};
  const size_t valueSize = Cask::pageSize() - 4 - body.size() - 2;
  body.push_back(static_cast<uint8_t>(0x80 | (valueSize & 0x7F)));
  body.push_back(static_cast<uint8_t>(valueSize >> 7));
  body.resize(Cask::pageSize() - 4, 'v');
  writeContent("full", body);
  EXPECT_EQ(cask::checkDataFile(dataPath("full")), cask::FileCheck::Valid);
  const std::string meta = dataPath("full") + ".crc";
  auto record = bytesOf(meta);
  record.resize(sizeof(CaskMetaInfo));
  writeBytes(meta, record);
  EXPECT_EQ(cask::readMetaInfo(meta).value_or(CaskMetaInfo{}).sequence, 9u);
  record.pop_back();
  writeBytes(meta, record);
  EXPECT_FALSE(cask::readMetaInfo(meta).has_value());

  // Live content that fills the file to its last byte still fits a rewrite.
  writeContent("full", body);
  Cask* store = open("full");
  ASSERT_EQ(store->count(), 1u);
  EXPECT_TRUE(store->reKey("full-key"));
  store = reopen(store, "full-key");
  EXPECT_EQ(store->getValueSize("k", false), valueSize);
  // Trimmed, a file keeps twice the room its content takes: two pages.
  forget(store);
  store->close();
  ASSERT_EQ(truncate(dataPath("full").c_str(), static_cast<off_t>(4 * Cask::pageSize())), 0);
  store = open("full", "full-key");
  store->trim();
  EXPECT_EQ(store->totalSize(), 2 * Cask::pageSize());
  EXPECT_EQ(reopen(store, "full-key")->getValueSize("k", false), valueSize);
}

TEST_F(LoadTest, MalformedContentsWithMatchingCrcsAreReportedNotDiscarded) {
  std::mt19937 random(1234);
  const std::vector<std::vector<uint8_t>> seeds = {
      {0xFF, 0xFF, 0xFF, 0x07, 0x01, 'k', 0x01, 0x05},
      {0x00, 0x05, 'a', 'b'},
      {0x00, 0x80, 0x80, 0x80, 0x80, 0x08},
      {0x00, 0x01, 0xC3, 0x01, 0x01},
      {0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> body = seeds[round % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && round >= static_cast<int>(seeds.size()); ++e) {
      switch (random() % 3) {
        case 0: body[random() % body.size()] = static_cast<uint8_t>(random()); break;
        case 1: body.push_back(static_cast<uint8_t>(random())); break;
        default: if (body.size() > 1) body.pop_back(); break;
      }
    }
    const std::string id = "fuzz" + std::to_string(round);
    const std::string key = round % 2 ? "fuzzkey" : "";
    // Plain bytes read through a key: what a wrong key makes of a store.
    const std::vector<uint8_t> data = writeContent(id, body);

    Cask* store = open(id, key);
    for (const std::string& k : store->allKeys()) (void)store->getRaw(k);
    (void)store->getInt64("k");
    if (store->isUndecodable()) {
      EXPECT_FALSE(store->set(int32_t{1}, "new")) << round;
      EXPECT_EQ(bytesOf(dataPath(id)), data) << round;
      EXPECT_EQ(metaOf(dataPath(id)).sequence, 9u) << round;
    }
    forget(store);
    store->close();
  }
}

}  // namespace

namespace {

// holder, "a" = 1, a key that is not UTF-8 = 2, "b" = 3.
const std::vector<uint8_t> kOneBadKey = {0xFF, 0xFF, 0xFF, 0x07, 0x01, 'a', 0x01, 0x01,
                                         0x02, 0xC3, 0x28, 0x01, 0x02, 0x01, 'b', 0x01, 0x03};

class Utf8KeyTest : public LoadTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(Utf8KeyTest, KeyThatIsNotUtf8IsSkippedAndTheRestStaysReadableAndWritable) {
  const std::string key = GetParam();
  writeContent("store", kOneBadKey, key);
  // A snapshot reads it as loading does.
  const cask::StoreSnapshot snapshot =
      cask::StoreSnapshot::read(dataPath(), key.empty() ? nullptr : &key);
  EXPECT_EQ(snapshot.keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(snapshot.describe(), "1 entries whose key is not UTF-8 are skipped");
  Cask* store = open("store", key);
  EXPECT_FALSE(store->isUndecodable());
  EXPECT_EQ(store->count(), 2u);
  EXPECT_EQ(store->getInt32("a"), 1);
  EXPECT_EQ(store->getInt32("b"), 3);
  EXPECT_TRUE(store->set(int32_t{4}, "c"));
  store = reopen(store, key);
  EXPECT_EQ(store->allKeys().size(), 3u);
  EXPECT_EQ(store->getInt32("c"), 4);
  // Compaction (here: a removal of several keys) keeps what the index
  // holds: the skipped entry is gone.
  store->removeValuesForKeys({"c", "absent"});
  store = reopen(store, key);
  EXPECT_EQ(store->count(), 2u);
  EXPECT_EQ(store->getInt32("a"), 1);
  if (key.empty()) {
    const auto bytes = bytesOf(dataPath());
    const auto content = bytes.begin() + 4;
    const auto end = content + metaOf(dataPath()).actualSize;
    const std::vector<uint8_t> bad = {0x02, 0xC3, 0x28};
    EXPECT_EQ(std::search(content, end, bad.begin(), bad.end()), end);
  }
}

TEST_P(Utf8KeyTest, AnEmptyKeyInTheContentIsSkipped) {
  const std::string key = GetParam();
  // holder, "a" = 1, the empty key = 5, "b" = 3.
  writeContent("store", {0xFF, 0xFF, 0xFF, 0x07, 0x01, 'a', 0x01, 0x01, 0x00, 0x01, 0x05, 0x01, 'b', 0x01, 0x03},
               key);
  Cask* store = open("store", key);
  EXPECT_EQ(store->count(), 2u);
  EXPECT_EQ(store->allKeys().size(), 2u);
  EXPECT_EQ(store->getInt32("a"), 1);
  EXPECT_EQ(store->getInt32("b"), 3);
}

TEST_P(Utf8KeyTest, ContentWhoseOnlyKeysAreNotUtf8StaysUndecodableAndUntouched) {
  const std::string key = GetParam();
  const std::vector<uint8_t> data = writeContent("store", {0x00, 0x02, 0xC3, 0x28, 0x01, 0x02}, key);
  Cask* store = open("store", key);
  EXPECT_EQ(store->count(), 0u);
  EXPECT_TRUE(store->isUndecodable());
  EXPECT_FALSE(store->set(int32_t{1}, "new"));
  EXPECT_EQ(bytesOf(dataPath()), data);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, Utf8KeyTest, ::testing::Values("", "utf8key"));

}  // namespace
