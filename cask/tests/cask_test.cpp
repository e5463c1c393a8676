// The store from the caller's seat: typed values, the bytes they leave in the
// files, growth, compaction, trim, re-keying and the refusals.
#include "cask/cask.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <random>
#include <regex>

#include "aes_crypt.h"
#include "cask_internal.h"
#include "store_fixture.h"

namespace {

using cask::Cask;
using cask::testing::StoreTest;

std::vector<uint8_t> hexBytes(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

std::vector<uint8_t> content(const std::vector<uint8_t>& data) {
  uint32_t size = 0;
  std::memcpy(&size, data.data(), 4);
  return std::vector<uint8_t>(data.begin() + 4, data.begin() + 4 + size);
}

class CaskTest : public StoreTest {};

TEST_F(CaskTest, FreshPlainStoreLayoutAfterOneInt64) {
  Cask* store = open();
  ASSERT_TRUE(store->set(int64_t{5}, "k"));
  const auto data = bytesOf(dataPath());
  ASSERT_EQ(data.size(), Cask::pageSize());
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 12),
            hexBytes({0x08, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x07, 0x01, 0x6B, 0x01, 0x05}));
  const cask::CaskMetaInfo meta = metaOf(dataPath());
  EXPECT_EQ(meta.version, 3u);
  EXPECT_EQ(meta.sequence, 1u);
  EXPECT_EQ(meta.actualSize, 8u);
  EXPECT_EQ(meta.crcDigest, crc32(0, data.data() + 4, 8));
  EXPECT_EQ(meta.lastConfirmedActualSize, 4u);
  EXPECT_EQ(meta.lastConfirmedCrcDigest, crc32(0, data.data() + 4, 4));
  EXPECT_EQ(bytesOf(dataPath() + ".crc").size(), Cask::pageSize());
}

TEST_F(CaskTest, StringAppendAndRemoveBytes) {
  Cask* store = open();
  ASSERT_TRUE(store->set(std::string_view("ab"), "s"));
  ASSERT_TRUE(store->set(int32_t{-1}, "n"));
  store->removeValueForKey("s");
  EXPECT_EQ(content(bytesOf(dataPath())),
            hexBytes({0xFF, 0xFF, 0xFF, 0x07,                                  // item-size holder
                      0x01, 's', 0x03, 0x02, 'a', 'b',                         // "s" = "ab"
                      0x01, 'n', 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                      0x01, 's', 0x00}));                                      // remove "s"
  EXPECT_EQ(store->getValueSize("n", false), 10u);
  EXPECT_FALSE(store->containsKey("s"));
  EXPECT_EQ(store->getInt32("n"), -1);
}

TEST_F(CaskTest, EncryptedStoreDecryptsToThePlainLayout) {
  Cask* store = open("store", "secret-key");
  ASSERT_TRUE(store->set(int64_t{5}, "k"));
  ASSERT_TRUE(store->set(std::string_view("ab"), "s"));
  const auto cipher = content(bytesOf(dataPath()));
  const cask::CaskMetaInfo meta = metaOf(dataPath());
  EXPECT_EQ(meta.version, 3u);
  EXPECT_EQ(meta.crcDigest, crc32(0, cipher.data(), static_cast<uInt>(cipher.size())));
  cask::AESCrypt crypt("secret-key", 10, meta.vector, 16);
  std::vector<uint8_t> plain(cipher.size());
  crypt.decrypt(cipher.data(), plain.data(), plain.size());
  EXPECT_EQ(plain, hexBytes({0xFF, 0xFF, 0xFF, 0x07, 0x01, 'k', 0x01, 0x05, 0x01, 's', 0x03, 0x02, 'a', 'b'}));
}

TEST_F(CaskTest, TypedValuesRoundTripThroughAReload) {
  for (const std::string key : {"", "a key"}) {
    Cask* store = open("typed" + std::to_string(key.size()), key);
    ASSERT_TRUE(store->set(true, "bool"));
    ASSERT_TRUE(store->set(int32_t{-7}, "i32"));
    ASSERT_TRUE(store->set(uint32_t{4000000000u}, "u32"));
    ASSERT_TRUE(store->set(int64_t{-1} << 40, "i64"));
    ASSERT_TRUE(store->set(uint64_t{1} << 63, "u64"));
    ASSERT_TRUE(store->set(2.5f, "f"));
    ASSERT_TRUE(store->set(1.0e300, "d"));
    ASSERT_TRUE(store->set("text \xe4\xbd\xa0\xe5\xa5\xbd", "str"));
    const std::vector<uint8_t> blob(1000, 0xAB);
    ASSERT_TRUE(store->set(std::span<const uint8_t>(blob), "blob"));
    ASSERT_TRUE(store->setRaw(std::span<const uint8_t>(blob.data(), 3), "raw"));
    store = reopen(store, key);
    EXPECT_TRUE(store->getBool("bool"));
    EXPECT_EQ(store->getInt32("i32"), -7);
    EXPECT_EQ(store->getUInt32("u32"), 4000000000u);
    EXPECT_EQ(store->getInt64("i64"), int64_t{-1} << 40);
    EXPECT_EQ(store->getUInt64("u64"), uint64_t{1} << 63);
    EXPECT_EQ(store->getFloat("f"), 2.5f);
    EXPECT_EQ(store->getDouble("d"), 1.0e300);
    EXPECT_EQ(store->getString("str"), "text \xe4\xbd\xa0\xe5\xa5\xbd");
    EXPECT_EQ(store->getBytes("blob"), blob);
    EXPECT_EQ(store->getRaw("raw"), std::vector<uint8_t>(blob.begin(), blob.begin() + 3));
    EXPECT_EQ(store->getValueSize("blob", true), 1000u);
    std::vector<uint8_t> out(1000);
    EXPECT_EQ(store->writeValueToBuffer("blob", out.data(), 1000), 1000);
    EXPECT_EQ(out, blob);
    EXPECT_EQ(store->writeValueToBuffer("blob", out.data(), 999), -1);
    ASSERT_TRUE(store->set(std::string_view(), "empty"));
    EXPECT_EQ(store->writeValueToBuffer("empty", out.data(), 0), 0);
    store->removeValueForKey("empty");
    EXPECT_EQ(store->count(), 10u);
  }
}

TEST_F(CaskTest, MissingAndMistypedValuesGiveDefaults) {
  Cask* store = open();
  bool has = true;
  EXPECT_EQ(store->getInt64("missing", 42, &has), 42);
  EXPECT_FALSE(has);
  EXPECT_EQ(store->getString("missing"), std::nullopt);
  ASSERT_TRUE(store->set(int32_t{300}, "number"));
  EXPECT_EQ(store->getString("number"), std::nullopt);  // 300 is no length prefix of what follows
  const uint8_t notUtf8[] = {0xff, 0xfe};
  ASSERT_TRUE(store->set(std::span<const uint8_t>(notUtf8), "bytes"));
  EXPECT_EQ(store->getString("bytes"), std::nullopt);
  EXPECT_EQ(store->getBytes("bytes"), std::vector<uint8_t>(std::begin(notUtf8), std::end(notUtf8)));
  EXPECT_EQ(store->getDouble("number", 1.5, &has), 1.5);
  EXPECT_FALSE(has);
  // Every typed setter refuses an empty key.
  EXPECT_FALSE(store->set(true, ""));
  EXPECT_FALSE(store->set(int32_t{1}, ""));
  EXPECT_FALSE(store->set(uint32_t{1}, ""));
  EXPECT_FALSE(store->set(int64_t{1}, ""));
  EXPECT_FALSE(store->set(uint64_t{1}, ""));
  EXPECT_FALSE(store->set(1.0f, ""));
  EXPECT_FALSE(store->set(1.0, ""));
  EXPECT_FALSE(store->set(std::string_view("v"), ""));
  EXPECT_FALSE(store->set(std::span<const uint8_t>(notUtf8), ""));
  EXPECT_FALSE(store->set(static_cast<const char*>("v"), ""));
  EXPECT_EQ(store->count(), 2u);
  EXPECT_EQ(store->getInt32("", 7, &has), 7);
  EXPECT_FALSE(has);
  EXPECT_FALSE(Cask::isFileValid(""));
  EXPECT_TRUE(store->set(static_cast<const char*>(nullptr), "number"));
  EXPECT_FALSE(store->containsKey("number"));
}

TEST_F(CaskTest, OversizedAndNonUtf8KeysAreRefusedAndNothingIsWritten) {
  Cask* store = open();
  ASSERT_TRUE(store->set(int32_t{1}, "ok"));
  const size_t before = store->actualSize();
  EXPECT_FALSE(store->set(int32_t{1}, std::string(65536, 'k')));
  EXPECT_FALSE(store->set(int32_t{1}, std::string(70000, 'k')));
  EXPECT_FALSE(store->set(int32_t{1}, "\xff\xfe"));
  EXPECT_EQ(store->actualSize(), before);
  EXPECT_TRUE(store->set(int32_t{2}, std::string(60000, 'k')));
  store = reopen(store);
  EXPECT_EQ(store->getInt32(std::string(60000, 'k')), 2);
  EXPECT_EQ(store->getInt32("ok"), 1);
}

TEST_F(CaskTest, GrowthDoublesTheFileAndKeepsEveryValue) {
  for (const std::string key : {"", "grow-key"}) {
    Cask* store = open("grow" + key, key);
    for (int i = 0; i < 400; ++i) {
      ASSERT_TRUE(store->set(std::string(i % 2 ? 300 : 40, static_cast<char>('a' + i % 26)), "key" + std::to_string(i)));
    }
    const size_t size = store->totalSize();
    EXPECT_GT(size, Cask::pageSize());
    EXPECT_EQ(size % Cask::pageSize(), 0u);
    EXPECT_EQ(size / Cask::pageSize() & (size / Cask::pageSize() - 1), 0u) << "a power of two of pages";
    store = reopen(store, key);
    ASSERT_EQ(store->count(), 400u);
    for (int i = 0; i < 400; ++i) {
      ASSERT_EQ(store->getString("key" + std::to_string(i)),
                std::string(i % 2 ? 300 : 40, static_cast<char>('a' + i % 26)))
          << i;
    }
  }
}

TEST_F(CaskTest, RewritingOneKeyCompactsAndKeepsEveryValue) {
  for (const std::string key : {"", "compact-key"}) {
    Cask* store = open("compact" + key, key);
    ASSERT_TRUE(store->set(std::string(500, 'x'), "large"));
    ASSERT_TRUE(store->set(int64_t{-1}, "counter"));
    const uint32_t sequence = metaOf(store->dataPath()).sequence;
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(store->set(int64_t{i}, "counter"));
    EXPECT_GT(metaOf(store->dataPath()).sequence, sequence);
    EXPECT_LT(store->actualSize(), 2000u * 12) << "dead pairs were dropped";
    store = reopen(store, key);
    EXPECT_EQ(store->getInt64("counter"), 1999);
    EXPECT_EQ(store->getString("large"), std::string(500, 'x'));
  }
}

// Reads find values through where the index last saw their pairs: every
// overwrite, removal and compaction that moves pairs must keep that current,
// or a read would answer from an older pair of the same key.
TEST_F(CaskTest, ReadsFollowPairsThroughOverwritesRemovalsAndCompaction) {
  for (const std::string key : {"", "follow-key"}) {
    Cask* store = open("follow" + key, key);
    std::map<std::string, std::string> model;
    std::mt19937 random(7);
    auto expectModel = [&](Cask* s) {
      for (int n = 0; n < 300; ++n) {
        const std::string name = "k" + std::to_string(n);
        const auto found = model.find(name);
        ASSERT_EQ(s->getString(name),
                  found == model.end() ? std::nullopt : std::optional<std::string>(found->second))
            << name;
      }
    };
    for (int step = 0; step < 6000; ++step) {
      const std::string name = "k" + std::to_string(random() % 300);
      if (random() % 5 == 0) {
        store->removeValueForKey(name);
        model.erase(name);
      } else {
        // Sizes across the inline, allocated and offset forms.
        const std::string value(1 + random() % 400, static_cast<char>('a' + step % 26));
        ASSERT_TRUE(store->set(value, name));
        model[name] = value;
      }
      if (step % 1500 == 0) expectModel(store);
    }
    expectModel(store);
    // Loading replays the overwrites and removals in file order.
    store = reopen(store, key);
    expectModel(store);
    store->trim();
    expectModel(store);
    store = reopen(store, key);
    expectModel(store);
  }
}

// The journal and the meta sequence as each "mid-compaction" point saw them,
// and the synchronous syncs that end write-backs.
struct RewriteSeen {
  long journalBytes;  // -1: no journal
  uint32_t sequence;
};
std::vector<RewriteSeen> g_rewrites;
int g_writeBackSyncs = 0;
std::string g_watchedData;

void recordRewrite(const char* name) {
  if (std::string_view(name) == "write-back-sync") ++g_writeBackSyncs;
  if (std::string_view(name) != "mid-compaction") return;
  struct stat st {};
  const std::string journal = g_watchedData + cask::kJournalSuffix;
  g_rewrites.push_back({stat(journal.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1,
                        cask::readMetaInfo(g_watchedData + cask::kCrcSuffix).value_or(cask::CaskMetaInfo{}).sequence});
}

class RewriteWatch : public CaskTest {
 protected:
  void watch(Cask* store) {
    g_watchedData = store->dataPath();
    g_rewrites.clear();
    g_writeBackSyncs = 0;
    cask::detail::g_testPointHook = &recordRewrite;
  }
  void TearDown() override {
    cask::detail::g_testPointHook = nullptr;
    CaskTest::TearDown();
  }
};

TEST_F(RewriteWatch, GrowthWithEveryPairLiveRewritesAndSyncsNothing) {
  for (const std::string key : {"", "growth-key"}) {
    Cask* store = open("growth" + key, key, cask::CaskMultiProcess);
    ASSERT_TRUE(store->set(std::string(40, 'v'), "key0"));  // the empty store's one write-back
    watch(store);
    const uint32_t sequence = metaOf(store->dataPath()).sequence;
    for (int i = 1; i < 300; ++i) ASSERT_TRUE(store->set(std::string(40, 'v'), "key" + std::to_string(i)));
    ASSERT_GE(store->totalSize(), 4 * Cask::pageSize());
    EXPECT_TRUE(g_rewrites.empty()) << key;
    EXPECT_EQ(g_writeBackSyncs, 0) << key;
    // Each growth still confirms the content and sends other processes to remap.
    const cask::CaskMetaInfo meta = metaOf(store->dataPath());
    EXPECT_GT(meta.sequence, sequence) << key;
    EXPECT_GT(meta.lastConfirmedActualSize, Cask::pageSize()) << key;
    EXPECT_EQ(reopen(store, key, cask::CaskMultiProcess)->count(), 300u) << key;
  }
}

TEST_F(RewriteWatch, WriteBacksInQuickSuccessionGrowTheFileSoTheySyncRarely) {
  Cask* store = open("hot");
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(store->set(std::string(32, 'v'), "key" + std::to_string(i)));
  watch(store);
  // 40,000 overwrites of 100 keys: about 2 MB of pairs over 5 KB of live ones.
  for (int i = 0; i < 40000; ++i) ASSERT_TRUE(store->set(std::string(32, 'w'), "key" + std::to_string(i % 100)));
  EXPECT_GT(g_rewrites.size(), 0u);
  EXPECT_LE(g_rewrites.size(), 12u);
  EXPECT_EQ(g_writeBackSyncs, static_cast<int>(g_rewrites.size()));
  EXPECT_LE(store->totalSize(), size_t{4} << 20);
  store = reopen(store);
  EXPECT_EQ(store->count(), 100u);
  EXPECT_EQ(store->getString("key99"), std::string(32, 'w'));

  // A store emptied before every set writes back each time with room to
  // spare: that never grows it, and a rewrite that only drops the dead pairs
  // at the end changes no byte that would need a sync.
  Cask* emptied = open("emptied");
  ASSERT_TRUE(emptied->set(std::string(32, 'v'), "only"));
  watch(emptied);
  for (int i = 0; i < 300; ++i) {
    emptied->removeValueForKey("only");
    ASSERT_TRUE(emptied->set(std::string(32, 'v'), "only"));
  }
  EXPECT_EQ(emptied->totalSize(), Cask::pageSize());
  EXPECT_EQ(g_rewrites.size(), 300u);
  EXPECT_EQ(g_writeBackSyncs, 0);
  EXPECT_EQ(reopen(emptied)->getString("only"), std::string(32, 'v'));
}

TEST_F(RewriteWatch, CompactionJournalsTheRewrittenPrefixBehindARaisedSequence) {
  for (const std::string key : {"", "journal-key"}) {
    Cask* store = open("prefix" + key, key, cask::CaskMultiProcess);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(store->set(std::string(40, 'v'), "key" + std::to_string(i)));
    watch(store);
    const size_t contentBefore = store->actualSize();
    const uint32_t sequenceBefore = metaOf(store->dataPath()).sequence;
    // Overwrites leave dead pairs below live ones until a rewrite moves them.
    size_t previous = contentBefore;
    int i = 0;
    while (g_rewrites.empty()) {
      previous = store->actualSize();
      ASSERT_TRUE(store->set(std::string(40, 'w'), "key" + std::to_string(i++ % 20)));
    }
    ASSERT_EQ(g_rewrites.size(), 1u);
    const size_t pair = 1 + 4 + 1 + 41;  // "keyN" and a 40-byte string
    const size_t header = 16 + sizeof(cask::CaskMetaInfo);
    const size_t rewritten = store->actualSize() - pair;
    EXPECT_EQ(g_rewrites[0].journalBytes, static_cast<long>(header + 4 + rewritten)) << key;
    EXPECT_LT(rewritten, previous) << key;
    // Other processes reload (and would find the journal) from the start.
    EXPECT_GT(g_rewrites[0].sequence, sequenceBefore) << key;
    EXPECT_FALSE(cask::isFileExist(store->dataPath() + cask::kJournalSuffix)) << key;
    store = reopen(store, key, cask::CaskMultiProcess);
    EXPECT_EQ(store->count(), 20u) << key;
    EXPECT_EQ(store->getString("key0"), std::string(40, 'w')) << key;
  }
}

// The files as a process killed at "mid-compaction" would leave them.
std::vector<std::vector<uint8_t>> g_killedFiles;

void snapshotAtMidRewrite(const char* name) {
  if (std::string_view(name) != "mid-compaction" || !g_killedFiles.empty()) return;
  for (const char* suffix : {"", cask::kCrcSuffix, cask::kJournalSuffix}) {
    g_killedFiles.push_back(cask::readWholeFile(g_watchedData + suffix));
  }
}

// A journal is replayed only whole and unchanged: one damaged byte and it is
// dropped, not copied over the data file.
struct JournalDamage {
  const char* name;
  void (*damage)(std::vector<uint8_t>& journal);
};
const JournalDamage kJournalDamages[] = {
    {"none", [](std::vector<uint8_t>&) {}},
    {"payload byte flipped", [](std::vector<uint8_t>& j) { j[j.size() - 3] ^= 0x20; }},
    {"meta byte flipped", [](std::vector<uint8_t>& j) { j[16] ^= 0x01; }},
    {"magic changed", [](std::vector<uint8_t>& j) { j[7] = '2'; }},
    {"crc changed", [](std::vector<uint8_t>& j) { j[12] ^= 0x01; }},
    {"last byte cut", [](std::vector<uint8_t>& j) { j.pop_back(); }},
    {"byte added", [](std::vector<uint8_t>& j) { j.push_back(0); }},
    {"length past the end", [](std::vector<uint8_t>& j) { j[11] += 0x40; }},
};

TEST_F(RewriteWatch, KillInTheMiddleOfAMoveComesBackFromTheJournal) {
  for (const JournalDamage& row : kJournalDamages) {
    for (const std::string key : {"", "killed-key"}) {
      const std::string id = "killed" + std::to_string(&row - kJournalDamages) + key;
      Cask* store = open(id, key, cask::CaskMultiProcess);
      std::map<std::string, std::string> expected;
      auto valueFor = [](int n) { return "value" + std::to_string(n) + std::string(40, '.'); };
      int n = 0;
      for (; n < 20; ++n) {
        ASSERT_TRUE(store->set(valueFor(n), "key" + std::to_string(n)));
        expected["key" + std::to_string(n)] = valueFor(n);
      }
      g_watchedData = store->dataPath();
      g_killedFiles.clear();
      cask::detail::g_testPointHook = &snapshotAtMidRewrite;
      std::map<std::string, std::string> beforeLast;
      while (g_killedFiles.empty()) {
        beforeLast = expected;
        const std::string k = "key" + std::to_string(n % 20);
        ASSERT_TRUE(store->set(valueFor(n), k));
        expected[k] = valueFor(n++);
      }
      cask::detail::g_testPointHook = nullptr;
      ASSERT_FALSE(g_killedFiles[2].empty()) << "pairs moved, so a journal was there";
      // The rewrite ran for the append that did not happen: the restored store
      // holds what was there before it.
      const std::string crashed = dir_ + "/crashed";
      ASSERT_TRUE(cask::mkPath(crashed));
      const std::string data = Cask::mappedKVPathWithID(id, &crashed);
      writeBytes(data, g_killedFiles[0]);
      writeBytes(data + cask::kCrcSuffix, g_killedFiles[1]);
      // The check a backup or snapshot makes applies the journal as loading
      // does: a damaged one counts as absent.
      const cask::FileCheck withoutJournal = cask::checkDataFile(data);
      const uint32_t crashedSequence = metaOf(data).sequence;
      std::vector<uint8_t> journal = g_killedFiles[2];
      row.damage(journal);
      writeBytes(data + cask::kJournalSuffix, journal);
      const bool whole = std::string_view(row.name) == "none";
      if (!whole) {
        EXPECT_EQ(cask::checkDataFile(data), withoutJournal) << row.name << " " << key;
      }
      Cask* restored =
          Cask::caskWithID(id, cask::CaskMultiProcess, key.empty() ? nullptr : &key, &crashed);
      ASSERT_NE(restored, nullptr);
      // Without the journal the half-moved data may be lost, never altered.
      size_t intact = 0;
      for (const auto& [k, v] : beforeLast) intact += restored->getString(k) == v;
      EXPECT_EQ(intact, restored->count()) << row.name << " " << key;
      // Sound files without the journal are kept whole beside a damaged one.
      if (whole || withoutJournal == cask::FileCheck::Valid) {
        EXPECT_EQ(intact, beforeLast.size()) << row.name << " " << key;
      }
      if (whole) {
        // A raised sequence sends every other process to reload.
        EXPECT_GT(metaOf(data).sequence, crashedSequence) << key;
      }
      EXPECT_FALSE(cask::isFileExist(data + cask::kJournalSuffix));
      restored->close();
    }
  }
}

TEST_F(CaskTest, TrimShrinksToWhatTheContentNeedsAndRaisesTheSequence) {
  Cask* store = open();
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(store->set(std::string(200, 'v'), "k" + std::to_string(i)));
  ASSERT_GE(store->totalSize(), 4 * Cask::pageSize());
  std::vector<std::string> keys;
  for (int i = 1; i < 300; ++i) keys.push_back("k" + std::to_string(i));
  store->removeValuesForKeys(keys);
  const uint32_t sequence = metaOf(dataPath()).sequence;
  store->trim();
  EXPECT_EQ(store->totalSize(), Cask::pageSize());
  EXPECT_GT(metaOf(dataPath()).sequence, sequence);
  store = reopen(store);
  EXPECT_EQ(store->count(), 1u);
  EXPECT_EQ(store->getString("k0"), std::string(200, 'v'));
  // One page has nothing to give back: its dead pairs stay, nothing is written.
  ASSERT_TRUE(store->set(std::string(10, 'w'), "k0"));
  const auto before = bytesOf(dataPath());
  store->trim();
  EXPECT_EQ(bytesOf(dataPath()), before);
}

TEST_F(CaskTest, RemovingTheLastKeyAndTrimmingClearsToOnePage) {
  Cask* store = open();
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(store->set(std::string(100, 'o'), "k" + std::to_string(i)));
  ASSERT_GT(store->totalSize(), Cask::pageSize());
  for (int i = 0; i < 100; ++i) store->removeValueForKey("k" + std::to_string(i));
  const uint32_t sequence = metaOf(dataPath()).sequence;
  store->trim();
  EXPECT_EQ(store->actualSize(), 0u);
  EXPECT_EQ(store->totalSize(), Cask::pageSize());
  EXPECT_GT(metaOf(dataPath()).sequence, sequence);
  EXPECT_TRUE(store->set(int32_t{2}, "again"));
  EXPECT_EQ(reopen(store)->getInt32("again"), 2);
}

TEST_F(CaskTest, ClearAllEmptiesTheStore) {
  Cask* store = open("clear", "k");
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(store->set(std::string(300, 'z'), "k" + std::to_string(i)));
  store->clearAll();
  EXPECT_EQ(store->count(), 0u);
  EXPECT_EQ(store->totalSize(), Cask::pageSize());
  ASSERT_TRUE(store->set(int32_t{3}, "after"));
  store = reopen(store, "k");
  EXPECT_EQ(store->count(), 1u);
  EXPECT_EQ(store->getInt32("after"), 3);
}

TEST_F(CaskTest, ReKeyToPlainAndBackKeepsTheValues) {
  Cask* store = open("rekey", "first");
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(store->set(std::string(i % 3 ? 20 : 400, static_cast<char>('a' + i % 26)), "k" + std::to_string(i)));
  }
  auto check = [&](Cask* s) {
    ASSERT_EQ(s->count(), 50u);
    for (int i = 0; i < 50; ++i) {
      ASSERT_EQ(s->getString("k" + std::to_string(i)), std::string(i % 3 ? 20 : 400, static_cast<char>('a' + i % 26)));
    }
  };
  ASSERT_TRUE(store->reKey(""));
  EXPECT_EQ(store->cryptKey(), "");
  check(store);
  check(store = reopen(store));
  ASSERT_TRUE(store->reKey("second"));
  EXPECT_EQ(store->cryptKey(), "second");
  check(store);
  ASSERT_TRUE(store->reKey("third"));
  check(store = reopen(store, "third"));
  EXPECT_TRUE(store->reKey("third"));
}

TEST_F(CaskTest, WrongKeyMakesTheStoreUndecodableUntilTheRightKeyIsGiven) {
  Cask* store = open("locked", "right");
  ASSERT_TRUE(store->set(std::string("secret"), "v"));
  const auto before = bytesOf(store->dataPath());
  store = reopen(store, "wrong");
  EXPECT_TRUE(store->isUndecodable());
  EXPECT_EQ(store->getString("v"), std::nullopt);
  EXPECT_FALSE(store->set(int32_t{1}, "w"));
  store->trim();
  store->removeValueForKey("v");
  EXPECT_FALSE(store->reKey("other"));
  EXPECT_EQ(bytesOf(store->dataPath()), before);
  const std::string right = "right";
  store->checkReSetCryptKey(&right);
  EXPECT_FALSE(store->isUndecodable());
  EXPECT_EQ(store->getString("v"), "secret");
}

TEST_F(CaskTest, PlainStoreOpenedWithAKeyIsUndecodableAndKeepsItsBytes) {
  Cask* store = open("mixup");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(store->set(std::string("value"), "k" + std::to_string(i)));
  const auto before = bytesOf(store->dataPath());
  store = reopen(store, "a key");
  EXPECT_TRUE(store->isUndecodable());
  EXPECT_FALSE(store->set(int32_t{1}, "x"));
  EXPECT_EQ(bytesOf(store->dataPath()), before);
  store->checkReSetCryptKey(nullptr);
  EXPECT_EQ(store->count(), 20u);
}

TEST_F(CaskTest, EncryptedStoreOpenedWithoutItsKeyReadsOnceTheKeyIsGiven) {
  Cask* store = open("mixup", "a key");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(store->set(std::string("value"), "k" + std::to_string(i)));
  store = reopen(store);
  const std::string key = "a key";
  store->checkReSetCryptKey(&key);
  EXPECT_EQ(store->count(), 20u);
  EXPECT_TRUE(store->set(int32_t{1}, "x"));
  EXPECT_EQ(reopen(store, key)->getInt32("x"), 1);
}

// Without its journal a rewrite could not come back from a kill: the re-key
// fails, and the content stays readable under the old key.
TEST_F(CaskTest, ReKeyThatCannotJournalItsRewriteFailsAndKeepsTheOldKey) {
  const std::pair<std::string, std::string> keys[] = {{"", "new"}, {"old", "new"}, {"old", ""}};
  for (const auto& [from, to] : keys) {
    const std::string id = "stuck" + from + to;
    Cask* store = open(id, from);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(store->set("value" + std::to_string(i), "k" + std::to_string(i)));
    const std::string temp = dataPath(id) + cask::kJournalSuffix + cask::kTempSuffix;
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    EXPECT_FALSE(store->reKey(to)) << from << " to " << to;
    EXPECT_EQ(store->cryptKey(), from);
    EXPECT_EQ(store->getString("k3"), "value3");
    store = reopen(store, from);
    EXPECT_EQ(store->count(), 20u) << from << " to " << to;
    EXPECT_EQ(store->getString("k19"), "value19");
    rmdir(temp.c_str());
  }
}

TEST_F(CaskTest, EnumerationWalksASnapshotSoTheBlockMayWrite) {
  Cask* store = open();
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(store->set(int32_t{i}, "k" + std::to_string(i)));
  int visited = 0;
  store->enumerateKeys([&](const std::string& key, bool&) {
    ++visited;
    store->removeValueForKey(key);
    ASSERT_TRUE(store->set(int32_t{1}, key + "-new"));
  });
  EXPECT_EQ(visited, 200);
  EXPECT_EQ(store->count(), 200u);
  int stopped = 0;
  store->enumerateKeys([&](const std::string&, bool& stop) { stop = ++stopped == 3; });
  EXPECT_EQ(stopped, 3);
}

TEST_F(CaskTest, IdsThatMakeBadPathsUseTheHashedName) {
  for (const std::string& id :
       {std::string("a/b"), std::string("."), std::string(".."), std::string("x\0y", 3),
        std::string(244, 'n'), std::string(300, 'n')}) {
    Cask* store = open(id);
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(store->set(int32_t{7}, "k"));
    EXPECT_EQ(store->dataPath(), dir_ + "/specialCharacter/" + cask::md5Hex(id));
    EXPECT_TRUE(cask::isFileExist(store->dataPath() + ".crc"));
    EXPECT_EQ(reopen(store)->getInt32("k"), 7);
  }
  EXPECT_EQ(open("plain.id")->dataPath(), dir_ + "/plain.id");
  // The longest own name leaves room for the longest suffix.
  EXPECT_EQ(open(std::string(243, 'n'))->dataPath(), dir_ + "/" + std::string(243, 'n'));
}

TEST_F(CaskTest, StoreFilesAndFoldersArePrivateAndNeverExecutable) {
  auto modeOf = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  const std::string root = dir_ + "/nested/root";
  Cask* store = Cask::caskWithID("a/b", cask::CaskSingleProcess, nullptr, &root);
  ASSERT_NE(store, nullptr);
  opened_.push_back(store);
  ASSERT_TRUE(store->set(int32_t{1}, "k"));
  EXPECT_EQ(modeOf(dir_ + "/nested"), 0700u);
  EXPECT_EQ(modeOf(root), 0700u);
  EXPECT_EQ(modeOf(root + "/specialCharacter"), 0700u);
  EXPECT_EQ(modeOf(store->dataPath()), 0600u);
  EXPECT_EQ(modeOf(store->metaPath()), 0600u);

  const std::string backup = dir_ + "/backup";
  ASSERT_TRUE(Cask::backupOneToDirectory("a/b", backup, &root));
  EXPECT_EQ(modeOf(backup), 0700u);
  EXPECT_EQ(modeOf(Cask::mappedKVPathWithID("a/b", &backup)), 0600u);
  EXPECT_EQ(modeOf(Cask::crcPathWithID("a/b", &backup)), 0600u);
}

TEST_F(CaskTest, RegistryReturnsTheOpenStoreAndKeysCustomRoots) {
  Cask* first = open("same");
  EXPECT_EQ(open("same", "ignored key"), first);
  EXPECT_EQ(first->cryptKey(), "");
  EXPECT_EQ(first->mmapKey(), "same");
  const std::string root = Cask::rootDir();
  EXPECT_EQ(Cask::mmapedKVKey("same", &root), "same");
  const std::string other = dir_ + "/other";
  Cask* elsewhere = Cask::caskWithID("same", cask::CaskSingleProcess, nullptr, &other);
  ASSERT_NE(elsewhere, first);
  EXPECT_EQ(elsewhere->mmapKey(), cask::md5Hex(other + "/same"));
  EXPECT_EQ(elsewhere->dataPath(), other + "/same");
  // A given root gets the hashed-name folder, whatever the id.
  EXPECT_TRUE(cask::isFileExist(other + "/specialCharacter"));
  elsewhere->close();
  EXPECT_EQ(Cask::caskWithID(""), nullptr);
}

TEST_F(CaskTest, OversizedValueIsRefused) {
  Cask* store = open();
  // Only the size is looked at before anything is read.
  const std::span<const uint8_t> huge(reinterpret_cast<const uint8_t*>(this), size_t{1} << 31);
  EXPECT_FALSE(store->set(huge, "huge"));
  EXPECT_FALSE(store->containsKey("huge"));
}

void sendLogLine(cask::CaskLogLevel level, const char*, int, const char*, const std::string& message) {
  cask::testing::sendLine(std::to_string(level) + " " + message);
}

// The start-up line is written once per process, so it is seen in a child.
CASK_CHILD_ROLE(logLines) {
  Cask::initializeCask(args.at(0), cask::CaskLogInfo, &sendLogLine);
  Cask* store = Cask::caskWithID("logged");
  if (store == nullptr || !store->set(int32_t{1}, "k")) return 1;
  store->close();
  return 0;
}

TEST(CaskLog, StartLineNamesThisMachineAndFilesOpenAndCloseAtInfo) {
  const std::string dir = cask::testing::makeTempDir("log");
  auto child = cask::testing::ChildProcess::spawn("logLines", {dir});
  std::string lines;
  while (const auto line = child.readLine()) lines += *line + "\n";
  const int status = child.wait();
  EXPECT_TRUE(cask::testing::exitedCleanly(status)) << cask::testing::describeStatus(status);
  struct utsname name {};
  ASSERT_EQ(uname(&name), 0);
  const std::string start = "1 version " + std::string(cask::version()) + ", page size " +
                            std::to_string(Cask::pageSize()) + ", arch " + name.machine + "\n";
  EXPECT_NE(lines.find(start), std::string::npos) << lines;
  for (const std::string& path : {dir + "/logged", dir + "/logged.crc"}) {
    EXPECT_TRUE(std::regex_search(lines, std::regex("1 open fd\\[0x[0-9a-f]+\\], " + path + "\n"))) << lines;
    EXPECT_TRUE(std::regex_search(lines, std::regex("1 closing fd\\[0x[0-9a-f]+\\], " + path + "\n"))) << lines;
  }
  cask::testing::removeTempDir(dir);
}

// onExit ends the registry for the whole process, so it runs in a child.
CASK_CHILD_ROLE(afterExit) {
  const std::string& dir = args.at(0);
  Cask::initializeCask(dir, cask::CaskLogError);
  Cask* store = Cask::caskWithID("exit", cask::CaskMultiProcess, nullptr, &dir);
  if (!store->set(int32_t{5}, "k")) return 10;
  Cask::onExit();
  if (store->getInt32("k", -1) != -1) return 11;
  if (store->set(int32_t{6}, "k")) return 12;
  if (store->count() != 0) return 13;
  store->sync();
  store->close();
  if (Cask::caskWithID("other", cask::CaskSingleProcess, nullptr, &dir) != nullptr) return 14;
  return 0;
}

TEST(CaskExit, CallsAfterTerminationReturnDefaults) {
  const std::string dir = cask::testing::makeTempDir("exit");
  auto child = cask::testing::ChildProcess::spawn("afterExit", {dir});
  const int status = child.wait();
  EXPECT_TRUE(cask::testing::exitedCleanly(status)) << cask::testing::describeStatus(status);
  EXPECT_EQ(cask::checkDataFile(dir + "/exit"), cask::FileCheck::Valid);
  cask::testing::removeTempDir(dir);
}

}  // namespace
