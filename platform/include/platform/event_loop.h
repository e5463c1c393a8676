#pragma once
// The loop that runs the main queue. The application plugs in Qt's event loop
// (platform/qt_event_loop.h); tests of non-UI code drive a PlainLoop by hand.
// post() and postAfter() are safe from any thread; blocks run on the thread
// that runs the loop, in the order they became due.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <vector>

namespace quillo {

using Block = std::function<void()>;
using Clock = std::chrono::steady_clock;

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Runs `block` on the loop's thread as soon as the loop gets to it.
  virtual void post(Block block) = 0;
  // Runs `block` on the loop's thread once `delay` has passed.
  virtual void postAfter(Clock::duration delay, Block block) = 0;
};

// A loop of our own: a queue of due times under a mutex. Whoever calls run*()
// becomes the loop's thread for that call.
class PlainLoop final : public EventLoop {
 public:
  PlainLoop() = default;
  PlainLoop(const PlainLoop&) = delete;
  PlainLoop& operator=(const PlainLoop&) = delete;

  void post(Block block) override;
  void postAfter(Clock::duration delay, Block block) override;

  // Runs every block that is due now, including those they post; returns how
  // many ran. Delayed blocks that are not yet due stay queued.
  size_t runPending();
  // Runs blocks as they become due until `done` returns true (checked after
  // each block) or `timeout` passes. Returns `done()`.
  bool runUntil(const std::function<bool()>& done, Clock::duration timeout);
  // Runs for `duration`, serving blocks as they become due.
  void runFor(Clock::duration duration);
  // Runs until quit() is called (from any thread).
  void run();
  void quit();

  // Drops every queued block without running it.
  void clear();

 private:
  struct Entry {
    Clock::time_point due;
    uint64_t seq;
    Block block;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.seq > b.seq;
    }
  };
  // Pops the next due block, waiting until `deadline` at most. Requires: mu_ held.
  bool popDue(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, Block& out);

  std::mutex mu_;
  std::condition_variable cv_;
  std::priority_queue<Entry, std::vector<Entry>, Later> entries_;  // Guarded by mu_.
  uint64_t nextSeq_ = 0;                                          // Guarded by mu_.
  bool quit_ = false;                                             // Guarded by mu_.
};

}  // namespace quillo
