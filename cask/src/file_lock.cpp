#include "file_lock.h"

#include <sys/file.h>

#include <cerrno>
#include <cstring>

#include "log.h"

namespace cask {

bool FileLock::lock(LockType type) { return doLock(type, true); }
bool FileLock::tryLock(LockType type) { return doLock(type, false); }

bool FileLock::doLock(LockType type, bool wait) {
  if (fd_ < 0) return false;
  if (type == ExclusiveLockType) {
    if (exclusiveLockCount_ == 0 && !platformLock(type, wait, sharedLockCount_ > 0)) return false;
    ++exclusiveLockCount_;
  } else {
    if (sharedLockCount_ == 0 && exclusiveLockCount_ == 0 && !platformLock(type, wait, false)) {
      return false;
    }
    ++sharedLockCount_;
  }
  return true;
}

bool FileLock::platformLock(LockType type, bool wait, bool unLockFirstIfNeeded) {
  if (unLockFirstIfNeeded) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    // Two processes upgrading at once would wait for each other forever.
    if (flock(fd_, LOCK_UN) != 0) {
      CaskError("fail to try unlock first fd=%d, ret=%d, error:%s", fd_, -1, std::strerror(errno));
    }
  }
  int operation = type == ExclusiveLockType ? LOCK_EX : LOCK_SH;
  if (!wait) operation |= LOCK_NB;
  int ret;
  do {
    ret = flock(fd_, operation);
  } while (ret != 0 && errno == EINTR && wait);
  if (ret == 0) return true;
  if (wait) CaskError("fail to lock fd=%d, ret=%d, error:%s", fd_, ret, std::strerror(errno));
  if (unLockFirstIfNeeded && flock(fd_, LOCK_SH) != 0) {
    CaskError("fail to recover shared-lock fd=%d, ret=%d, error:%s", fd_, -1, std::strerror(errno));
  }
  return false;
}

bool FileLock::unlock(LockType type) {
  if (fd_ < 0) return false;
  int operation = -1;
  if (type == ExclusiveLockType) {
    if (exclusiveLockCount_ == 0) return false;
    if (exclusiveLockCount_ == 1) operation = sharedLockCount_ > 0 ? LOCK_SH : LOCK_UN;
  } else {
    if (sharedLockCount_ == 0) return false;
    if (sharedLockCount_ == 1 && exclusiveLockCount_ == 0) operation = LOCK_UN;
  }
  if (operation != -1 && flock(fd_, operation) != 0) {
    CaskError("fail to unlock fd=%d, ret=%d, error:%s", fd_, -1, std::strerror(errno));
    return false;
  }
  if (type == ExclusiveLockType) {
    --exclusiveLockCount_;
  } else {
    --sharedLockCount_;
  }
  return true;
}

ThreadLock::ThreadLock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

ThreadLock::~ThreadLock() { pthread_mutex_destroy(&mutex_); }

void ThreadLock::lock() {
  if (const int ret = pthread_mutex_lock(&mutex_); ret != 0) {
    CaskError("fail to lock %p, ret=%d, errno=%s", static_cast<void*>(&mutex_), ret, std::strerror(ret));
  }
}

void ThreadLock::ThreadOnce(pthread_once_t* once, void (*function)()) {
  if (const int ret = pthread_once(once, function); ret != 0) {
    CaskError("fail to run once %p, ret=%d, errno=%s", static_cast<void*>(once), ret, std::strerror(ret));
  }
}

void ThreadLock::unlock() {
  if (const int ret = pthread_mutex_unlock(&mutex_); ret != 0) {
    CaskError("fail to unlock %p, ret=%d, errno=%s", static_cast<void*>(&mutex_), ret, std::strerror(ret));
  }
}

}  // namespace cask
