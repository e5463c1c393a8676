// Several real processes sharing one store.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "cask/cask.h"
#include "child_process.h"

namespace {

using cask::Cask;
using cask::testing::ChildProcess;
using cask::testing::describeStatus;
using cask::testing::exitedCleanly;

Cask* openShared(const std::string& dir, const std::string& id, const std::string& key) {
  Cask::initializeCask(dir, std::getenv("CASK_TEST_LOG") ? cask::CaskLogInfo : cask::CaskLogError);
  return Cask::caskWithID(id, cask::CaskMultiProcess, key.empty() ? nullptr : &key, &dir);
}

// args: dir id key prefix count valueSize
CASK_CHILD_ROLE(writeKeys) {
  Cask* store = openShared(args.at(0), args.at(1), args.at(2));
  const int count = std::stoi(args.at(4));
  const size_t valueSize = std::stoul(args.at(5));
  for (int i = 0; i < count; ++i) {
    const std::string key = args.at(3) + std::to_string(i);
    if (!store->set(key + std::string(valueSize, '.'), key)) return 1;
  }
  cask::testing::sendLine("done");
  return 0;
}

// args: dir id key: removes all keys but k0 in one go (a full write-back).
CASK_CHILD_ROLE(compact) {
  Cask* store = openShared(args.at(0), args.at(1), args.at(2));
  std::vector<std::string> keys;
  for (const std::string& k : store->allKeys()) {
    if (k != "k0") keys.push_back(k);
  }
  store->removeValuesForKeys(keys);
  return store->count() == 1 ? 0 : 1;
}

// args: dir id: appends and reports every 10th write.
CASK_CHILD_ROLE(appendLoop) {
  Cask* store = openShared(args.at(0), args.at(1), "");
  for (int i = 0; i < 600; ++i) {
    if (!store->set(std::string(300 + i % 200, 'a'), "k" + std::to_string(i % 97))) return 1;
    if (i % 10 == 0) cask::testing::sendLine("tick");
  }
  cask::testing::sendLine("done");
  return 0;
}

std::atomic<int> g_changes{0};
void onChange(const std::string&) { ++g_changes; }

std::atomic<int> g_fullLoads{0};
void countLoads(cask::CaskLogLevel, const char*, int, const char*, const std::string& message) {
  if (message.rfind("loading [", 0) == 0 && message.find("actual size") != std::string::npos) ++g_fullLoads;
}

class MultiProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = cask::testing::makeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    g_changes = 0;
    g_fullLoads = 0;
  }
  void TearDown() override {
    if (store_ != nullptr) store_->close();
    Cask::registerContentChangeHandler(nullptr);
    Cask::registerLogHandler(nullptr);
    cask::testing::removeTempDir(dir_);
  }
  static void expectClean(ChildProcess& child) {
    const int status = child.wait();
    EXPECT_TRUE(exitedCleanly(status)) << describeStatus(status);
  }

  std::string dir_;
  Cask* store_ = nullptr;
};

TEST_F(MultiProcessTest, AnotherProcessAppendDecodesOnlyTheTail) {
  store_ = openShared(dir_, "tail", "");
  ASSERT_TRUE(store_->set(int32_t{1}, "mine"));
  Cask::setLogLevel(cask::CaskLogInfo);
  Cask::registerLogHandler(&countLoads);
  Cask::registerContentChangeHandler(&onChange);
  auto child = ChildProcess::spawn("writeKeys", {dir_, "tail", "", "theirs", "1", "4"});
  expectClean(child);
  EXPECT_EQ(store_->getString("theirs0"), "theirs0....");
  EXPECT_EQ(store_->getInt32("mine"), 1);
  EXPECT_EQ(g_changes, 1);
  EXPECT_EQ(g_fullLoads, 0);
}

TEST_F(MultiProcessTest, LoadingANewStoreIsOneLoad) {
  store_ = openShared(dir_, "new", "");
  Cask::setLogLevel(cask::CaskLogInfo);
  Cask::registerLogHandler(&countLoads);
  EXPECT_EQ(store_->count(), 0u);
  EXPECT_EQ(g_fullLoads, 1);
}

TEST_F(MultiProcessTest, FirstLoadAfterAnotherProcessGrewTheFileKeepsEverything) {
  store_ = openShared(dir_, "grown", "");  // mapped at one page, not loaded yet
  auto child = ChildProcess::spawn("writeKeys", {dir_, "grown", "", "k", "300", "100"});
  expectClean(child);
  ASSERT_EQ(store_->count(), 300u);
  EXPECT_EQ(store_->getString("k299"), "k299" + std::string(100, '.'));
}

TEST_F(MultiProcessTest, CompactionElsewhereReloadsAndNotifies) {
  for (const std::string key : {"", "k3y"}) {
    store_ = openShared(dir_, "compact" + key, key);
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(store_->set(std::string(300, 'v'), "k" + std::to_string(i)));
    Cask::registerContentChangeHandler(&onChange);
    g_changes = 0;
    auto child = ChildProcess::spawn("compact", {dir_, "compact" + key, key});
    expectClean(child);
    EXPECT_EQ(store_->count(), 1u);
    EXPECT_EQ(store_->getString("k0"), std::string(300, 'v'));
    EXPECT_EQ(g_changes, 1);
    ASSERT_TRUE(store_->set(int32_t{2}, "after"));
    store_->close();
    store_ = nullptr;
  }
}

class FourWriters : public MultiProcessTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FourWriters, LoseNothing) {
  const std::string key = GetParam();
  std::vector<ChildProcess> children;
  for (int w = 0; w < 4; ++w) {
    children.push_back(ChildProcess::spawn("writeKeys", {dir_, "shared", key, "w" + std::to_string(w) + "-", "2000", "5"}));
  }
  for (auto& child : children) expectClean(child);
  store_ = openShared(dir_, "shared", key);
  ASSERT_EQ(store_->count(), 8000u);
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < 2000; ++i) {
      const std::string k = "w" + std::to_string(w) + "-" + std::to_string(i);
      ASSERT_EQ(store_->getString(k), k + ".....");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, FourWriters, ::testing::Values("", "four-writers"),
                         [](const auto& param) { return std::string(param.param).empty() ? "plain" : "encrypted"; });

TEST_F(MultiProcessTest, ShrinkingWhileAnotherAppendsCausesNoSigbus) {
  store_ = openShared(dir_, "shrink", "");
  auto child = ChildProcess::spawn("appendLoop", {dir_, "shrink"});
  int round = 0;
  while (auto line = child.readLine()) {
    if (*line == "done") break;
    if (++round % 2) {
      store_->clearAll();
    } else {
      store_->trim();
    }
  }
  expectClean(child);
  ASSERT_TRUE(store_->set(int32_t{1}, "parent"));
  EXPECT_EQ(store_->getInt32("parent"), 1);
}

TEST_F(MultiProcessTest, ProcessKilledHoldingTheExclusiveLockDoesNotBlock) {
  store_ = openShared(dir_, "held", "");
  ASSERT_TRUE(store_->set(int32_t{1}, "before"));
  auto child = ChildProcess::spawn("writeKeys", {dir_, "held", "", "c", "1", "1"}, {"CASK_HANG_AT=after-pair"});
  ASSERT_EQ(child.readLine(), "hang");
  child.kill();
  ASSERT_TRUE(store_->set(int32_t{2}, "after"));
  EXPECT_EQ(store_->getInt32("before"), 1);
  EXPECT_EQ(store_->getInt32("after"), 2);
  EXPECT_FALSE(store_->containsKey("c0"));
}

}  // namespace
