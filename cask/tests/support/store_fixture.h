#pragma once
// A fixture with a fresh root directory per test and a few verbs for opening
// stores and looking at their files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cask/cask.h"
#include "child_process.h"
#include "memory_file.h"

namespace cask::testing {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = makeTempDir(info->name());
    Cask::initializeCask(dir_, std::getenv("CASK_TEST_LOG") ? CaskLogInfo : CaskLogError);
  }
  void TearDown() override {
    for (Cask* store : opened_) store->close();
    Cask::registerErrorHandler(nullptr);
    Cask::registerContentChangeHandler(nullptr);
    removeTempDir(dir_);
  }

  Cask* open(const std::string& id = "store", const std::string& key = "", int mode = CaskSingleProcess) {
    Cask* store = Cask::caskWithID(id, mode, key.empty() ? nullptr : &key, &dir_);
    if (store != nullptr && std::find(opened_.begin(), opened_.end(), store) == opened_.end()) {
      opened_.push_back(store);
    }
    return store;
  }
  // Closes and opens again: a fresh load from the files.
  Cask* reopen(Cask* store, const std::string& key = "", int mode = CaskSingleProcess) {
    const std::string id = store->mmapID();
    forget(store);
    store->close();
    return open(id, key, mode);
  }
  void forget(Cask* store) { opened_.erase(std::remove(opened_.begin(), opened_.end(), store), opened_.end()); }

  std::string dataPath(const std::string& id = "store") { return Cask::mappedKVPathWithID(id, &dir_); }
  static std::vector<uint8_t> bytesOf(const std::string& path) { return readWholeFile(path); }
  static CaskMetaInfo metaOf(const std::string& dataPath) {
    return readMetaInfo(dataPath + kCrcSuffix).value_or(CaskMetaInfo{});
  }
  static void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  std::string dir_;
  std::vector<Cask*> opened_;
};

}  // namespace cask::testing
