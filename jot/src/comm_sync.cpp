#include "jot/comm_sync.h"

#include <cerrno>
#include <ctime>

#include "jot/jotter.h"

namespace vela::comm {

Mutex::Mutex(bool recursive) : magic_(reinterpret_cast<uintptr_t>(this)), mutex_(), attr_() {
  pthread_mutexattr_init(&attr_);
  pthread_mutexattr_settype(&attr_,
                            recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_ERRORCHECK);
  const int ret = pthread_mutex_init(&mutex_, &attr_);
  if (ret == ENOMEM) VELA_CHECK(false, "0 == ENOMEM");
  else if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret == EPERM) VELA_CHECK(false, "0 == EPERM");
  else if (ret == EBUSY) VELA_CHECK(false, "0 == EBUSY");
  else if (ret == EAGAIN) VELA_CHECK(false, "0 == EAGAIN");
  else if (ret != 0) VELA_CHECK(false, "0 == ret");
}

Mutex::~Mutex() {
  magic_ = 0;
  const int ret = pthread_mutex_destroy(&mutex_);
  if (ret == EBUSY) VELA_CHECK(false, "0 == EBUSY");
  else if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret != 0) VELA_CHECK(false, "0 == ret");
  pthread_mutexattr_destroy(&attr_);
}

bool Mutex::lock() {
  if (magic_ != reinterpret_cast<uintptr_t>(this) || magic_ == 0) {
    VELA_CHECK2(false, "reinterpret_cast<uintptr_t>(this) == magic_ && 0 != magic_",
                "this:%p != mageic:%p", static_cast<void*>(this), reinterpret_cast<void*>(magic_));
    return false;
  }
  const int ret = pthread_mutex_lock(&mutex_);
  if (ret == EDEADLK) VELA_CHECK(false, "0 == EDEADLK");
  else if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret == EAGAIN) VELA_CHECK(false, "0 == EAGAIN");
  else if (ret != 0) VELA_CHECK(false, "0 == ret");
  return ret == 0;
}

bool Mutex::unlock() {
  if (magic_ != reinterpret_cast<uintptr_t>(this) || magic_ == 0) {
    VELA_CHECK2(false, "reinterpret_cast<uintptr_t>(this) == magic_ && 0 != magic_",
                "this:%p != mageic:%p", static_cast<void*>(this), reinterpret_cast<void*>(magic_));
  }
  const int ret = pthread_mutex_unlock(&mutex_);
  if (ret == EPERM) VELA_CHECK(false, "0 == EPERM");
  else if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret == EAGAIN) VELA_CHECK(false, "0 == EAGAIN");
  else if (ret != 0) VELA_CHECK(false, "0 == ret");
  return ret == 0;
}

ScopedLock::ScopedLock(Mutex& mutex, bool initLock) : mutex_(mutex) {
  if (initLock) lock();
}

ScopedLock::~ScopedLock() {
  if (islocked_) unlock();
}

bool ScopedLock::lock() {
  if (islocked_) return true;
  islocked_ = mutex_.lock();
  VELA_CHECK(islocked_, "islocked_");
  return islocked_;
}

void ScopedLock::unlock() {
  VELA_CHECK(islocked_, "islocked_");
  if (!islocked_) return;
  mutex_.unlock();
  islocked_ = false;
}

Condition::Condition() : cond_() {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  const int ret = pthread_cond_init(&cond_, &attr);
  VELA_ASSERT2(ret == 0, "pthread_cond_init:%d", ret);
  pthread_condattr_destroy(&attr);
}

Condition::~Condition() { pthread_cond_destroy(&cond_); }

struct timespec Condition::deadlineAfter(int64_t ms) {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  if (ms < 0) ms = 0;
  ts.tv_sec += static_cast<time_t>(ms / 1000);
  ts.tv_nsec += static_cast<long>((ms % 1000) * 1000000);
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

bool Condition::waitUntil(ScopedLock& lock, const struct timespec& deadline) {
  if (!lock.islocked() || &lock.internal() != &mutex_) {
    VELA_CHECK(false, "lock.internal().islocked()");
    return false;
  }
  if (anywayNotify_) {
    anywayNotify_ = false;
    return true;
  }
  const int ret = pthread_cond_timedwait(&cond_, &mutex_.internal(), &deadline);
  anywayNotify_ = false;
  if (ret == ETIMEDOUT) return false;
  if (ret == EPERM) VELA_CHECK(false, "0 == EPERM");
  else if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret != 0) VELA_CHECK2(false, "0 == ret", "%d", ret);
  return ret == 0;
}

bool Condition::wait(ScopedLock& lock, int64_t ms) { return waitUntil(lock, deadlineAfter(ms)); }

void Condition::notifyAll() {
  const int ret = pthread_cond_broadcast(&cond_);
  if (ret == EINVAL) VELA_CHECK(false, "0 == EINVAL");
  else if (ret != 0) VELA_CHECK(false, "0 == ret");
}

void Condition::notifyAnyway() {
  anywayNotify_ = true;
  notifyAll();
}

}  // namespace vela::comm
