#pragma once
// A process-wide worker queue for one-off calls, and the two wrappers that
// carry a call onto it: `ThreadWarp` (a target, a selector called on it and
// an argument, both kept alive until the call has run) and `CThreadWarp`
// (a plain function, with or without a pointer argument). Calls run one at
// a time, in the order queued, on the queue's own thread. The queue is
// released at exit: what is still queued then does not run, and exit does
// not wait for a call still running. Thread-safe.
//
//   ThreadQueue::RunWithTarget(session, [](void* s, void* arg) {
//     static_cast<Session*>(s)->upload(static_cast<Blob*>(arg));
//   }, blob);
#include <functional>
#include <memory>

namespace vela::comm {

class ThreadWarp {
 public:
  using Selector = void (*)(void* target, void* arg);

  ThreadWarp() = default;
  ~ThreadWarp();
  ThreadWarp(const ThreadWarp&) = delete;
  ThreadWarp& operator=(const ThreadWarp&) = delete;

  // Calls the selector on the target with the argument; nothing when the
  // target or the selector is missing.
  void Run();

  std::shared_ptr<void> m_target;
  Selector m_sel = nullptr;
  std::shared_ptr<void> m_arg;
};

class CThreadWarp {
 public:
  CThreadWarp() = default;

  // m_funp(m_arg) when set, else m_fun() when set.
  void Run() const;

  void (*m_funp)(void* arg) = nullptr;
  void (*m_fun)() = nullptr;
  void* m_arg = nullptr;
};

class ThreadQueue {
 public:
  ThreadQueue() = delete;

  // Queues `selector(target, object)`; false when the call could not be
  // queued (no target or selector, or the queue is gone at exit).
  [[nodiscard]] static bool RunWithTarget(std::shared_ptr<void> target, ThreadWarp::Selector selector,
                                          std::shared_ptr<void> object);
  // Queues the wrapper's call.
  [[nodiscard]] static bool Run(const CThreadWarp& call);
};

}  // namespace vela::comm
