#include "jot/comm_thread.h"

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>

#include <gtest/gtest.h>

namespace {

TEST(Thread, RunsItsTargetOnce) {
  std::atomic<int> runs{0};
  vela::comm::Thread thread([&] { ++runs; });
  EXPECT_EQ(thread.start(), 0);
  EXPECT_EQ(thread.join(), 0);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(thread.isruning());
}

TEST(Thread, StartWhileRunningStartsNothingMore) {
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> runs{0};
  vela::comm::Thread thread([&] {
    ++runs;
    gate.wait();
  });
  EXPECT_EQ(thread.start(), 0);
  EXPECT_EQ(thread.start(), 0);
  release.set_value();
  EXPECT_EQ(thread.join(), 0);
  EXPECT_EQ(runs, 1);
}

TEST(Thread, JoinFromInsideIsADeadlock) {
  std::promise<int> result;
  vela::comm::Thread* self = nullptr;
  vela::comm::Thread thread([&] { result.set_value(self->join()); });
  self = &thread;
  ASSERT_EQ(thread.start(), 0);
  EXPECT_EQ(result.get_future().get(), EDEADLK);
  EXPECT_EQ(thread.join(), 0);
}

TEST(Thread, CancelledDelayedStartNeverRuns) {
  std::atomic<int> runs{0};
  vela::comm::Thread thread([&] { ++runs; });
  ASSERT_EQ(thread.start_after(600000), 0);
  thread.cancel_after();
  EXPECT_EQ(thread.join(), 0);
  EXPECT_EQ(runs, 0);
}

TEST(Thread, DelayedStartOutlivesItsObject) {
  auto ran = std::make_shared<std::promise<void>>();
  auto done = ran->get_future();
  {
    vela::comm::Thread thread([ran] { ran->set_value(); });
    ASSERT_EQ(thread.start_after(1), 0);
  }
  done.wait();
}

}  // namespace
