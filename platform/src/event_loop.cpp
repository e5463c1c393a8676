#include "platform/event_loop.h"

namespace quillo {

void PlainLoop::post(Block block) { postAfter(Clock::duration::zero(), std::move(block)); }

void PlainLoop::postAfter(Clock::duration delay, Block block) {
  {
    std::lock_guard lock(mu_);
    entries_.push(Entry{Clock::now() + delay, nextSeq_++, std::move(block)});
  }
  cv_.notify_all();
}

bool PlainLoop::popDue(std::unique_lock<std::mutex>& lock, Clock::time_point deadline,
                       Block& out) {
  for (;;) {
    if (quit_) return false;
    auto now = Clock::now();
    if (!entries_.empty() && entries_.top().due <= now) {
      // priority_queue::top is const; the block is moved out before pop.
      out = std::move(const_cast<Entry&>(entries_.top()).block);
      entries_.pop();
      return true;
    }
    if (now >= deadline) return false;
    auto wake = deadline;
    if (!entries_.empty() && entries_.top().due < wake) wake = entries_.top().due;
    cv_.wait_until(lock, wake);
  }
}

size_t PlainLoop::runPending() {
  size_t ran = 0;
  const auto now = Clock::now();
  for (;;) {
    Block block;
    {
      std::unique_lock lock(mu_);
      quit_ = false;
      if (!popDue(lock, now, block)) return ran;
    }
    block();
    ++ran;
  }
}

bool PlainLoop::runUntil(const std::function<bool()>& done, Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  {
    std::lock_guard lock(mu_);
    quit_ = false;
  }
  while (!done()) {
    Block block;
    {
      std::unique_lock lock(mu_);
      if (!popDue(lock, deadline, block)) return done();
    }
    block();
  }
  return true;
}

void PlainLoop::runFor(Clock::duration duration) {
  runUntil([] { return false; }, duration);
}

void PlainLoop::run() {
  runUntil([] { return false; }, Clock::duration::max() / 2);
}

void PlainLoop::quit() {
  {
    std::lock_guard lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
}

void PlainLoop::clear() {
  std::lock_guard lock(mu_);
  entries_ = {};
}

}  // namespace quillo
