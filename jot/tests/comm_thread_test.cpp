#include "jot/comm_thread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "jot/jotter.h"
#include "jot/tickcount.h"
#include "support/jot_test_support.h"

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

// Only the classic signals 1..32 are raised, from the first; a real-time one
// is not.
TEST(Thread, RaisesItsKillSignalOnItselfBeforeTheTarget) {
  for (const auto& [signal, raised] :
       {std::pair{SIGHUP, true}, std::pair{SIGUSR2, true}, std::pair{SIGRTMIN, false}}) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &noteSignal;
    ASSERT_EQ(::sigaction(signal, &action, &previous), 0);
    gSignalled = pthread_t{};
    std::atomic<bool> signalledFirst{false};
    vela::comm::Thread thread(
        [&] { signalledFirst = pthread_equal(gSignalled.load(), pthread_self()); });
    thread.set_kill_signal(signal);
    ASSERT_EQ(thread.start(), 0);
    ASSERT_EQ(thread.join(), 0);
    ::sigaction(signal, &previous, nullptr);
    EXPECT_EQ(signalledFirst, raised) << signal;
  }
}

// The reports of misuse carry the texts the log readers search for.
class ThreadChecks : public jottest::CheckReports {
 protected:
  [[nodiscard]] static bool checkReported(const std::string& expression) {
    return reported("[ASSERT(" + expression + ")]");
  }
};

TEST_F(ThreadChecks, StartWithoutATargetIsReported) {
  vela::comm::Thread thread(nullptr);
  EXPECT_EQ(thread.start(), EINVAL);
  EXPECT_TRUE(checkReported("runable_ref_->target"));
  EXPECT_FALSE(thread.isruning());
}

TEST_F(ThreadChecks, JoinOfAnOutsideJoinedThreadIsReported) {
  vela::comm::Thread thread([] {}, nullptr, true);
  ASSERT_EQ(thread.start(), 0);
  EXPECT_EQ(thread.join(), 0);
  EXPECT_TRUE(checkReported("!outside_join_"));
}

// Waits until thread `tid` of this process sleeps (state S in its stat).
void waitUntilAsleep(pid_t tid) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  for (;;) {
    std::ifstream in(path);
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t paren = stat.rfind(')');
    if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S') return;
    std::this_thread::yield();
  }
}

TEST_F(ThreadChecks, SecondJoinIsReported) {
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  vela::comm::Thread thread([gate] { gate.wait(); });
  ASSERT_EQ(thread.start(), 0);
  // Let the thread end only once the first join waits for it.
  const auto joiner = static_cast<pid_t>(::syscall(SYS_gettid));
  std::thread releaser([&] {
    waitUntilAsleep(joiner);
    release.set_value();
  });
  EXPECT_EQ(thread.join(), 0);
  releaser.join();
  EXPECT_FALSE(checkReported("!runable_ref_->isjoined"));
  EXPECT_EQ(thread.join(), 0);
  EXPECT_TRUE(checkReported("!runable_ref_->isjoined"));
}

// In a child: starts a thread with no process left to this user.
int startWithoutProcessesLeft() {
  const struct rlimit none {0, 0};
  if (::setrlimit(RLIMIT_NPROC, &none) != 0) return 2;
  vela::comm::Thread thread([] {});
  const int ret = thread.start();
  return ret != 0 && !thread.isruning() && jottest::CheckReports::reported("[ASSERT(0 == ret)]") ? 0 : 1;
}

TEST_F(ThreadChecks, FailedStartIsReportedNotThrown) {
  if (::geteuid() == 0) GTEST_SKIP() << "the process limit does not hold for root";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(startWithoutProcessesLeft()), ::testing::ExitedWithCode(0), "");
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
