#pragma once
// Thread hops. The main-thread variant decides by thread, the queue variant by
// the current queue's label (two queues with one label count as one).
//
//   runBlockOnMainThread([] { ... });  // on main: runs now; elsewhere: posted
#include <memory>

#include "platform/dispatch.h"

namespace quillo {

// On the main thread: runs `block` before returning. Elsewhere: posts it to the main queue.
void runBlockOnMainThread(Block block);
// On the main thread: posts `block` to the default global queue. Elsewhere: runs it now.
void runBlockOnBackgroundThread(Block block);
// Runs `block` now when the current queue is `queue` by label, else posts it there.
void runBlockOnQueue(const std::shared_ptr<Queue>& queue, Block block);

class DispatchBridge {
 public:
  // False for a null or empty label; otherwise whether the current queue's
  // label exists and equals `label` byte for byte.
  [[nodiscard]] static bool inQueueForLabel(const char* label);
  [[nodiscard]] static bool inQueue(const std::shared_ptr<Queue>& queue);
  static void assertInQueue(const std::shared_ptr<Queue>&) {}
};

}  // namespace quillo
