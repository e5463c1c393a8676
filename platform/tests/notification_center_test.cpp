#include "platform/notification_center.h"

#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/process.h"

namespace {
using namespace std::chrono_literals;
using quillo::DistributedNotificationCenter;
using quillo::Notification;
using quillo::NotificationCenter;

bool runMainUntil(const std::function<bool()>& done) {
  return quillo::mainPlainLoop().runUntil(done, 10s);
}

TEST(NotificationCenterTest, LocalPostCallsMatchingObserversInOrderOnThePostingThread) {
  NotificationCenter center;
  std::vector<std::string> calls;
  auto a = center.addObserver("a", [&](const Notification& n) { calls.push_back("a:" + n.object.value_or("-")); });
  auto all = center.addObserver("", [&](const Notification& n) { calls.push_back("all:" + n.name); });
  center.post({"a", "x"});
  center.post({"b", std::nullopt});
  EXPECT_EQ(calls, (std::vector<std::string>{"a:x", "all:a", "all:b"}));
}

TEST(NotificationCenterTest, DroppedObservationIsNotCalledAgain) {
  NotificationCenter center;
  int calls = 0;
  auto obs = center.addObserver("a", [&](const Notification&) { ++calls; });
  center.post({"a"});
  obs.reset();
  center.post({"a"});
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserverMayRemoveItselfWhileBeingCalled) {
  NotificationCenter center;
  std::unique_ptr<quillo::NotificationObservation> obs;
  int calls = 0;
  obs = center.addObserver("a", [&](const Notification&) {
    ++calls;
    obs.reset();
  });
  center.post({"a"});
  center.post({"a"});
  EXPECT_EQ(calls, 1);
}

class DistributedTest : public ::testing::Test {
 protected:
  void TearDown() override { quillo::mainPlainLoop().clear(); }
  DistributedNotificationCenter& center() { return DistributedNotificationCenter::defaultCenter(); }
};

TEST_F(DistributedTest, PostReachesObserversOnTheMainQueue) {
  ASSERT_TRUE(center().isConnected()) << "the test runs under dbus-run-session";
  std::vector<Notification> got;
  bool onMain = false;
  auto obs = center().addObserver("DistributedTest.one", [&](const Notification& n) {
    onMain = quillo::isMainThread();
    got.push_back(n);
  });
  ::testing::internal::CaptureStderr();
  std::thread([&] { center().post({"DistributedTest.one", "payload 'x'"}); }).join();
  center().post({"DistributedTest.other", "ignored"});
  center().post({"DistributedTest.one", std::nullopt});
  const bool arrived = runMainUntil([&] { return got.size() == 2; });
  const std::string console = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(console, "") << "a notification the bus carried is no failure";
  ASSERT_TRUE(arrived);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(got[0].object, "payload 'x'");
  EXPECT_EQ(got[1].object, std::nullopt);
}

TEST_F(DistributedTest, NotificationFromAnotherProcessArrives) {
  std::optional<std::string> object;
  auto obs = center().addObserver("DistributedTest.remote", [&](const Notification& n) { object = n.object; });
  quillo::Spawned sender;
  ASSERT_FALSE(quillo::spawnProcess(
      {"dbus-send", "--session", "--type=signal", "/org/quillo/DistributedNotificationCenter",
       "org.quillo.DistributedNotificationCenter.Notification", "string:DistributedTest.remote",
       "boolean:true", "string:from afar"},
      {}, sender));
  EXPECT_EQ(quillo::waitForExit(sender.pid), 0);
  ASSERT_TRUE(runMainUntil([&] { return object.has_value(); }));
  EXPECT_EQ(object, "from afar");
}

TEST_F(DistributedTest, MalformedSignalsAndInvalidTextAreDropped) {
  std::vector<std::string> names;
  auto obs = center().addObserver("", [&](const Notification& n) { names.push_back(n.name); });
  quillo::Spawned sender;
  ASSERT_FALSE(quillo::spawnProcess(
      {"dbus-send", "--session", "--type=signal", "/org/quillo/DistributedNotificationCenter",
       "org.quillo.DistributedNotificationCenter.Notification", "int32:7"},
      {}, sender));
  EXPECT_EQ(quillo::waitForExit(sender.pid), 0);
  center().post({std::string("bad\xff", 4), std::nullopt});
  center().post({"DistributedTest.marker", std::nullopt});
  ASSERT_TRUE(runMainUntil([&] { return !names.empty(); }));
  EXPECT_EQ(names, (std::vector<std::string>{"DistributedTest.marker"}));
}

TEST_F(DistributedTest, DroppedObservationGetsNothingFurther) {
  int dropped = 0;
  int kept = 0;
  auto obs = center().addObserver("DistributedTest.drop", [&](const Notification&) { ++dropped; });
  auto marker = center().addObserver("DistributedTest.drop", [&](const Notification&) { ++kept; });
  obs.reset();
  center().post({"DistributedTest.drop"});
  ASSERT_TRUE(runMainUntil([&] { return kept == 1; }));
  EXPECT_EQ(dropped, 0);
}

}  // namespace
