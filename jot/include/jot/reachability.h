#pragma once
// Network reachability as derived from reachability flags. This platform
// has no system reachability service, so nothing feeds flags in and the
// cached status stays "not reachable"; the flag rules are kept for callers
// that obtain flags themselves. Thread-safe.
#include <cstdint>

namespace vela::comm {

enum NetworkStatus : int32_t { kNotReachable = 0, kReachable = 1 };

inline constexpr uint32_t kFlagReachable = 0x2;
inline constexpr uint32_t kFlagConnectionRequired = 0x4;
inline constexpr uint32_t kFlagConnectionOnTraffic = 0x8;
inline constexpr uint32_t kFlagInterventionRequired = 0x10;
inline constexpr uint32_t kFlagConnectionOnDemand = 0x20;
inline constexpr uint32_t kFlagIsDirect = 0x20000;

class VelaReachability {
 public:
  // Reachable, with on-demand or on-traffic connection and no intervention: 1;
  // otherwise reachable and no connection required: 1; else 0.
  [[nodiscard]] static NetworkStatus networkStatusForFlags(uint32_t flags);
  // 1 when reachable and direct (a link-local network), else 0.
  [[nodiscard]] static NetworkStatus localWiFiStatusForFlags(uint32_t flags);
  [[nodiscard]] static bool connectionRequired(uint32_t flags) {
    return (flags & kFlagConnectionRequired) != 0;
  }
  // The cached status; `refresh` re-reads it (always 0 here: no service).
  [[nodiscard]] static NetworkStatus getCacheReachabilityStatus(bool refresh);
};

}  // namespace vela::comm
