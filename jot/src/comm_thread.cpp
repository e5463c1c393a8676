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
#include <system_error>
#include <thread>

#include "jot/jotter.h"

namespace vela::comm {

struct Thread::RunRef {
  std::function<void()> target;
  std::mutex mu;
  std::condition_variable delayCv;
  std::thread handle;
  bool ended = true;
  bool joined = false;
  bool cancelDelay = false;
  int64_t delayMs = std::numeric_limits<int64_t>::max();
  int killSignal = 0;
  std::string name;
};

namespace {

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


Thread::Thread(std::function<void()> target, const char* name, bool outsideJoin)
    : ref_(std::make_shared<RunRef>()), outsideJoin_(outsideJoin) {
  ref_->target = std::move(target);
  if (name) ref_->name = name;
}

Thread::~Thread() {
  std::lock_guard lock(ref_->mu);
  // The running thread holds its own reference to ref_, so it may run on.
  if (ref_->handle.joinable()) ref_->handle.detach();
}

int Thread::start() { return startWithDelay(-1); }

int Thread::start_after(int64_t ms) { return startWithDelay(ms < 0 ? 0 : ms); }

int Thread::startWithDelay(int64_t delayMs) {
  std::lock_guard lock(ref_->mu);
  if (!ref_->ended) return 0;
  if (!ref_->target) {
    VELA_ASSERT(ref_->target);
    return EINVAL;
  }
  if (ref_->handle.joinable()) ref_->handle.detach();
  ref_->ended = false;
  ref_->joined = outsideJoin_;
  ref_->cancelDelay = false;
  ref_->delayMs = delayMs < 0 ? std::numeric_limits<int64_t>::max() : delayMs;
  std::shared_ptr<RunRef> ref = ref_;
  try {
    ref_->handle = std::thread([ref, delayMs] {
      nameThread(ref->name);
      int killSignal;
      {
        std::lock_guard lk(ref->mu);
        killSignal = ref->killSignal;
      }
      if (killSignal >= 1 && killSignal <= 32) ::pthread_kill(::pthread_self(), killSignal);
      bool run = true;
      if (delayMs >= 0) {
        std::unique_lock lk(ref->mu);
        ref->delayCv.wait_for(lk, std::chrono::milliseconds(delayMs),
                              [&] { return ref->cancelDelay; });
        run = !ref->cancelDelay;
      }
      if (run) ref->target();
      std::lock_guard lk(ref->mu);
      ref->killSignal = 0;
      ref->ended = true;
    });
  } catch (const std::system_error& e) {
    VELA_ASSERT2(0 == e.code().value(), "%d", e.code().value());
    ref_->ended = true;
    ref_->delayMs = std::numeric_limits<int64_t>::max();
    return e.code().value() ? e.code().value() : EAGAIN;
  }
  return 0;
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
  std::thread handle;
  {
    std::lock_guard lock(ref_->mu);
    VELA_ASSERT(!outsideJoin_);
    if (!ref_->handle.joinable()) return 0;
    if (ref_->handle.get_id() == std::this_thread::get_id()) return EDEADLK;
    ref_->joined = true;
    handle = std::move(ref_->handle);
  }
  handle.join();
  return 0;
}

bool Thread::isruning() const {
  std::lock_guard lock(ref_->mu);
  return !ref_->ended;
}

}  // namespace vela::comm
