#pragma once
// Atomic<T>: a value behind its own lock. Each get and each set locks on its
// own; a read-modify-write goes through withValue() as one critical section.
// The lock is never held while the caller's other code runs.
//
//   Atomic<std::vector<Completion>> waiters;
//   waiters.withValue([&](auto& v) { v.push_back(c); });
//
// WeakObject<T>: one weak reference.
#include <memory>
#include <mutex>
#include <utility>

namespace quillo {

template <typename T>
class Atomic {
 public:
  Atomic() = default;
  explicit Atomic(T wrappedValue) : value_(std::move(wrappedValue)) {}
  Atomic(const Atomic&) = delete;
  Atomic& operator=(const Atomic&) = delete;

  [[nodiscard]] T get() const {
    std::lock_guard lock(mu_);
    return value_;
  }
  void set(T newValue) {
    std::lock_guard lock(mu_);
    value_ = std::move(newValue);
  }
  // Runs `body` on the value in place, under the lock; returns its result.
  template <typename F>
  decltype(auto) withValue(F&& body) {
    std::lock_guard lock(mu_);
    return std::forward<F>(body)(value_);
  }

 private:
  mutable std::mutex mu_;
  T value_{};  // Guarded by mu_.
};

template <typename T>
class WeakObject {
 public:
  explicit WeakObject(const std::shared_ptr<T>& value) : value_(value) {}
  [[nodiscard]] std::shared_ptr<T> value() const { return value_.lock(); }

 private:
  std::weak_ptr<T> value_;
};

}  // namespace quillo
