// The main queue on Qt's event loop, as the application runs it.
#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/dispatch.h"

namespace {

bool waitFor(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, 5000);
}

TEST(QtDispatchTest, BlocksPostedFromAnotherThreadRunOnTheGuiThread) {
  std::atomic<bool> onGui{false};
  std::atomic<bool> ran{false};
  std::thread([&] {
    quillo::Queue::main()->async([&] {
      onGui = QThread::currentThread() == QCoreApplication::instance()->thread();
      ran = true;
    });
  }).join();
  ASSERT_TRUE(waitFor([&] { return ran.load(); }));
  EXPECT_TRUE(onGui);
}

TEST(QtDispatchTest, DelayedBlockFromAWorkerThreadFires) {
  std::atomic<bool> ran{false};
  quillo::Queue::global(quillo::Qos::Default)->async([&] {
    quillo::Queue::main()->asyncAfter(0.01, [&] { ran = true; });
  });
  EXPECT_TRUE(waitFor([&] { return ran.load(); }));
}

TEST(QtDispatchTest, RepeatingTimerTicksOnTheQtLoop) {
  int ticks = 0;
  auto timer = quillo::Timer::scheduled(0.005, true, [&] { ++ticks; });
  EXPECT_TRUE(waitFor([&] { return ticks >= 3; }));
}

}  // namespace
