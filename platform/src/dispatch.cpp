#include "platform/dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>

namespace quillo {
namespace {

constexpr const char* kMainLabel = "main-thread";

thread_local const char* tCurrentLabel = nullptr;

// Marks the running thread as executing `label`'s blocks for the scope.
class LabelScope {
 public:
  explicit LabelScope(const char* label) : saved_(tCurrentLabel) { tCurrentLabel = label; }
  ~LabelScope() { tCurrentLabel = saved_; }
  LabelScope(const LabelScope&) = delete;
  LabelScope& operator=(const LabelScope&) = delete;

 private:
  const char* saved_;
};

std::mutex gLoopMu;
std::shared_ptr<EventLoop>& loopSlot() {
  static auto* slot = new std::shared_ptr<EventLoop>();
  return *slot;
}

std::atomic<double> gDelayScale{1.0};

class MainQueue final : public Queue {
 public:
  MainQueue() : Queue(kMainLabel) {}
  void async(Block block) override {
    mainLoop()->post([b = std::move(block), this] {
      LabelScope scope(label().c_str());
      b();
    });
  }
};

// A fixed set of worker threads draining one FIFO. Used for the global queues,
// which live for the whole process, and (with one worker) for serial queues.
// The threads share the FIFO's state, so a queue released by one of its own
// blocks leaves that worker with valid state to finish on.
class Workers {
 public:
  Workers(std::string label, size_t count) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    for (size_t i = 0; i < count; ++i) threads_.emplace_back([state = state_] { work(state); });
  }
  ~Workers() {
    {
      std::lock_guard lock(state_->mu);
      state_->stop = true;
      state_->blocks.clear();
    }
    state_->cv.notify_all();
    for (auto& t : threads_) {
      if (t.get_id() == std::this_thread::get_id()) {
        t.detach();  // The queue is released by one of its own blocks.
      } else {
        t.join();
      }
    }
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  void push(Block block) {
    {
      std::lock_guard lock(state_->mu);
      if (state_->stop) return;
      state_->blocks.push_back(std::move(block));
    }
    state_->cv.notify_one();
  }

 private:
  struct State {
    std::string label;
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Block> blocks;  // Guarded by mu.
    bool stop = false;         // Guarded by mu.
  };

  static void work(const std::shared_ptr<State>& state) {
    LabelScope scope(state->label.c_str());
    for (;;) {
      Block block;
      {
        std::unique_lock lock(state->mu);
        state->cv.wait(lock, [&] { return state->stop || !state->blocks.empty(); });
        if (state->stop) return;
        block = std::move(state->blocks.front());
        state->blocks.pop_front();
      }
      block();
    }
  }

  std::shared_ptr<State> state_;
  std::vector<std::thread> threads_;
};

class WorkerQueue final : public Queue {
 public:
  WorkerQueue(std::string label, size_t threads)
      : Queue(std::move(label)), workers_(std::make_unique<Workers>(this->label(), threads)) {}
  void async(Block block) override { workers_->push(std::move(block)); }

 private:
  std::unique_ptr<Workers> workers_;
};

// One thread that holds delayed blocks for the non-main queues until due.
class DelayThread {
 public:
  static DelayThread& shared() {
    static auto* instance = new DelayThread();  // Lives until exit; never joined.
    return *instance;
  }
  void add(Clock::time_point due, std::weak_ptr<Queue> queue, Block block) {
    loop_.postAfter(due - Clock::now(), [q = std::move(queue), b = std::move(block)]() mutable {
      if (auto strong = q.lock()) strong->async(std::move(b));
    });
  }

 private:
  DelayThread() {
    std::thread([this] { loop_.run(); }).detach();
  }
  PlainLoop loop_;
};

size_t poolSize() { return std::max(2u, std::thread::hardware_concurrency()); }

}  // namespace

void Queue::asyncAfter(double seconds, Block block) {
  auto delay = scaledDelay(seconds);
  if (this == Queue::main().get()) {
    mainLoop()->postAfter(delay, [b = std::move(block)] {
      LabelScope scope(kMainLabel);
      b();
    });
    return;
  }
  // Held weakly: a delayed block never keeps a released serial queue alive.
  DelayThread::shared().add(Clock::now() + delay, weak_from_this(), std::move(block));
}

std::shared_ptr<Queue> Queue::main() {
  static auto* queue = new std::shared_ptr<Queue>(std::make_shared<MainQueue>());
  return *queue;
}

std::shared_ptr<Queue> Queue::global(Qos qos) {
  static auto* utility =
      new std::shared_ptr<Queue>(std::make_shared<WorkerQueue>("global.utility", poolSize()));
  static auto* fallback =
      new std::shared_ptr<Queue>(std::make_shared<WorkerQueue>("global.default", poolSize()));
  return qos == Qos::Utility ? *utility : *fallback;
}

std::shared_ptr<Queue> Queue::makeSerial(std::string label) {
  return std::make_shared<WorkerQueue>(std::move(label), 1);
}

const char* Queue::currentLabel() {
  if (tCurrentLabel) return tCurrentLabel;
  return isMainThread() ? kMainLabel : nullptr;
}

bool isMainThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

std::shared_ptr<EventLoop> setMainLoop(std::shared_ptr<EventLoop> loop) {
  std::lock_guard lock(gLoopMu);
  auto previous = loopSlot();
  loopSlot() = std::move(loop);
  return previous;
}

PlainLoop& mainPlainLoop() {
  static auto* loop = new std::shared_ptr<PlainLoop>(std::make_shared<PlainLoop>());
  return **loop;
}

std::shared_ptr<EventLoop> mainLoop() {
  std::lock_guard lock(gLoopMu);
  if (!loopSlot()) {
    // The default loop is shared, not owned: wrap it without taking ownership.
    loopSlot() = std::shared_ptr<EventLoop>(std::shared_ptr<EventLoop>(), &mainPlainLoop());
  }
  return loopSlot();
}

void setDelayScale(double scale) { gDelayScale = scale; }
double delayScale() { return gDelayScale; }

Clock::duration scaledDelay(double seconds) {
  const double scaled = std::max(0.0, seconds * gDelayScale.load());
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(scaled));
}

struct Timer::State {
  std::mutex mu;
  bool valid = true;  // Guarded by mu.
  double interval = 0;
  bool repeats = false;
  Block block;
};

namespace {
void scheduleTick(const std::shared_ptr<Timer::State>& state);
}

std::unique_ptr<Timer> Timer::scheduled(double interval, bool repeats, Block block) {
  auto state = std::make_shared<State>();
  state->interval = interval;
  state->repeats = repeats;
  state->block = std::move(block);
  scheduleTick(state);
  return std::unique_ptr<Timer>(new Timer(std::move(state)));
}

Timer::Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
Timer::~Timer() { invalidate(); }

void Timer::invalidate() {
  std::lock_guard lock(state_->mu);
  state_->valid = false;
}

bool Timer::isValid() const {
  std::lock_guard lock(state_->mu);
  return state_->valid;
}

namespace {
void scheduleTick(const std::shared_ptr<Timer::State>& state) {
  mainLoop()->postAfter(scaledDelay(state->interval), [state] {
    {
      std::lock_guard lock(state->mu);
      if (!state->valid) return;
      if (!state->repeats) state->valid = false;
    }
    LabelScope scope(kMainLabel);
    state->block();
    std::lock_guard lock(state->mu);
    if (state->valid && state->repeats) scheduleTick(state);
  });
}
}  // namespace

}  // namespace quillo
