#include "jot/thread_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace vela::comm {
namespace {

// One worker thread over a FIFO of calls; drained and joined at exit.
class WorkerQueue {
 public:
  ~WorkerQueue() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    cv_.notify_all();
    if (!worker_.joinable()) return;
    // exit() called from a queued call cannot wait for itself.
    if (worker_.get_id() == std::this_thread::get_id()) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  bool add(std::function<void()> call) {
    std::lock_guard lock(mu_);
    if (stopping_) return false;
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([this] { loop(); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    calls_.push_back(std::move(call));
    cv_.notify_one();
    return true;
  }

 private:
  void loop() {
    std::unique_lock lock(mu_);
    for (;;) {
      cv_.wait(lock, [this] { return stopping_ || !calls_.empty(); });
      if (calls_.empty()) return;  // stopping, and everything ran
      std::function<void()> call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      call();
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> calls_;  // Guarded by mu_.
  bool stopping_ = false;                    // Guarded by mu_.
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
