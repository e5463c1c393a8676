#include "jot/tickcount.h"

#include <time.h>

namespace vela::comm {
namespace {

// Ticks count from load time, offset so that they never come near 0.
constexpr uint64_t kTickOffset = 2000000000;
const uint64_t gStartTick = gettickcount();

}  // namespace

uint64_t gettickcount() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

tickcount_t::tickcount_t(bool now) {
  if (now) gettickcount();
}

tickcount_t& tickcount_t::gettickcount() {
  value_ = vela::comm::gettickcount() - gStartTick + kTickOffset;
  return *this;
}

}  // namespace vela::comm
