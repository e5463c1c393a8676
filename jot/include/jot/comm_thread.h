#pragma once
// A thread with an optional delayed start. Destroying a started, unjoined
// Thread detaches it, so a one-shot delayed job may outlive its Thread object:
//
//   vela::comm::Thread t([] { sweep(); }, "sweep");
//   t.start_after(120000);   // runs `sweep` in two minutes unless cancelled
//
// The system thread is named "<name> *<thread id>" (cut to 15 characters,
// the kernel's limit). Any thread may call every operation. Misuse (a second
// join, a start without a target, a failed start or join) is reported as a
// fatal record, never thrown.
#include <pthread.h>

#include <cstdint>
#include <functional>

namespace vela::comm {

class Thread {
 public:
  explicit Thread(std::function<void()> target, const char* name = nullptr,
                  bool outsideJoin = false);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // 0 on success, also when the thread is already running (nothing happens
  // then); else the system's error number (EINVAL without a target).
  int start();
  // As start(), but the target runs after `ms` milliseconds unless
  // cancel_after() comes first.
  int start_after(int64_t ms);
  // A signal (1..32) the thread raises on itself when it starts, before its
  // target runs; cleared when the run ends. 0: none.
  void set_kill_signal(int signal);
  // Cancels a pending delayed start and wakes its wait; the target will not run.
  void cancel_after();
  // 0 when the thread has ended; EDEADLK when called from the thread
  // itself; else the system's error number, which is also reported.
  int join();
  [[nodiscard]] bool isruning() const;

 private:
  struct RunRef;
  int startWithDelay(int64_t delayMs);
  static void* body(void* ref);
  // Drops one count of `ref`; the last one frees it.
  static void release(RunRef* ref);

  RunRef* ref_;  // counted: see release()
  pthread_attr_t attr_;
  bool outsideJoin_;
};

}  // namespace vela::comm
