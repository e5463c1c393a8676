#include "jot/comm_sync.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "jot/auto_buffer.h"
#include "jot/jotter.h"
#include "support/jot_test_support.h"

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

TEST(Condition, NotifyAnywayReleasesTheNextWaitAtOnce) {
  vela::comm::Condition cond;
  vela::comm::ScopedLock lock(cond.mutex());
  cond.notifyAnyway();
  EXPECT_TRUE(cond.wait(lock, 60000));   // returns without waiting
  EXPECT_FALSE(cond.wait(lock, 1));      // the flag was used up
}

// The reports of misuse carry the texts the log readers search for.
using CheckTexts = jottest::CheckReports;

TEST_F(CheckTexts, MutexAndScopedLock) {
  {
    vela::comm::Mutex quiet;  // made and destroyed: nothing to report
    vela::comm::Condition quietToo;
  }
  EXPECT_FALSE(reported(""));
  vela::comm::Mutex mutex;
  ASSERT_TRUE(mutex.lock());
  EXPECT_FALSE(mutex.lock());
  EXPECT_TRUE(reported("0 == EDEADLK"));
  EXPECT_TRUE(mutex.unlock());
  EXPECT_FALSE(mutex.unlock());
  EXPECT_TRUE(reported("0 == EPERM"));
  {
    vela::comm::ScopedLock outer(mutex);
    vela::comm::ScopedLock inner(mutex);
  }
  EXPECT_TRUE(reported("islocked_"));
}

TEST_F(CheckTexts, ADestroyedMutexIsNotLocked) {
  alignas(vela::comm::Mutex) unsigned char storage[sizeof(vela::comm::Mutex)];
  auto* mutex = new (storage) vela::comm::Mutex();
  mutex->~Mutex();
  EXPECT_FALSE(mutex->lock());
  EXPECT_TRUE(reported("reinterpret_cast<uintptr_t>(this) == magic_ && 0 != magic_"));
  EXPECT_TRUE(reported("this:0x"));
  // Nor is one whose bytes were moved to another place.
  auto* original = new (storage) vela::comm::Mutex();
  alignas(vela::comm::Mutex) unsigned char moved[sizeof(vela::comm::Mutex)];
  std::memcpy(moved, storage, sizeof moved);
  EXPECT_FALSE(reinterpret_cast<vela::comm::Mutex*>(moved)->lock());
  original->~Mutex();
}

TEST_F(CheckTexts, WaitWithoutTheLock) {
  vela::comm::Condition cond;
  vela::comm::Mutex other;
  vela::comm::ScopedLock lock(other);
  EXPECT_FALSE(cond.wait(lock, 1));
  EXPECT_TRUE(reported("lock.internal().islocked()"));
}

TEST_F(CheckTexts, Buffers) {
  char memory[8] = {};
  vela::comm::PtrBuffer ptr(memory, 9, sizeof memory);
  EXPECT_TRUE(reported("length_ <= max_length_"));
  ptr.Length(8, 8);  // the whole buffer: no misuse
  EXPECT_FALSE(reported("_nLenght <= MaxLength()"));
  ptr.Length(5, 4);
  EXPECT_TRUE(reported("(size_t)_nPos <= _nLenght"));
  ptr.Write("ab", 2, 0);
  EXPECT_FALSE(reported("NULL != _pBuffer"));
  vela::comm::PtrBuffer empty;
  empty.Write("x", 1);
  EXPECT_TRUE(reported("NULL != _pBuffer"));
  vela::comm::AutoBuffer buffer;
  buffer.Write(nullptr, 0);  // nothing to copy: no misuse
  EXPECT_FALSE(reported("NULL != _pbuffer"));
  buffer.Write(nullptr, 3);
  EXPECT_TRUE(reported("NULL != _pbuffer || 0 == _len"));
  EXPECT_EQ(vela::comm::KNullAtuoBuffer.Length(), 0u);
  EXPECT_EQ(vela::comm::KNullAtuoBuffer.Ptr(), nullptr);
}

}  // namespace
