// Without a session bus the distributed centre still delivers in this
// process. A test binary of its own: the centre connects once per process.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/notification_center.h"

namespace {
using namespace std::chrono_literals;

TEST(NotificationNoBusTest, DeliversInThisProcessOnly) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillo-bus", 1);
  ::testing::internal::CaptureStderr();
  auto& center = quillo::DistributedNotificationCenter::defaultCenter();
  std::vector<std::string> objects;
  auto obs = center.addObserver(
      "NoBus", [&](const quillo::Notification& n) { objects.push_back(n.object.value_or("")); });
  EXPECT_FALSE(center.isConnected());
  center.post({"NoBus", "here"});
  center.post({"NoBus", "again"});
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return objects.size() == 2; }, 10s));
  EXPECT_EQ(objects, (std::vector<std::string>{"here", "again"}));
  // Said once for the process, with the bus's reason, not at every post.
  const std::string console = ::testing::internal::GetCapturedStderr();
  const std::string warning = "distributed notifications: no session bus (";
  const size_t at = console.find(warning);
  ASSERT_NE(at, std::string::npos) << console;
  EXPECT_EQ(console.find(warning, at + 1), std::string::npos) << console;
  EXPECT_EQ(console.find("(cannot send)"), std::string::npos) << console;
}

}  // namespace
