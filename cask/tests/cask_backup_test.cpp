// Backup, restore and file validation, through the facade.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "cask/cask_facade.h"
#include "child_process.h"
#include "memory_file.h"

namespace {

using cask::facade::Cask;
using cask::testing::ChildProcess;

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = cask::testing::makeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    base_ = dir_ + "/base";
    backup_ = dir_ + "/backup";
    Cask::setCaskBasePath(base_);
    Cask::initializeCask(base_, dir_ + "/group", std::getenv("CASK_TEST_LOG") ? cask::CaskLogInfo : cask::CaskLogNone);
  }
  void TearDown() override { cask::testing::removeTempDir(dir_); }

  std::shared_ptr<Cask> filled(const std::string& id, int32_t value) {
    auto store = Cask::caskWithID(id);
    EXPECT_TRUE(store->setInt32(value, "v"));
    EXPECT_TRUE(store->setString(std::string(500, 'x'), "padding"));
    return store;
  }
  static void closeAll(std::shared_ptr<Cask>& store) {
    store->close();
    store.reset();
  }
  static void flipByte(const std::string& path, size_t offset) {
    std::vector<uint8_t> bytes = cask::readWholeFile(path);
    ASSERT_GT(bytes.size(), offset);
    bytes[offset] ^= 0x5a;
    writeFile(path, bytes);
  }
  static void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  static uint32_t sequenceOf(const std::string& dataPath) {
    return cask::readMetaInfo(dataPath + ".crc").value_or(cask::CaskMetaInfo{}).sequence;
  }

  std::string dir_;
  std::string base_;
  std::string backup_;
};

TEST_F(BackupTest, BackupDamageRestoreBringsTheValuesBack) {
  auto store = filled("damaged", 7);
  ASSERT_TRUE(Cask::backupOneCask("damaged", "", backup_));
  closeAll(store);
  EXPECT_TRUE(Cask::isFileValid("damaged", backup_));

  flipByte(base_ + "/damaged", 20);
  EXPECT_FALSE(Cask::isFileValid("damaged"));
  ASSERT_TRUE(Cask::restoreOneCask("damaged", "", backup_));
  EXPECT_TRUE(Cask::isFileValid("damaged"));
  store = Cask::caskWithID("damaged");
  EXPECT_EQ(store->getInt32("v"), 7);
  store->close();
}

TEST_F(BackupTest, RestoreIntoAnOpenStoreReloadsItAndRaisesItsSequence) {
  auto store = filled("open", 1);
  ASSERT_TRUE(Cask::backupOneCask("open", "", backup_));
  ASSERT_TRUE(store->setInt32(2, "v"));
  ASSERT_TRUE(store->setInt32(3, "later"));
  const uint32_t before = sequenceOf(base_ + "/open");

  ASSERT_TRUE(Cask::restoreOneCask("open", "", backup_));
  EXPECT_EQ(store->getInt32("v"), 1);
  EXPECT_FALSE(store->containsKey("later"));
  EXPECT_GT(sequenceOf(base_ + "/open"), before);
  ASSERT_TRUE(store->setInt32(4, "after"));  // still writable
  closeAll(store);
  store = Cask::caskWithID("open");
  EXPECT_EQ(store->getInt32("after"), 4);
  EXPECT_EQ(store->getInt32("v"), 1);
  store->close();
}

TEST_F(BackupTest, DamagedBackupIsRefusedAndTheStoreKept) {
  auto store = filled("kept", 1);
  ASSERT_TRUE(Cask::backupOneCask("kept", "", backup_));
  flipByte(backup_ + "/kept", 20);
  ASSERT_TRUE(store->setInt32(2, "v"));
  EXPECT_FALSE(Cask::restoreOneCask("kept", "", backup_));
  EXPECT_EQ(store->getInt32("v"), 2);
  store->close();
}

TEST_F(BackupTest, SameDirectoryCopiesNothing) {
  auto store = filled("same", 1);
  EXPECT_TRUE(Cask::backupOneCask("same", "", base_));
  EXPECT_TRUE(Cask::restoreOneCask("same", "", base_ + "/"));
  EXPECT_EQ(Cask::backupAll("", base_), 1u);
  EXPECT_EQ(Cask::restoreAll("", base_), 1u);
  EXPECT_EQ(store->getInt32("v"), 1);
  store->close();
}

TEST_F(BackupTest, AllStoresTravelAndDataWithoutMetaIsSkipped) {
  auto plain = filled("one", 1);
  auto special = filled("two/with:special", 2);  // lives in specialCharacter/
  writeFile(base_ + "/orphan", std::vector<uint8_t>(16, 0));
  EXPECT_EQ(Cask::backupAll("", backup_), 2u);
  EXPECT_FALSE(Cask::backupOneCask("orphan", "", backup_));
  EXPECT_FALSE(cask::isFileExist(backup_ + "/orphan"));
  EXPECT_FALSE(cask::isFileExist(backup_ + "/orphan.crc"));

  ASSERT_TRUE(plain->setInt32(10, "v"));
  ASSERT_TRUE(special->setInt32(20, "v"));
  EXPECT_EQ(Cask::restoreAll("", backup_), 2u);
  EXPECT_EQ(plain->getInt32("v"), 1);
  EXPECT_EQ(special->getInt32("v"), 2);
  plain->close();
  special->close();
}

TEST_F(BackupTest, RestoreAllIntoAFreshDirectoryTakesHashedNameStoresToo) {
  auto plain = filled("one", 1);
  auto special = filled("two/with:special", 2);
  ASSERT_EQ(Cask::backupAll("", backup_), 2u);
  const std::string fresh = dir_ + "/fresh";
  EXPECT_EQ(Cask::restoreAll(fresh, backup_), 2u);
  for (const auto& [id, value] : {std::pair{"one", 1}, std::pair{"two/with:special", 2}}) {
    auto restored = Cask::caskWithID(id, fresh);
    EXPECT_EQ(restored->getInt32("v"), value) << id;
    restored->close();
  }
  plain->close();
  special->close();
  // One store into a folder of its own, then a backup of that closed store.
  const std::string single = dir_ + "/single";
  const std::string again = dir_ + "/again";
  ASSERT_TRUE(cask::mkPath(single) && cask::mkPath(again));
  ASSERT_TRUE(Cask::restoreOneCask("one", single, backup_));
  EXPECT_TRUE(Cask::isFileValid("one", single));
  ASSERT_TRUE(Cask::backupOneCask("one", single, again));
  EXPECT_TRUE(Cask::isFileValid("one", again));
}

TEST_F(BackupTest, BackupOverwritesAnOlderCopyWithoutLeftovers) {
  auto store = filled("again", 1);
  ASSERT_TRUE(Cask::backupOneCask("again", "", backup_));
  ASSERT_TRUE(store->setInt32(2, "v"));
  ASSERT_TRUE(Cask::backupOneCask("again", "", backup_));
  std::vector<std::string> names;
  cask::walkInDir(backup_, cask::WalkFile, [&](const std::string& path, cask::WalkType) { names.push_back(path); });
  EXPECT_EQ(names.size(), 2u);  // data and meta, no temporaries
  ASSERT_TRUE(store->setInt32(3, "v"));
  ASSERT_TRUE(Cask::restoreOneCask("again", "", backup_));
  EXPECT_EQ(store->getInt32("v"), 2);
  store->close();
}

TEST_F(BackupTest, ValidityFollowsTheLoader) {
  EXPECT_TRUE(Cask::isFileValid("never-created"));
  EXPECT_FALSE(Cask::isFileValid(""));
  auto store = filled("valid", 1);
  store->sync();
  const std::string data = base_ + "/valid";
  EXPECT_TRUE(Cask::isFileValid("valid"));

  // A meta size gone wrong is recovered by the loader from the data header:
  // the file is good.
  std::vector<uint8_t> meta = cask::readWholeFile(data + ".crc");
  const uint32_t wrongSize = 3;
  std::memcpy(meta.data() + offsetof(cask::CaskMetaInfo, actualSize), &wrongSize, 4);
  writeFile(data + ".crc", meta);
  EXPECT_TRUE(Cask::isFileValid("valid"));
  closeAll(store);
  store = Cask::caskWithID("valid");
  EXPECT_EQ(store->getInt32("v"), 1);
  closeAll(store);

  std::filesystem::remove(data + ".crc");
  EXPECT_FALSE(Cask::isFileValid("valid"));
}

// args: base id: opens the store shared, reports "v", and again on request.
CASK_CHILD_ROLE(watch) {
  Cask::setCaskBasePath(args.at(0));
  Cask::initializeCask(args.at(0), cask::CaskLogNone);
  auto store = Cask::caskWithID(args.at(1), cask::facade::Data(), args.at(0), cask::CaskMultiProcess);
  if (!store) return 1;
  cask::testing::sendLine(std::to_string(store->getInt32("v")));
  while (auto line = cask::testing::receiveLine()) {
    if (*line == "quit") break;
    cask::testing::sendLine(std::to_string(store->getInt32("v")));
  }
  return 0;
}

TEST_F(BackupTest, RestoreReachesAnotherProcessHoldingTheStore) {
  auto store = Cask::caskWithID("watched", cask::facade::Data(), base_, cask::CaskMultiProcess);
  ASSERT_TRUE(store->setInt32(1, "v"));
  ASSERT_TRUE(Cask::backupOneCask("watched", base_, backup_));
  ASSERT_TRUE(store->setInt32(2, "v"));
  auto child = ChildProcess::spawn("watch", {base_, "watched"});
  ASSERT_EQ(child.readLine(), "2");
  ASSERT_TRUE(Cask::restoreOneCask("watched", base_, backup_));
  EXPECT_EQ(store->getInt32("v"), 1);
  child.writeLine("read");
  EXPECT_EQ(child.readLine(), "1");
  child.writeLine("quit");
  EXPECT_TRUE(cask::testing::exitedCleanly(child.wait()));
  store->close();
}

}  // namespace
