#pragma once
// Keeps timers alive together with an object tied to each, until the timer
// fires: `Run` (called with the fired timer) invalidates it, and drops both
// the timer and its object. The list is guarded by a non-recursive mutex;
// all functions are thread-safe. Nothing in the writer adds entries.
//
//   TimerRuner::Add(timer.get(), [timer] { timer->cancel(); }, session);
//   ... when it fires: TimerRuner::Run(timer.get());
#include <functional>
#include <memory>

namespace vela::comm {

class TimerRuner {
 public:
  TimerRuner() = delete;

  // `timer` identifies the entry; `invalidate` stops the timer.
  static void Add(const void* timer, std::function<void()> invalidate,
                  std::shared_ptr<void> object);
  // Invalidates and forgets the entry of `timer`; false when there is none.
  static bool Run(const void* timer);
};

}  // namespace vela::comm
