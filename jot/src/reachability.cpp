#include "jot/reachability.h"

#include <atomic>

namespace vela::comm {
namespace {

std::atomic<int32_t> gCachedStatus{kNotReachable};

}  // namespace

NetworkStatus VelaReachability::networkStatusForFlags(uint32_t flags) {
  if ((flags & kFlagReachable) == 0) return kNotReachable;
  if ((flags & (kFlagConnectionOnDemand | kFlagConnectionOnTraffic)) != 0 &&
      (flags & kFlagInterventionRequired) == 0) {
    return kReachable;
  }
  return (flags & kFlagConnectionRequired) != 0 ? kNotReachable : kReachable;
}

NetworkStatus VelaReachability::localWiFiStatusForFlags(uint32_t flags) {
  return (flags & kFlagReachable) != 0 && (flags & kFlagIsDirect) != 0 ? kReachable
                                                                       : kNotReachable;
}

NetworkStatus VelaReachability::getCacheReachabilityStatus(bool refresh) {
  // No flags can be read on this platform: a refresh finds "not reachable".
  if (refresh) gCachedStatus = kNotReachable;
  return static_cast<NetworkStatus>(gCachedStatus.load());
}

}  // namespace vela::comm
