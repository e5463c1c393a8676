#pragma once
// Locks of the log writer. `Mutex` checks that it is still alive before
// locking and reports misuse as a fatal record instead of stopping the
// program; `Condition` waits with a millisecond deadline. All of them may be
// used from any thread.
#include <pthread.h>

#include <cstdint>

namespace vela::comm {

class Mutex {
 public:
  // Recursive uses the system's recursive type, otherwise error-checking.
  explicit Mutex(bool recursive = false);
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // False (and nothing locked) when the mutex is dead or the lock failed.
  [[nodiscard]] bool lock();
  bool unlock();
  [[nodiscard]] pthread_mutex_t& internal() { return mutex_; }

 private:
  uintptr_t magic_;
  pthread_mutex_t mutex_;
  pthread_mutexattr_t attr_;
};

// Scoped lock; a lock that failed leaves `islocked()` false and the caller
// must skip the guarded work.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& mutex, bool initLock = true);
  ~ScopedLock();
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  bool lock();
  void unlock();
  [[nodiscard]] bool islocked() const { return islocked_; }
  [[nodiscard]] Mutex& internal() { return mutex_; }

 private:
  Mutex& mutex_;
  bool islocked_ = false;
};

class Condition {
 public:
  Condition();
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Waits on the condition's own mutex, which `lock` must hold, until a
  // notification or `ms` milliseconds pass. Returns false on timeout.
  bool wait(ScopedLock& lock, int64_t ms);
  // Waits until `ready()` holds or `ms` pass. `ready` is checked under the
  // lock, so a notification sent after the state change is never lost.
  template <class Pred>
  bool wait(ScopedLock& lock, int64_t ms, Pred ready);
  void notifyAll();
  // Requires: mutex() held. Sets the notify-anyway flag, so the next wait
  // returns at once even if it starts after this call, and wakes waiters.
  // Nothing in the writer sets it.
  void notifyAnyway();
  [[nodiscard]] Mutex& mutex() { return mutex_; }

 private:
  bool waitUntil(ScopedLock& lock, const struct timespec& deadline);
  static struct timespec deadlineAfter(int64_t ms);

  pthread_cond_t cond_;
  Mutex mutex_;
  bool anywayNotify_ = false;  // Guarded by mutex_.
};

template <class Pred>
bool Condition::wait(ScopedLock& lock, int64_t ms, Pred ready) {
  const struct timespec deadline = deadlineAfter(ms);
  while (!ready()) {
    if (!waitUntil(lock, deadline)) return ready();
  }
  return true;
}

}  // namespace vela::comm
