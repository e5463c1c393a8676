// Processes killed in the middle of writes, at named points and at random
// moments: no acknowledged write is lost and the write in flight reads as
// its old or its new value.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>
#include <random>
#include <string>

#include "cask/cask.h"
#include "child_process.h"

namespace {

using cask::Cask;
using cask::testing::ChildProcess;

constexpr int kSlots = 40;

std::string valueFor(long n) {
  // Lengths on both sides of the 256-byte line between the encrypted
  // store's in-memory and file-offset entries.
  const size_t length = 10 + static_cast<size_t>(n * 37 % 400);
  std::string value = "n" + std::to_string(n) + ":";
  value.resize(std::max(length, value.size()), 'x');
  return value;
}

std::string slotKey(long n) { return "slot" + std::to_string(n % kSlots); }

// args: dir id key start [trimEvery]: writes n = start, start+1, ... and
// acknowledges each one after set() returned.
CASK_CHILD_ROLE(writeLoop) {
  const std::string& dir = args.at(0);
  const std::string& key = args.at(2);
  Cask::initializeCask(dir, cask::CaskLogError);
  Cask* store = Cask::caskWithID(args.at(1), cask::CaskMultiProcess, key.empty() ? nullptr : &key, &dir);
  const long trimEvery = args.size() > 4 ? std::stol(args.at(4)) : 0;
  const long start = std::stol(args.at(3));
  // A named point that is never reached fails the test instead of hanging it.
  for (long n = start; n < start + 20000; ++n) {
    if (!store->set(valueFor(n), slotKey(n))) return 1;
    cask::testing::sendLine(std::to_string(n));
    if (trimEvery > 0 && n % trimEvery == 0) store->trim();
  }
  return 3;
}

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = cask::testing::makeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  // Runs a writer until it dies or `acks` acknowledgements arrived (then
  // kills it); returns the last acknowledged n, or start - 1.
  long runWriter(const std::string& id, const std::string& key, long start, int acks,
                 const std::vector<std::string>& env = {}, const std::string& trimEvery = "0",
                 std::string* pointHit = nullptr) {
    auto child = ChildProcess::spawn("writeLoop", {dir_, id, key, std::to_string(start), trimEvery}, env);
    long last = start - 1;
    int seen = 0;
    while (auto line = child.readLine()) {
      if (line->rfind("point ", 0) == 0) {
        if (pointHit != nullptr) *pointHit = line->substr(6);
        continue;
      }
      last = std::stol(*line);
      if (++seen == acks) child.kill();
    }
    const int status = child.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << cask::testing::describeStatus(status);
    return last;
  }

  // Every slot holds its last acknowledged value, except the in-flight
  // write's slot, which may hold the new one. Updates `expected`.
  void verify(Cask* store, std::map<int, long>& expected, long lastAck, const std::string& context) {
    const long inFlight = lastAck + 1;
    ASSERT_FALSE(store->isUndecodable()) << context;
    for (int slot = 0; slot < kSlots; ++slot) {
      const std::string key = "slot" + std::to_string(slot);
      const auto value = store->getString(key);
      const auto known = expected.find(slot);
      const bool inFlightSlot = inFlight % kSlots == slot;
      if (inFlightSlot && value == valueFor(inFlight)) {
        expected[slot] = inFlight;
        continue;
      }
      if (known == expected.end()) {
        ASSERT_EQ(value, std::nullopt) << context << " slot " << slot;
      } else {
        ASSERT_EQ(value, valueFor(known->second)) << context << " slot " << slot;
      }
    }
  }

  static void record(std::map<int, long>& expected, long from, long to) {
    for (long n = from; n <= to; ++n) expected[static_cast<int>(n % kSlots)] = n;
  }

  std::string dir_;
};

struct NamedPoint {
  const char* point;
  const char* trimEvery;
  int firstHit;
  int secondHit;
};

class NamedKillPoints : public KillTest, public ::testing::WithParamInterface<std::tuple<NamedPoint, const char*>> {};

TEST_P(NamedKillPoints, AcknowledgedWritesSurvive) {
  const auto [named, key] = GetParam();
  Cask::initializeCask(dir_, cask::CaskLogError);
  const std::string keyString = key;
  const std::string* cryptKey = keyString.empty() ? nullptr : &keyString;
  for (int hit : {named.firstHit, named.secondHit}) {
    // This process keeps the store open through the kill, as another app would.
    const std::string id = "named" + std::to_string(hit);
    Cask* store = Cask::caskWithID(id, cask::CaskMultiProcess, cryptKey, &dir_);
    ASSERT_EQ(store->count(), 0u);
    std::map<int, long> expected;
    std::string reached;
    const long last = runWriter(id, keyString, 0, -1,
                                {std::string("CASK_KILL_AT=") + named.point + ":" + std::to_string(hit)},
                                named.trimEvery, &reached);
    ASSERT_EQ(reached, named.point);
    record(expected, 0, last);
    verify(store, expected, last, std::string(named.point) + " hit " + std::to_string(hit));
    ASSERT_TRUE(store->set(std::string("still writable"), "extra"));
    store->close();
    store = Cask::caskWithID(id, cask::CaskMultiProcess, cryptKey, &dir_);
    verify(store, expected, last, "reopened");
    EXPECT_EQ(store->getString("extra"), "still writable");
    store->close();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Points, NamedKillPoints,
    ::testing::Combine(::testing::Values(NamedPoint{"after-pair", "0", 1, 30}, NamedPoint{"after-header", "0", 1, 30},
                                         NamedPoint{"after-crc", "0", 1, 30},
                                         // Early write-backs move nothing: all pairs are still live.
                                         NamedPoint{"mid-compaction", "0", 3, 6},
                                         NamedPoint{"after-truncate", "0", 1, 2},
                                         NamedPoint{"after-truncate", "7", 3, 6}),
                       ::testing::Values("", "named-key")),
    [](const auto& param) {
      const NamedPoint& named = std::get<0>(param.param);
      std::string name = std::string(named.point) + (std::string(named.trimEvery) == "0" ? "" : "_trim") +
                         (std::string(std::get<1>(param.param)).empty() ? "_plain" : "_encrypted");
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

class RandomKills : public KillTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RandomKills, HundredKillsLoseNoAcknowledgedWrite) {
  const std::string key = GetParam();
  Cask::initializeCask(dir_, cask::CaskLogError);
  std::mt19937 random(key.empty() ? 7 : 11);
  std::map<int, long> expected;
  long next = 0;
  for (int round = 0; round < 100; ++round) {
    const int acks = 1 + static_cast<int>(random() % 120);
    const long last = runWriter("random", key, next, acks, {}, round % 10 == 9 ? "50" : "0");
    record(expected, next, last);
    Cask* store = Cask::caskWithID("random", cask::CaskMultiProcess, key.empty() ? nullptr : &key, &dir_);
    verify(store, expected, last, "round " + std::to_string(round));
    store->close();
    next = last + 2;
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, RandomKills, ::testing::Values("", "random-key"),
                         [](const auto& param) { return std::string(param.param).empty() ? "plain" : "encrypted"; });

}  // namespace
