#include "ext/collections.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace ext::detail {

void concurrentPerform(std::size_t iterations, const std::function<void(std::size_t)>& body) {
  if (iterations == 0) return;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mu;
  std::exception_ptr firstError;  // Guarded by mu.

  auto work = [&] {
    while (!failed.load(std::memory_order_relaxed)) {
      const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
      if (index >= iterations) return;
      try {
        body(index);
      } catch (...) {
        std::lock_guard lock(mu);
        if (!firstError) firstError = std::current_exception();
        failed.store(true, std::memory_order_relaxed);
      }
    }
  };

  const std::size_t hardware = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min(iterations, hardware);
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (std::size_t i = 1; i < workers; ++i) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // Fewer threads only means less parallelism: the caller works too.
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  if (firstError) std::rethrow_exception(firstError);
}

}  // namespace ext::detail
