#include "platform/dispatch.h"

#include <atomic>
#include <future>
#include <string_view>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "platform/event_loop.h"

namespace {

using namespace std::chrono_literals;
using quillo::Queue;

class DispatchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    quillo::mainPlainLoop().clear();
    quillo::setDelayScale(1.0);
  }
  bool runMainUntil(const std::function<bool()>& done) {
    return quillo::mainPlainLoop().runUntil(done, 5s);
  }
};

TEST_F(DispatchTest, MainQueueRunsPostedBlocksInOrderOnTheLoopThread) {
  std::vector<int> order;
  std::thread([&] {
    for (int i = 0; i < 3; ++i) Queue::main()->async([&order, i] { order.push_back(i); });
  }).join();
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(runMainUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST_F(DispatchTest, MainQueueLabelIsCurrentOnTheMainThread) {
  ASSERT_TRUE(quillo::isMainThread());
  ASSERT_NE(Queue::currentLabel(), nullptr);
  EXPECT_EQ(std::string(Queue::currentLabel()), Queue::main()->label());
  std::thread([] { EXPECT_EQ(Queue::currentLabel(), nullptr); }).join();
}

TEST_F(DispatchTest, SerialQueueRunsOneBlockAtATimeUnderItsLabel) {
  auto queue = Queue::makeSerial("test.serial");
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<int> done{0};
  std::string seenLabel;
  for (int i = 0; i < 20; ++i) {
    queue->async([&] {
      maxRunning = std::max(maxRunning.load(), ++running);
      std::this_thread::sleep_for(1ms);
      if (done == 0) seenLabel = Queue::currentLabel();
      --running;
      ++done;
    });
  }
  while (done < 20) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(maxRunning, 1);
  EXPECT_EQ(seenLabel, "test.serial");
}

TEST_F(DispatchTest, GlobalQueuesRunConcurrentlyUnderTheirLabels) {
  for (const auto& [qos, label] : {std::pair{quillo::Qos::Utility, "global.utility"},
                                   std::pair{quillo::Qos::Default, "global.default"}}) {
    std::promise<void> bothIn;
    std::atomic<int> in{0};
    std::atomic<int> labelled{0};
    auto enter = [&] {
      labelled += std::string_view(Queue::currentLabel()) == label;
      if (++in == 2) bothIn.set_value();
    };
    auto queue = Queue::global(qos);
    EXPECT_EQ(queue->label(), label);
    std::promise<void> release;
    auto gate = release.get_future().share();
    for (int i = 0; i < 2; ++i)
      queue->async([&, gate] {
        enter();
        gate.wait();
      });
    EXPECT_EQ(bothIn.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(labelled, 2) << label;
    release.set_value();
  }
}

TEST_F(DispatchTest, AsyncAfterOnMainWaitsForTheScaledDelay) {
  quillo::setDelayScale(0.01);
  bool fired = false;
  const auto start = quillo::Clock::now();
  Queue::main()->asyncAfter(1.0, [&] { fired = true; });
  quillo::mainPlainLoop().runPending();
  EXPECT_FALSE(fired);
  ASSERT_TRUE(runMainUntil([&] { return fired; }));
  EXPECT_GE(quillo::Clock::now() - start, 10ms);
}

TEST_F(DispatchTest, AsyncAfterOnAReleasedSerialQueueIsDropped) {
  std::atomic<bool> fired{false};
  {
    auto queue = Queue::makeSerial("test.released");
    queue->asyncAfter(0.02, [&] { fired = true; });
  }
  std::this_thread::sleep_for(60ms);
  EXPECT_FALSE(fired);
}

TEST_F(DispatchTest, RepeatingTimerFiresUntilInvalidated) {
  quillo::setDelayScale(0.01);
  int ticks = 0;
  auto timer = quillo::Timer::scheduled(0.05, /*repeats=*/true, [&] { ++ticks; });
  ASSERT_TRUE(runMainUntil([&] { return ticks >= 3; }));
  timer->invalidate();
  const int seen = ticks;
  quillo::mainPlainLoop().runFor(20ms);
  EXPECT_EQ(ticks, seen);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(DispatchTest, DroppingATimerCancelsIt) {
  int ticks = 0;
  quillo::Timer::scheduled(0.001, false, [&] { ++ticks; }).reset();
  quillo::mainPlainLoop().runFor(20ms);
  EXPECT_EQ(ticks, 0);
}

TEST_F(DispatchTest, OneShotTimerFiresOnce) {
  int ticks = 0;
  auto timer = quillo::Timer::scheduled(0.001, false, [&] { ++ticks; });
  ASSERT_TRUE(runMainUntil([&] { return ticks == 1; }));
  quillo::mainPlainLoop().runFor(20ms);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(DispatchTest, QuitEndsTheRunAndLeavesLaterBlocksForTheNext) {
  quillo::PlainLoop loop;
  bool later = false;
  loop.post([&] { loop.quit(); });
  loop.post([&] { later = true; });
  loop.run();
  EXPECT_FALSE(later);
  EXPECT_EQ(loop.runPending(), 1u);
  EXPECT_TRUE(later);
  bool due = false;
  loop.post([&] { due = true; });
  loop.runFor(quillo::Clock::duration::zero());
  EXPECT_TRUE(due) << "what is due runs even in no time";
}

TEST_F(DispatchTest, SerialQueueReleasedByItsOwnBlockKeepsItsWorkerSafe) {
  // The worker goes on after the block that dropped the last reference; it
  // must not touch the freed queue (the sanitizer build catches that).
  for (int i = 0; i < 50; ++i) {
    std::promise<void> ran;
    auto queue = Queue::makeSerial("self-release");
    auto* raw = queue.get();
    raw->async([q = std::move(queue), &ran]() mutable {
      q.reset();
      ran.set_value();
    });
    ran.get_future().wait();
    auto follower = Queue::makeSerial("follower");
    std::promise<void> after;
    follower->async([&] { after.set_value(); });
    after.get_future().wait();
  }
}

}  // namespace

namespace {

TEST(DispatchReleaseTest, SerialQueueReleasedByItsOwnBlockFinishesSafely) {
  auto queue = quillo::Queue::makeSerial("test.self-release");
  auto* raw = queue.get();
  std::promise<void> released;
  auto done = released.get_future();
  raw->async([q = std::move(queue), &released]() mutable {
    q.reset();  // the last reference: the queue goes away under its own worker
    released.set_value();
  });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  // The worker still runs after the block; another queue shows it has let go.
  std::promise<void> next;
  auto after = quillo::Queue::makeSerial("test.after");
  after->async([&] { next.set_value(); });
  EXPECT_EQ(next.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
