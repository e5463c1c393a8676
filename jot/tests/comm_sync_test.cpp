#include "jot/comm_sync.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(Mutex, ARelockIsReportedNotDeadlocked) {
  vela::comm::Mutex mutex;
  ASSERT_TRUE(mutex.lock());
  EXPECT_FALSE(mutex.lock());  // error-checking: EDEADLK, nothing locked
  EXPECT_TRUE(mutex.unlock());
  EXPECT_FALSE(mutex.unlock());  // not held
}

TEST(Mutex, ScopedLockShowsAFailedLock) {
  vela::comm::Mutex mutex;
  vela::comm::ScopedLock outer(mutex);
  ASSERT_TRUE(outer.islocked());
  vela::comm::ScopedLock inner(mutex);
  EXPECT_FALSE(inner.islocked());
}

TEST(Condition, ANotificationBeforeTheWaitIsNotLost) {
  vela::comm::Condition cond;
  bool ready = false;
  {
    vela::comm::ScopedLock lock(cond.mutex());
    ready = true;
  }
  cond.notifyAll();  // nobody waits yet
  vela::comm::ScopedLock lock(cond.mutex());
  EXPECT_TRUE(cond.wait(lock, 60000, [&] { return ready; }));
}

TEST(Condition, WakesAWaiterFromAnotherThread) {
  vela::comm::Condition cond;
  bool ready = false;
  std::thread notifier([&] {
    {
      vela::comm::ScopedLock lock(cond.mutex());
      ready = true;
    }
    cond.notifyAll();
  });
  {
    vela::comm::ScopedLock lock(cond.mutex());
    EXPECT_TRUE(cond.wait(lock, 60000, [&] { return ready; }));
  }
  notifier.join();
}

TEST(Condition, TimesOutWithoutNotification) {
  vela::comm::Condition cond;
  vela::comm::ScopedLock lock(cond.mutex());
  EXPECT_FALSE(cond.wait(lock, 1, [] { return false; }));
}

}  // namespace
