#include "jot/reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "jot/jotter.h"

namespace vela::comm {
namespace {

std::atomic<int32_t> gCachedStatus{kNotReachable};

std::mutex& registryMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}
// Live instances, so that the callback can tell one from anything else.
std::set<const VelaReachability*>& liveInstances() {
  static auto* live = new std::set<const VelaReachability*>();
  return *live;
}
std::map<int, VelaReachability::Observer>& observers() {
  static auto* list = new std::map<int, VelaReachability::Observer>();
  return *list;
}
int gNextToken = 1;  // Guarded by registryMutex().

// Closes a descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

// Sends one request and gathers the answer (all parts of a dump).
std::optional<std::vector<uint8_t>> askKernel(const void* request, size_t len, bool dump) {
  Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (fd.get() < 0) return std::nullopt;
  struct sockaddr_nl kernel {};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), request, len, 0, reinterpret_cast<struct sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(len)) {
    return std::nullopt;
  }
  std::vector<uint8_t> answer;
  std::vector<uint8_t> chunk(32768);
  for (int parts = 0; parts < 4096; ++parts) {
    struct pollfd pfd {fd.get(), POLLIN, 0};
    if (::poll(&pfd, 1, 2000) <= 0) return std::nullopt;  // the kernel answers at once
    const ssize_t n = ::recv(fd.get(), chunk.data(), chunk.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    answer.insert(answer.end(), chunk.begin(), chunk.begin() + n);
    if (!dump) break;
    // A dump ends with NLMSG_DONE (or an error).
    bool done = false;
    int left = static_cast<int>(n);
    for (auto* h = reinterpret_cast<const nlmsghdr*>(chunk.data()); NLMSG_OK(h, left);
         h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) done = true;
    }
    if (done) break;
  }
  return answer;
}

struct RouteRequest {
  nlmsghdr header;
  rtmsg route;
  char attributes[64];
};

std::optional<RouteFacts> routeTo(int family, const void* address, size_t addressLen) {
  const bool isZero = std::all_of(static_cast<const uint8_t*>(address),
                                  static_cast<const uint8_t*>(address) + addressLen,
                                  [](uint8_t b) { return b == 0; });
  RouteRequest request{};
  request.route.rtm_family = static_cast<unsigned char>(family);
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_seq = 1;
  if (isZero) {
    // The kernel answers a lookup of the zero address with a local route;
    // the internet is reachable when a default route exists.
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  } else {
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.route.rtm_dst_len = static_cast<unsigned char>(addressLen * 8);
    auto* attribute = reinterpret_cast<rtattr*>(request.attributes);
    attribute->rta_type = RTA_DST;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(addressLen));
    std::memcpy(RTA_DATA(attribute), address, addressLen);
    request.header.nlmsg_len = NLMSG_ALIGN(NLMSG_LENGTH(sizeof(rtmsg))) + RTA_ALIGN(attribute->rta_len);
  }
  const auto answer = askKernel(&request, request.header.nlmsg_len, isZero);
  if (!answer) return std::nullopt;
  return ParseRouteReply(*answer, isZero);
}

}  // namespace

RouteFacts ParseRouteReply(std::span<const uint8_t> bytes, bool defaultOnly) {
  RouteFacts facts;
  // Work on an aligned copy: the netlink macros read headers in place.
  std::vector<nlmsghdr> aligned((bytes.size() + sizeof(nlmsghdr) - 1) / sizeof(nlmsghdr) + 1);
  std::memcpy(aligned.data(), bytes.data(), bytes.size());
  int left = static_cast<int>(bytes.size());
  for (const nlmsghdr* h = aligned.data(); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
    if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) break;
    if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) continue;
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (route->rtm_type != RTN_UNICAST && route->rtm_type != RTN_LOCAL) continue;
    if (defaultOnly && (route->rtm_dst_len != 0 || route->rtm_table == RT_TABLE_LOCAL)) continue;
    bool gateway = false;
    int attributesLeft = static_cast<int>(RTM_PAYLOAD(h));
    for (const rtattr* a = RTM_RTA(route); RTA_OK(a, attributesLeft); a = RTA_NEXT(a, attributesLeft)) {
      if (a->rta_type == RTA_GATEWAY || a->rta_type == RTA_VIA) gateway = true;
    }
    // Of several default routes, a direct one wins.
    if (!facts.found || facts.viaGateway) facts = {true, gateway};
  }
  return facts;
}

uint32_t FlagsForRoute(const RouteFacts& facts) {
  if (!facts.found) return 0;
  return kFlagReachable | (facts.viaGateway ? 0 : kFlagIsDirect);
}

// What to ask the routing table about.
struct VelaReachability::Target {
  std::string hostName;           // resolved when asked, or
  struct sockaddr_storage address {};  // a fixed address
};

// The routing-change watch: a netlink socket on the route, address and link
// groups, read by a thread that an eventfd stops.
struct VelaReachability::Watch {
  int socket = -1;
  int stop = -1;
  std::thread thread;
  // Set when the watch was stopped from its own thread: that thread then
  // closes the descriptors itself, after it has stopped using them.
  std::shared_ptr<std::atomic<bool>> ownsDescriptors = std::make_shared<std::atomic<bool>>(false);
};

VelaReachability::VelaReachability(std::unique_ptr<Target> target, bool localWiFi)
    : localWiFiRef_(localWiFi), reachabilityRef_(std::move(target)) {
  std::lock_guard lock(registryMutex());
  liveInstances().insert(this);
}

VelaReachability::~VelaReachability() {
  VelastopNotifier();
  std::lock_guard lock(registryMutex());
  liveInstances().erase(this);
}

std::unique_ptr<VelaReachability> VelaReachability::reachabilityWithHostName(
    const std::string& hostName) {
  if (hostName.empty()) return nullptr;
  auto target = std::make_unique<Target>();
  target->hostName = hostName;
  return std::unique_ptr<VelaReachability>(new VelaReachability(std::move(target), false));
}

std::unique_ptr<VelaReachability> VelaReachability::reachabilityWithAddress(
    const struct sockaddr* address) {
  if (!address) return nullptr;
  const size_t len = address->sa_family == AF_INET    ? sizeof(sockaddr_in)
                     : address->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                      : 0;
  if (len == 0) return nullptr;
  auto target = std::make_unique<Target>();
  std::memcpy(&target->address, address, len);
  return std::unique_ptr<VelaReachability>(new VelaReachability(std::move(target), false));
}

std::unique_ptr<VelaReachability> VelaReachability::reachabilityForInternetConnection() {
  struct sockaddr_in zero4 {};
  zero4.sin_family = AF_INET;
  auto instance = reachabilityWithAddress(reinterpret_cast<const struct sockaddr*>(&zero4));
  if (instance && instance->currentReachabilityStatus() == kNotReachable) {
    struct sockaddr_in6 zero6 {};
    zero6.sin6_family = AF_INET6;
    instance = reachabilityWithAddress(reinterpret_cast<const struct sockaddr*>(&zero6));
  }
  return instance;
}

std::unique_ptr<VelaReachability> VelaReachability::reachabilityForLocalWiFi() {
  struct sockaddr_in linkLocal {};
  linkLocal.sin_family = AF_INET;
  linkLocal.sin_addr.s_addr = htonl(0xA9FE0000);  // 169.254.0.0
  auto instance = reachabilityWithAddress(reinterpret_cast<const struct sockaddr*>(&linkLocal));
  if (instance) instance->localWiFiRef_ = true;
  return instance;
}

NetworkStatus VelaReachability::getCacheReachabilityStatus(bool refresh) {
  if (refresh) {
    auto instance = reachabilityForInternetConnection();
    gCachedStatus = instance ? instance->currentReachabilityStatus() : kNotReachable;
  }
  return static_cast<NetworkStatus>(gCachedStatus.load());
}

int VelaReachability::addObserver(Observer observer) {
  std::lock_guard lock(registryMutex());
  const int token = gNextToken++;
  observers().emplace(token, std::move(observer));
  return token;
}

void VelaReachability::removeObserver(int token) {
  std::lock_guard lock(registryMutex());
  observers().erase(token);
}

std::optional<uint32_t> VelaReachability::currentFlags() const {
  const Target& target = *reachabilityRef_;
  struct sockaddr_storage address = target.address;
  if (!target.hostName.empty()) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_ADDRCONFIG;
    struct addrinfo* found = nullptr;
    if (::getaddrinfo(target.hostName.c_str(), nullptr, &hints, &found) != 0 || !found) return 0u;
    std::memcpy(&address, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof address));
    ::freeaddrinfo(found);
  }
  std::optional<RouteFacts> facts;
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    facts = routeTo(AF_INET, &in.sin_addr, sizeof in.sin_addr);
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    facts = routeTo(AF_INET6, &in6.sin6_addr, sizeof in6.sin6_addr);
  }
  if (!facts) return std::nullopt;
  return FlagsForRoute(*facts);
}

NetworkStatus VelaReachability::localWiFiStatusForFlags(uint32_t flags) {
  return (flags & kFlagReachable) != 0 && (flags & kFlagIsDirect) != 0 ? kReachable
                                                                       : kNotReachable;
}

NetworkStatus VelaReachability::networkStatusForFlags(uint32_t flags) {
  if ((flags & kFlagReachable) == 0) return kNotReachable;
  if ((flags & (kFlagConnectionOnDemand | kFlagConnectionOnTraffic)) != 0 &&
      (flags & kFlagInterventionRequired) == 0) {
    return kReachable;
  }
  return (flags & kFlagConnectionRequired) != 0 ? kNotReachable : kReachable;
}

bool VelaReachability::connectionRequired() const {
  const auto flags = currentFlags();
  return flags && (*flags & kFlagConnectionRequired) != 0;
}

NetworkStatus VelaReachability::currentReachabilityStatus() const {
  const uint32_t flags = currentFlags().value_or(0);
  return localWiFiRef_ ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
}

bool VelaReachability::VelastartNotifier() {
  if (watch_) return true;
  auto watch = std::make_unique<Watch>();
  watch->socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  watch->stop = ::eventfd(0, EFD_CLOEXEC);
  struct sockaddr_nl groups {};
  groups.nl_family = AF_NETLINK;
  groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                     RTMGRP_IPV6_ROUTE;
  const bool ready = watch->socket >= 0 && watch->stop >= 0 &&
                     ::bind(watch->socket, reinterpret_cast<struct sockaddr*>(&groups),
                            sizeof groups) == 0;
  if (ready) {
    try {
      watch->thread = std::thread([this, socket = watch->socket, stop = watch->stop,
                                   owns = watch->ownsDescriptors] {
        const auto finish = [&] {
          if (owns->load()) {
            ::close(socket);
            ::close(stop);
          }
        };
        std::vector<uint8_t> buffer(16384);
        for (;;) {
          struct pollfd fds[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
          if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return finish();
          }
          if (fds[1].revents) return finish();
          // One change comes as a burst of messages: read them all, then
          // judge once.
          while (::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
          }
          ReachabilityCallback(this);
        }
      });
    } catch (const std::system_error&) {
    }
  }
  if (!watch->thread.joinable()) {
    if (watch->socket >= 0) ::close(watch->socket);
    if (watch->stop >= 0) ::close(watch->stop);
    return false;
  }
  watch_ = std::move(watch);
  return true;
}

void VelaReachability::VelastopNotifier() {
  if (!watch_) return;
  const uint64_t one = 1;
  if (::write(watch_->stop, &one, sizeof one) == sizeof one && watch_->thread.joinable()) {
    if (watch_->thread.get_id() == std::this_thread::get_id()) {
      // Stopped from its own notification: the thread sees the stop on its
      // next poll and closes the descriptors then, not while it may use them.
      watch_->ownsDescriptors->store(true);
      watch_->thread.detach();
      watch_.reset();
      return;
    }
    watch_->thread.join();
  } else if (watch_->thread.joinable()) {
    watch_->thread.detach();
  }
  ::close(watch_->socket);
  ::close(watch_->stop);
  watch_.reset();
}

void ReachabilityCallback(void* info) {
  if (!info) {
    VELA_CHECK(false, "info was NULL in ReachabilityCallback");
    return;
  }
  auto* instance = static_cast<VelaReachability*>(info);
  std::vector<VelaReachability::Observer> toCall;
  {
    std::lock_guard lock(registryMutex());
    if (liveInstances().count(instance) == 0) {
      VELA_CHECK(false, "info was wrong class in ReachabilityCallback");
      return;
    }
    for (const auto& [token, observer] : observers()) toCall.push_back(observer);
  }
  gCachedStatus = instance->currentReachabilityStatus();
  for (const auto& observer : toCall) observer(kNetworkReachabilityChangedNotification, *instance);
}

namespace {

// The process-wide monitor, made and started before main and kept for the
// life of the process.
VelaReachability* gMonitor = nullptr;
const bool gMonitorStarted = [] {
  gMonitor = VelaReachability::reachabilityForInternetConnection().release();
  if (!gMonitor) return false;
  const bool started = gMonitor->VelastartNotifier();
  gCachedStatus = gMonitor->currentReachabilityStatus();
  return started;
}();

}  // namespace

bool ReachabilityMonitorStarted() { return gMonitorStarted; }

}  // namespace vela::comm
