#pragma once
// Network reachability from the kernel's routing table (rtnetlink). An
// address is reachable when a route to it exists; the zero ("internet")
// address when a default route exists; a route without a gateway is direct,
// which is what the link-local ("local WiFi") instance asks for. Routing
// facts become the flag bits below, and the flag rules give the status.
//
// A process-wide monitor for the internet connection is made and started
// before main (when the writer is linked in): it keeps the cached status up
// to date and posts kNetworkReachabilityChangedNotification to the observers
// on every routing, address or link change. Notifications are delivered on
// the monitor's own thread (the writer has no main loop); an observer that
// needs another thread hops there itself. All functions are thread-safe.
//
//   auto internet = VelaReachability::reachabilityForInternetConnection();
//   if (internet->currentReachabilityStatus() == kReachable) ...
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vela::comm {

enum NetworkStatus : int32_t { kNotReachable = 0, kReachable = 1 };

inline constexpr uint32_t kFlagReachable = 0x2;
inline constexpr uint32_t kFlagConnectionRequired = 0x4;
inline constexpr uint32_t kFlagConnectionOnTraffic = 0x8;
inline constexpr uint32_t kFlagInterventionRequired = 0x10;
inline constexpr uint32_t kFlagConnectionOnDemand = 0x20;
inline constexpr uint32_t kFlagIsDirect = 0x20000;

inline constexpr char kNetworkReachabilityChangedNotification[] =
    "kNetworkReachabilityChangedNotification";

class VelaReachability;

// What the routing table says about one target.
struct RouteFacts {
  bool found = false;       // a usable route (unicast or local)
  bool viaGateway = false;  // the route goes through a gateway
};

// Reads the answer of the kernel to a route query (RTM_GETROUTE, one route)
// or to a route dump (`defaultOnly`: only routes with prefix length 0 count).
// An error answer or an unreachable, blackhole or prohibit route: not found.
// Damaged messages end the reading; what was read so far stands.
[[nodiscard]] RouteFacts ParseRouteReply(std::span<const uint8_t> bytes, bool defaultOnly);
// The flag bits for routing facts: reachable when found, direct when found
// without a gateway.
[[nodiscard]] uint32_t FlagsForRoute(const RouteFacts& facts);

// The change callback: `info` must be a live VelaReachability (reported as
// "info was NULL in ReachabilityCallback" otherwise). Sets the cached status
// to the instance's current status and posts the notification.
void ReachabilityCallback(void* info);

// Whether the process-wide monitor is watching (false where the kernel
// refuses netlink sockets; the cached status is then set once at start-up).
[[nodiscard]] bool ReachabilityMonitorStarted();

class VelaReachability {
 public:
  using Observer = std::function<void(const char* name, VelaReachability& object)>;

  // Null for an empty host name. The name is resolved when flags are read;
  // one that does not resolve is not reachable.
  [[nodiscard]] static std::unique_ptr<VelaReachability> reachabilityWithHostName(
      const std::string& hostName);
  // Null for a null address or a family other than IPv4 and IPv6.
  [[nodiscard]] static std::unique_ptr<VelaReachability> reachabilityWithAddress(
      const struct sockaddr* address);
  // The IPv4 zero address; the IPv6 one when IPv4 is not reachable.
  [[nodiscard]] static std::unique_ptr<VelaReachability> reachabilityForInternetConnection();
  // 169.254.0.0, judged by the local-WiFi rule.
  [[nodiscard]] static std::unique_ptr<VelaReachability> reachabilityForLocalWiFi();
  // The cached status; with `refresh`, a new internet instance's status,
  // which is stored and returned.
  [[nodiscard]] static NetworkStatus getCacheReachabilityStatus(bool refresh);

  // Observers of kNetworkReachabilityChangedNotification; called on the
  // monitor thread of the instance that changed. Returns a token for
  // removeObserver.
  static int addObserver(Observer observer);
  static void removeObserver(int token);

  ~VelaReachability();
  VelaReachability(const VelaReachability&) = delete;
  VelaReachability& operator=(const VelaReachability&) = delete;

  // Starts watching routing changes on a thread of this instance; false
  // when the kernel refuses the watch. Stopping joins that thread.
  bool VelastartNotifier();
  void VelastopNotifier();

  [[nodiscard]] static NetworkStatus localWiFiStatusForFlags(uint32_t flags);
  [[nodiscard]] static NetworkStatus networkStatusForFlags(uint32_t flags);
  // The connection-required bit of the current flags.
  [[nodiscard]] bool connectionRequired() const;
  [[nodiscard]] NetworkStatus currentReachabilityStatus() const;
  // The current flags, or nullopt when the routing table cannot be read.
  [[nodiscard]] std::optional<uint32_t> currentFlags() const;
  [[nodiscard]] bool isLocalWiFi() const { return localWiFiRef_; }

 private:
  struct Target;
  struct Watch;
  VelaReachability(std::unique_ptr<Target> target, bool localWiFi);

  bool localWiFiRef_;
  std::unique_ptr<Target> reachabilityRef_;
  std::unique_ptr<Watch> watch_;
};

}  // namespace vela::comm
