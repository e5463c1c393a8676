#include "jot/comm_thread.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "jot/tickcount.h"

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

TEST(Thread, IsNamedWithItsSystemThreadId) {
  std::string name;
  pid_t tid = 0;
  vela::comm::Thread thread(
      [&] {
        char text[32] = {};
        pthread_getname_np(pthread_self(), text, sizeof text);
        name = text;
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
      },
      "jf");
  ASSERT_EQ(thread.start(), 0);
  ASSERT_EQ(thread.join(), 0);
  EXPECT_EQ(name, ("jf *" + std::to_string(tid)).substr(0, 15));
}

std::atomic<pthread_t> gSignalled{};
void noteSignal(int) { gSignalled = pthread_self(); }

TEST(Thread, RaisesItsKillSignalOnItselfBeforeTheTarget) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = &noteSignal;
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  std::atomic<bool> signalledFirst{false};
  vela::comm::Thread thread([&] { signalledFirst = pthread_equal(gSignalled.load(), pthread_self()); });
  thread.set_kill_signal(SIGUSR2);
  ASSERT_EQ(thread.start(), 0);
  ASSERT_EQ(thread.join(), 0);
  ::sigaction(SIGUSR2, &previous, nullptr);
  EXPECT_TRUE(signalledFirst);
}

TEST(TickCount, CountsFromLoadPlusTwoBillion) {
  const vela::comm::tickcount_t now(true);
  EXPECT_GE(now.get(), 2000000000u);
  EXPECT_LT(now.get(), 2000000000u + 24ull * 3600 * 1000);  // loaded today
  vela::comm::tickcount_t later;
  EXPECT_EQ(later.get(), 0u);
  EXPECT_GE(later.gettickcount() - now, 0);
}

}  // namespace
