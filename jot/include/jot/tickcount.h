#pragma once
// Milliseconds from the monotonic clock.
#include <cstdint>

namespace vela::comm {

[[nodiscard]] uint64_t gettickcount();

// A tick value; `tickcount_t(true)` holds the current tick: milliseconds
// since the library was loaded, plus 2,000,000,000.
class tickcount_t {
 public:
  explicit tickcount_t(bool now = false);
  tickcount_t& gettickcount();
  [[nodiscard]] uint64_t get() const { return value_; }
  [[nodiscard]] int64_t operator-(const tickcount_t& other) const {
    return static_cast<int64_t>(value_ - other.value_);
  }

 private:
  uint64_t value_ = 0;
};

}  // namespace vela::comm
