#pragma once
// Dispatch queues: the main queue (run by the plugged-in EventLoop), global
// concurrent queues by quality of service, and serial queues with labels.
// Every queue is safe to use from any thread. A block posted to a queue runs
// exactly once unless the queue is destroyed first (then it is dropped).
//
//   auto q = quillo::Queue::makeSerial("download.delegate");
//   q->async([] { ... });                       // runs on q's worker thread
//   quillo::Queue::main()->asyncAfter(0.5, [] { ... });  // main loop, 0.5 s later
#include <chrono>
#include <memory>
#include <string>

#include "platform/event_loop.h"

namespace quillo {

enum class Qos { Utility, Default };

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  virtual ~Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  // The label given at creation; may be empty.
  [[nodiscard]] const std::string& label() const { return label_; }

  virtual void async(Block block) = 0;
  // Runs `block` on this queue after `seconds` (scaled by delayScale()).
  void asyncAfter(double seconds, Block block);

  // The main queue: blocks run on the main thread through the EventLoop.
  [[nodiscard]] static std::shared_ptr<Queue> main();
  // Process-wide concurrent queues, one per quality of service.
  [[nodiscard]] static std::shared_ptr<Queue> global(Qos qos);
  // A new serial queue with its own worker thread; the thread ends with the queue.
  [[nodiscard]] static std::shared_ptr<Queue> makeSerial(std::string label);

  // The label of the queue whose block is running on this thread, or nullptr
  // when the thread is not running a queue's block.
  [[nodiscard]] static const char* currentLabel();

 protected:
  explicit Queue(std::string label) : label_(std::move(label)) {}

 private:
  std::string label_;
};

// Whether the calling thread is the process's main thread.
[[nodiscard]] bool isMainThread();

// Installs the loop that runs the main queue; returns the previous one. The
// default is a process-wide PlainLoop (see mainPlainLoop()).
std::shared_ptr<EventLoop> setMainLoop(std::shared_ptr<EventLoop> loop);
[[nodiscard]] std::shared_ptr<EventLoop> mainLoop();
// The default main loop, for tests of non-UI code to drive.
[[nodiscard]] PlainLoop& mainPlainLoop();

// Every delay given to asyncAfter() and Timer is multiplied by this factor
// (1.0 by default). Tests shrink it to run timed flows quickly.
void setDelayScale(double scale);
[[nodiscard]] double delayScale();
[[nodiscard]] Clock::duration scaledDelay(double seconds);

// A timer on the main loop. It fires every `interval` seconds (or once) until
// invalidated or destroyed; dropping the handle cancels it. Create and
// invalidate it from any thread; the block runs on the main thread.
class Timer {
 public:
  [[nodiscard]] static std::unique_ptr<Timer> scheduled(double interval, bool repeats, Block block);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void invalidate();
  [[nodiscard]] bool isValid() const;

  struct State;  // Shared with the pending tick; opaque outside dispatch.cpp.

 private:
  explicit Timer(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace quillo
