// Without a session bus the distributed centre still delivers in this
// process. A test binary of its own: the centre connects once per process.
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/notification_center.h"

namespace {
using namespace std::chrono_literals;

TEST(NotificationNoBusTest, DeliversInThisProcessOnly) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillo-bus", 1);
  auto& center = quillo::DistributedNotificationCenter::defaultCenter();
  std::optional<std::string> object;
  auto obs = center.addObserver("NoBus", [&](const quillo::Notification& n) { object = n.object; });
  EXPECT_FALSE(center.isConnected());
  center.post({"NoBus", "here"});
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return object.has_value(); }, 10s));
  EXPECT_EQ(object, "here");
}

}  // namespace
