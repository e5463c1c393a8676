#pragma once
// Locks of the store: a recursive shared/exclusive lock between processes on
// top of flock(2) (FileLock, used through InterProcessLock), a recursive mutex
// (ThreadLock) and a scoped guard over either.
//
// flock locks belong to the open file description, so FileLock counts
// requests to make them recursive within a process. Upgrading from shared to
// exclusive may briefly drop the lock (to avoid a deadlock with another
// process upgrading at the same time): re-read shared state afterwards.
// FileLock has no lock of its own; callers hold a ThreadLock around it.
#include <pthread.h>

#include <concepts>
#include <cstddef>

namespace cask {

enum LockType { SharedLockType = 0, ExclusiveLockType = 1 };

class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Blocks. False when the descriptor is closed or flock fails.
  bool lock(LockType type);
  bool tryLock(LockType type);
  bool unlock(LockType type);
  void setFd(int fd) { fd_ = fd; }

 private:
  bool doLock(LockType type, bool wait);
  bool platformLock(LockType type, bool wait, bool unLockFirstIfNeeded);

  int fd_;
  size_t sharedLockCount_ = 0;
  size_t exclusiveLockCount_ = 0;
};

class InterProcessLock {
 public:
  InterProcessLock(FileLock* fileLock, LockType type) : fileLock_(fileLock), type_(type) {}

  // A disabled lock (single-process stores) does nothing and succeeds.
  bool lock() { return !enabled_ || fileLock_->lock(type_); }
  bool tryLock() { return !enabled_ || fileLock_->tryLock(type_); }
  void unlock() {
    if (enabled_) fileLock_->unlock(type_);
  }
  void setEnable(bool enabled) { enabled_ = enabled; }
  [[nodiscard]] bool isEnabled() const { return enabled_; }

 private:
  FileLock* fileLock_;
  LockType type_;
  bool enabled_ = true;
};

class ThreadLock {
 public:
  ThreadLock();
  ThreadLock(const ThreadLock&) = delete;
  ThreadLock& operator=(const ThreadLock&) = delete;
  ~ThreadLock();

  void lock();
  void unlock();

  // Nothing to prepare here: pthread mutexes need no process-wide set-up.
  static void initialize() {}
  // Runs `function` exactly once per `once` (pthread_once): callers racing
  // on first use wait until the one that runs it returns.
  //
  //   static pthread_once_t once = PTHREAD_ONCE_INIT;
  //   ThreadLock::ThreadOnce(&once, &makeTables);
  static void ThreadOnce(pthread_once_t* once, void (*function)());

 private:
  pthread_mutex_t mutex_;
};

// Locks in the constructor, unlocks in the destructor. A null lock does
// nothing. `locked()` tells whether an InterProcessLock was really taken.
template <typename Lock>
class ScopedLock {
 public:
  explicit ScopedLock(Lock* lock) : lock_(lock) {
    if (lock_ == nullptr) return;
    if constexpr (requires(Lock l) { { l.lock() } -> std::same_as<bool>; }) {
      locked_ = lock_->lock();
      if (!locked_) lock_ = nullptr;
    } else {
      lock_->lock();
    }
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() {
    if (lock_ != nullptr) lock_->unlock();
  }
  [[nodiscard]] bool locked() const { return locked_; }

 private:
  Lock* lock_;
  bool locked_ = true;
};

}  // namespace cask
