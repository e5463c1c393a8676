#include "jot/thread_queue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace vela::comm {
namespace {

// One worker thread over a FIFO of calls. Released at exit: calls not yet
// run are dropped and nobody waits for the one running, so a call that
// never returns cannot hold the process. The worker shares the state, which
// lives as long as either of them.
class WorkerQueue {
 public:
  ~WorkerQueue() {
    std::deque<std::function<void()>> dropped;
    {
      std::lock_guard lock(state_->mu);
      state_->stopping = true;
      dropped.swap(state_->calls);
    }
    state_->cv.notify_all();
    if (worker_.joinable()) worker_.detach();
  }

  bool add(std::function<void()> call) {
    std::lock_guard lock(state_->mu);
    if (state_->stopping) return false;
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([state = state_] { loop(*state); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    state_->calls.push_back(std::move(call));
    state_->cv.notify_one();
    return true;
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::function<void()>> calls;  // Guarded by mu.
    bool stopping = false;                    // Guarded by mu.
  };

  static void loop(State& state) {
    std::unique_lock lock(state.mu);
    for (;;) {
      state.cv.wait(lock, [&] { return state.stopping || !state.calls.empty(); });
      if (state.stopping) return;
      std::function<void()> call = std::move(state.calls.front());
      state.calls.pop_front();
      lock.unlock();
      call();
      call = nullptr;  // outside the lock: releasing its objects may queue calls
      lock.lock();
    }
  }

  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread worker_;
};

WorkerQueue gQueue;

}  // namespace

ThreadWarp::~ThreadWarp() {
  m_target.reset();
  m_arg.reset();
}

void ThreadWarp::Run() {
  if (m_target && m_sel) m_sel(m_target.get(), m_arg.get());
}

void CThreadWarp::Run() const {
  if (m_funp) {
    m_funp(m_arg);
  } else if (m_fun) {
    m_fun();
  }
}

bool ThreadQueue::RunWithTarget(std::shared_ptr<void> target, ThreadWarp::Selector selector,
                                std::shared_ptr<void> object) {
  if (!target || !selector) return false;
  auto warp = std::make_shared<ThreadWarp>();
  warp->m_target = std::move(target);
  warp->m_sel = selector;
  warp->m_arg = std::move(object);
  return gQueue.add([warp] { warp->Run(); });
}

bool ThreadQueue::Run(const CThreadWarp& call) {
  if (!call.m_funp && !call.m_fun) return false;
  return gQueue.add([call] { call.Run(); });
}

}  // namespace vela::comm
