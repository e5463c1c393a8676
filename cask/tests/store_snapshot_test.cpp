// The read-only snapshot: it reads what a load would read, writes nothing,
// and calls a store complete only when opening it would lose nothing.
#include "cask/store_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "store_fixture.h"

namespace {

using cask::Cask;
using cask::StoreSnapshot;

// Every file under `dir` with its bytes.
std::map<std::string, std::vector<uint8_t>> filesUnder(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path().string()] = cask::readWholeFile(entry.path().string());
  }
  return files;
}

class SnapshotTest : public cask::testing::StoreTest, public ::testing::WithParamInterface<std::string> {
 protected:
  std::string key() const { return GetParam(); }
  const std::string* keyPointer() const { return key().empty() ? nullptr : &cryptKey_; }
  void SetUp() override {
    StoreTest::SetUp();
    cryptKey_ = key();
  }

  // A closed store with a history: appends, a compaction (so the meta record
  // has a last confirmed state), then appends past it. Returns its values.
  std::map<std::string, std::vector<uint8_t>> makeStore(const std::string& root) {
    Cask* store = Cask::caskWithID("store", cask::CaskSingleProcess, keyPointer(), &root);
    for (int i = 0; i < 24; ++i) {
      // Some values large enough for the encrypted store's offset form.
      const std::string value(i % 5 == 0 ? 300 : 3 + i, static_cast<char>('a' + i));
      EXPECT_TRUE(store->set(std::string_view(value), "k" + std::to_string(i)));
    }
    store->removeValuesForKeys({"k1", "k2"});
    for (int i = 24; i < 28; ++i) EXPECT_TRUE(store->set(int64_t{i} * 1000, "k" + std::to_string(i)));
    std::map<std::string, std::vector<uint8_t>> values;
    for (const std::string& k : store->allKeys()) values[k] = *store->getRaw(k);
    store->close();
    return values;
  }

  std::string cryptKey_;
};

TEST_P(SnapshotTest, ReadsWhatTheStoreHoldsAndTypesItsValues) {
  const auto values = makeStore(dir_);
  const StoreSnapshot snapshot = StoreSnapshot::read(dataPath(), keyPointer());
  ASSERT_TRUE(snapshot.isComplete()) << snapshot.describe();
  EXPECT_EQ(snapshot.describe(), "valid");
  EXPECT_EQ(snapshot.keys().size(), values.size());
  for (const auto& [k, bytes] : values) EXPECT_EQ(snapshot.getRaw(k), bytes) << k;
  EXPECT_EQ(snapshot.get<std::string>("k3"), std::string(6, 'd'));
  EXPECT_EQ(snapshot.get<int64_t>("k25"), 25000);
  EXPECT_FALSE(snapshot.get<int64_t>("k1").has_value());
  EXPECT_FALSE(snapshot.get<std::string>("k25").has_value());  // a varint is no length-prefixed string
}

TEST_P(SnapshotTest, DamagedOrUnreadableStoresAreReportedAndLeftAsTheyAre) {
  makeStore(dir_);
  auto bytes = bytesOf(dataPath());
  bytes[20] ^= 0x5A;
  writeBytes(dataPath(), bytes);
  // A journal from an interrupted compaction that does not match is left
  // for the store to deal with, too.
  writeBytes(dataPath() + ".journal", std::vector<uint8_t>(200, 7));
  const auto before = filesUnder(dir_);
  const StoreSnapshot damaged = StoreSnapshot::read(dataPath(), keyPointer());
  EXPECT_EQ(damaged.fileCheck(), cask::FileCheck::BadCrc);
  EXPECT_FALSE(damaged.isComplete());
  EXPECT_TRUE(damaged.keys().empty());
  EXPECT_EQ(StoreSnapshot::read(dir_ + "/missing", keyPointer()).fileCheck(), cask::FileCheck::NoData);
  EXPECT_EQ(filesUnder(dir_), before);
}

TEST_P(SnapshotTest, CompleteOnlyWhenOpeningLosesNothing) {
  const std::string origin = dir_ + "/origin";
  const auto values = makeStore(origin);
  const std::string originData = Cask::mappedKVPathWithID("store", &origin);
  const auto data = bytesOf(originData);
  const auto meta = bytesOf(originData + ".crc");
  const size_t contentEnd = 4 + metaOf(originData).actualSize;

  struct Damage {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> meta;
  };
  std::vector<Damage> damages{{"none", data, meta}};
  auto flipped = [](std::vector<uint8_t> bytes, size_t at, uint8_t mask) {
    bytes[at] ^= mask;
    return bytes;
  };
  auto cut = [](std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
  };
  for (size_t at = 0; at < sizeof(cask::CaskMetaInfo); ++at) {
    for (const uint8_t mask : {0x01, 0x80}) damages.push_back({"meta flip " + std::to_string(at), data, flipped(meta, at, mask)});
  }
  for (const size_t size : {0, 3, 4, 27, 28, 31, 32, 40, 103, 104}) {
    damages.push_back({"meta cut " + std::to_string(size), data, cut(meta, size)});
  }
  for (size_t at = 0; at < contentEnd + 8; at += (at < 12 || at + 12 > contentEnd) ? 1 : 7) {
    damages.push_back({"data flip " + std::to_string(at), flipped(data, at, 0x20), meta});
  }
  for (size_t size = 0; size <= contentEnd + 1; size += (size < 8 || size + 8 > contentEnd) ? 1 : 13) {
    damages.push_back({"data cut " + std::to_string(size), cut(data, size), meta});
  }
  // A zeroed meta record (with the data header, it still checks) opens empty.
  const std::vector<uint8_t> zeroMeta(meta.size(), 0);
  damages.push_back({"meta zeroed", data, zeroMeta});
  std::vector<uint8_t> zeroHeader = data;
  std::fill_n(zeroHeader.begin(), 4, 0);
  damages.push_back({"meta and data header zeroed", zeroHeader, zeroMeta});
  // Random damage of several bytes at once, in either file or both.
  std::mt19937 random(20261209);
  for (int round = 0; round < 150; ++round) {
    Damage damage{"random " + std::to_string(round), data, meta};
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      std::vector<uint8_t>& target = random() % 2 ? damage.data : damage.meta;
      const size_t limit = &target == &damage.data ? contentEnd + 4 : sizeof(cask::CaskMetaInfo);
      if (target.empty()) continue;
      if (random() % 5 == 0) {
        target.resize(random() % std::min(target.size(), limit));
      } else {
        target[random() % std::min(target.size(), limit)] ^= static_cast<uint8_t>(1 + random() % 255);
      }
    }
    damages.push_back(std::move(damage));
  }

  size_t complete = 0;
  for (const Damage& damage : damages) {
    const std::string root = dir_ + "/case";
    ASSERT_TRUE(cask::mkPath(root));
    const std::string path = Cask::mappedKVPathWithID("store", &root);
    writeBytes(path, damage.data);
    writeBytes(path + ".crc", damage.meta);
    const StoreSnapshot snapshot = StoreSnapshot::read(path, keyPointer());
    if (snapshot.isComplete()) {
      ++complete;
      Cask* store = Cask::caskWithID("store", cask::CaskSingleProcess, keyPointer(), &root);
      ASSERT_NE(store, nullptr);
      std::vector<std::string> keys = store->allKeys();
      std::sort(keys.begin(), keys.end());
      EXPECT_EQ(keys, snapshot.keys()) << damage.name;
      EXPECT_EQ(store->count(), values.size()) << damage.name;
      for (const auto& [k, bytes] : values) {
        EXPECT_EQ(store->getRaw(k), bytes) << damage.name << ", key " << k;
        EXPECT_EQ(snapshot.getRaw(k), bytes) << damage.name << ", key " << k;
      }
      store->close();
    }
    std::filesystem::remove_all(root);
  }
  // Damage outside what a load reads (the last confirmed state, bytes past
  // the content, the data header from version 3 on) keeps stores complete.
  EXPECT_GT(complete, 20u) << complete;
  EXPECT_LT(complete, damages.size() / 2);

  // Both files all zeros: an empty store, which opening loses nothing of.
  const std::string root = dir_ + "/zeros";
  ASSERT_TRUE(cask::mkPath(root));
  const std::string path = Cask::mappedKVPathWithID("store", &root);
  writeBytes(path, std::vector<uint8_t>(data.size(), 0));
  writeBytes(path + ".crc", zeroMeta);
  const StoreSnapshot zeros = StoreSnapshot::read(path, keyPointer());
  EXPECT_TRUE(zeros.isComplete()) << zeros.describe();
  EXPECT_TRUE(zeros.keys().empty());

  // From version 3 on the meta size counts, not a data header below it.
  std::vector<uint8_t> lowered = data;
  uint32_t header = 0;
  std::memcpy(&header, lowered.data(), 4);
  header -= 1;
  std::memcpy(lowered.data(), &header, 4);
  writeBytes(path, lowered);
  writeBytes(path + ".crc", meta);
  const StoreSnapshot below = StoreSnapshot::read(path, keyPointer());
  EXPECT_TRUE(below.isComplete()) << below.describe();
  EXPECT_EQ(below.keys().size(), values.size());
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, SnapshotTest, ::testing::Values("", "snapshot-key"),
                         [](const auto& param) { return param.param.empty() ? "plain" : "encrypted"; });

}  // namespace
