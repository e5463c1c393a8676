#include "jot/comm_thread.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

#include "jot/jotter.h"

namespace vela::comm {

// Shared by the Thread object and its running thread; freed by whichever
// lets go last.
struct Thread::RunRef {
  std::function<void()> target;
  int count = 1;  // the Thread object, and the thread while it runs
  pthread_t handle{};
  bool hasHandle = false;  // a system thread neither joined nor detached
  bool joined = false;
  bool ended = true;
  int64_t delayMs = std::numeric_limits<int64_t>::max();
  bool cancelDelay = false;
  std::condition_variable delayCv;
  std::mutex mu;  // guards everything here
  bool inThread = false;
  int killSignal = 0;
  std::string name;
};

namespace {

constexpr int64_t kNoDelay = std::numeric_limits<int64_t>::max();

// "<name> *<system thread id>", cut to the kernel's 15 characters.
void nameThread(const std::string& name) {
  if (name.empty()) return;
  char text[128];
  std::snprintf(text, sizeof text, "%s *%llu", name.c_str(),
                static_cast<unsigned long long>(::syscall(SYS_gettid)));
  text[15] = '\0';
  pthread_setname_np(pthread_self(), text);
}

}  // namespace

void Thread::release(RunRef* ref) {
  bool last;
  bool ended;
  int count;
  {
    std::lock_guard lock(ref->mu);
    count = --ref->count;
    last = count <= 0;
    ended = ref->ended;
  }
  if (!last) return;
  VELA_CHECK(0 == count, "0 == count");
  VELA_CHECK(ended, "isended");
  delete ref;
}

void* Thread::body(void* arg) {
  auto* ref = static_cast<RunRef*>(arg);
  bool wasInThread;
  int killSignal;
  int64_t delayMs;
  {
    std::lock_guard lock(ref->mu);
    wasInThread = ref->inThread;
    ref->inThread = true;
    killSignal = ref->killSignal;
    delayMs = ref->delayMs;
  }
  VELA_CHECK(!wasInThread, "!runableref->isinthread");
  nameThread(ref->name);
  if (killSignal >= 1 && killSignal <= 32) ::pthread_kill(::pthread_self(), killSignal);
  bool run = true;
  if (delayMs != kNoDelay) {
    std::unique_lock lock(ref->mu);
    run = !ref->cancelDelay;
    if (run) {
      ref->delayCv.wait_for(lock, std::chrono::milliseconds(delayMs), [&] { return ref->cancelDelay; });
      run = !ref->cancelDelay;
    }
  }
  if (run) ref->target();
  {
    std::lock_guard lock(ref->mu);
    ref->inThread = false;
    ref->killSignal = 0;
    ref->ended = true;
  }
  release(ref);
  return nullptr;
}

Thread::Thread(std::function<void()> target, const char* name, bool outsideJoin)
    : ref_(new RunRef()), outsideJoin_(outsideJoin) {
  ref_->target = std::move(target);
  if (name) ref_->name = name;
  pthread_attr_init(&attr_);
  pthread_attr_setdetachstate(&attr_, PTHREAD_CREATE_JOINABLE);
}

Thread::~Thread() {
  {
    std::lock_guard lock(ref_->mu);
    // The running thread holds its own count, so it may run on.
    if (ref_->hasHandle) pthread_detach(ref_->handle);
    ref_->hasHandle = false;
  }
  release(ref_);
  pthread_attr_destroy(&attr_);
}

int Thread::start() { return startWithDelay(kNoDelay); }

int Thread::start_after(int64_t ms) { return startWithDelay(ms < 0 ? 0 : ms); }

int Thread::startWithDelay(int64_t delayMs) {
  int ret = EINVAL;
  bool noTarget;
  {
    std::lock_guard lock(ref_->mu);
    if (!ref_->ended) return 0;
    noTarget = !ref_->target;
    if (!noTarget) {
      if (ref_->hasHandle) pthread_detach(ref_->handle);
      ref_->hasHandle = false;
      ref_->ended = false;
      ref_->joined = outsideJoin_;
      ref_->cancelDelay = false;
      ref_->delayMs = delayMs;
      ++ref_->count;
      ret = pthread_create(&ref_->handle, &attr_, &Thread::body, ref_);
      if (ret == 0) {
        ref_->hasHandle = true;
      } else {
        ref_->ended = true;
        --ref_->count;
        ref_->delayMs = kNoDelay;
      }
    }
  }
  // Reported outside the lock: the report is a record, and records may
  // start threads of their own.
  if (noTarget) VELA_CHECK(false, "runable_ref_->target");
  else if (ret != 0) VELA_CHECK2(false, "0 == ret", "%d", ret);
  return ret;
}

void Thread::set_kill_signal(int signal) {
  std::lock_guard lock(ref_->mu);
  ref_->killSignal = signal;
}

void Thread::cancel_after() {
  {
    std::lock_guard lock(ref_->mu);
    ref_->cancelDelay = true;
  }
  ref_->delayCv.notify_all();
}

int Thread::join() {
  VELA_CHECK(!outsideJoin_, "!outside_join_");
  bool joinedBefore;
  bool self;
  bool reap = false;
  pthread_t handle{};
  {
    std::lock_guard lock(ref_->mu);
    joinedBefore = ref_->joined;
    self = ref_->hasHandle && pthread_equal(ref_->handle, pthread_self());
    if (!self) {
      // An ended thread is only reaped: the result is 0 either way.
      if (!ref_->ended) ref_->joined = true;
      reap = ref_->hasHandle;
      handle = ref_->handle;
      ref_->hasHandle = false;
    }
  }
  VELA_CHECK(!joinedBefore, "!runable_ref_->isjoined");
  if (self) return EDEADLK;
  if (!reap) return 0;
  const int ret = pthread_join(handle, nullptr);
  VELA_CHECK2(0 == ret || ESRCH == ret, "0 == ret || ESRCH == ret", "pthread_join err:%d", ret);
  return ret;
}

bool Thread::isruning() const {
  std::lock_guard lock(ref_->mu);
  return !ref_->ended;
}

}  // namespace vela::comm
