#include "jot/reachability.h"

#include <arpa/inet.h>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "jot/jotter.h"

namespace {

using vela::comm::RouteFacts;
using vela::comm::VelaReachability;
using namespace vela::comm;

TEST(Reachability, NetworkStatusForFlags) {
  struct Case {
    uint32_t flags;
    NetworkStatus status;
  };
  const Case cases[] = {
      {0, kNotReachable},
      {kFlagReachable, kReachable},
      {kFlagReachable | kFlagConnectionRequired, kNotReachable},
      {kFlagReachable | kFlagConnectionRequired | kFlagConnectionOnDemand, kReachable},
      {kFlagReachable | kFlagConnectionRequired | kFlagConnectionOnTraffic, kReachable},
      {kFlagReachable | kFlagConnectionRequired | kFlagConnectionOnDemand | kFlagInterventionRequired,
       kNotReachable},
      {kFlagConnectionOnTraffic, kNotReachable},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VelaReachability::networkStatusForFlags(c.flags), c.status) << std::hex << c.flags;
  }
}

TEST(Reachability, LocalWiFiNeedsReachableAndDirect) {
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x20002), kReachable);
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x2), kNotReachable);
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x20000), kNotReachable);
}

// Builds netlink answers the way the kernel lays them out.
class RouteMessages {
 public:
  RouteMessages& route(unsigned char type, unsigned char dstLen, bool gateway,
                       unsigned char table = RT_TABLE_MAIN) {
    std::vector<uint8_t> message(NLMSG_SPACE(sizeof(rtmsg)) + (gateway ? RTA_SPACE(4) : 0));
    auto* header = reinterpret_cast<nlmsghdr*>(message.data());
    header->nlmsg_len = static_cast<uint32_t>(message.size());
    header->nlmsg_type = RTM_NEWROUTE;
    auto* rt = static_cast<rtmsg*>(NLMSG_DATA(header));
    rt->rtm_family = AF_INET;
    rt->rtm_type = type;
    rt->rtm_dst_len = dstLen;
    rt->rtm_table = table;
    if (gateway) {
      auto* attribute = RTM_RTA(rt);
      attribute->rta_type = RTA_GATEWAY;
      attribute->rta_len = RTA_LENGTH(4);
      const uint32_t address = htonl(0x0A000001);
      std::memcpy(RTA_DATA(attribute), &address, 4);
    }
    bytes_.insert(bytes_.end(), message.begin(), message.end());
    return *this;
  }
  RouteMessages& control(uint16_t type) {
    std::vector<uint8_t> message(NLMSG_SPACE(sizeof(nlmsgerr)));
    auto* header = reinterpret_cast<nlmsghdr*>(message.data());
    header->nlmsg_len = static_cast<uint32_t>(message.size());
    header->nlmsg_type = type;
    if (type == NLMSG_ERROR) static_cast<nlmsgerr*>(NLMSG_DATA(header))->error = -ENETUNREACH;
    bytes_.insert(bytes_.end(), message.begin(), message.end());
    return *this;
  }
  [[nodiscard]] const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

uint32_t flagsOf(const RouteMessages& messages, bool defaultOnly) {
  return FlagsForRoute(ParseRouteReply(messages.bytes(), defaultOnly));
}

TEST(RouteReply, LookupAnswers) {
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_UNICAST, 32, true), false), kFlagReachable);
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_UNICAST, 32, false), false),
            kFlagReachable | kFlagIsDirect);
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_LOCAL, 32, false, RT_TABLE_LOCAL), false),
            kFlagReachable | kFlagIsDirect);
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_UNREACHABLE, 32, false), false), 0u);
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_BLACKHOLE, 32, false), false), 0u);
  EXPECT_EQ(flagsOf(RouteMessages().control(NLMSG_ERROR), false), 0u);
}

TEST(RouteReply, DumpCountsOnlyDefaultRoutes) {
  EXPECT_EQ(flagsOf(RouteMessages()
                        .route(RTN_UNICAST, 24, false)
                        .route(RTN_LOCAL, 0, false, RT_TABLE_LOCAL)
                        .control(NLMSG_DONE),
                    true),
            0u);
  EXPECT_EQ(flagsOf(RouteMessages().route(RTN_UNICAST, 24, false).route(RTN_UNICAST, 0, true).control(NLMSG_DONE),
                    true),
            kFlagReachable);
  // Nothing after the end of the dump counts.
  EXPECT_EQ(flagsOf(RouteMessages().control(NLMSG_DONE).route(RTN_UNICAST, 0, true), true), 0u);
}

TEST(RouteReply, DamagedAnswersReadAsNotFound) {
  std::vector<uint8_t> bytes = RouteMessages().route(RTN_UNICAST, 0, true).bytes();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_FALSE(ParseRouteReply(std::span(bytes.data(), cut), true).found) << cut;
  }
  reinterpret_cast<nlmsghdr*>(bytes.data())->nlmsg_len = 0xFFFF;  // claims more than there is
  EXPECT_FALSE(ParseRouteReply(bytes, true).found);
}

TEST(Reachability, LoopbackIsReachableAndDirectOnThisMachine) {
  struct sockaddr_in loopback {};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto instance = VelaReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&loopback));
  ASSERT_NE(instance, nullptr);
  const auto flags = instance->currentFlags();
  ASSERT_TRUE(flags.has_value()) << "the routing table cannot be read here";
  EXPECT_EQ(*flags, kFlagReachable | kFlagIsDirect);
  EXPECT_EQ(instance->currentReachabilityStatus(), kReachable);
  EXPECT_FALSE(instance->connectionRequired());

  auto byName = VelaReachability::reachabilityWithHostName("localhost");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->currentReachabilityStatus(), kReachable);
}

TEST(Reachability, FactoriesRefuseWhatTheyCannotWatch) {
  EXPECT_EQ(VelaReachability::reachabilityWithHostName(""), nullptr);
  EXPECT_EQ(VelaReachability::reachabilityWithAddress(nullptr), nullptr);
  struct sockaddr unix {};
  unix.sa_family = AF_UNIX;
  EXPECT_EQ(VelaReachability::reachabilityWithAddress(&unix), nullptr);
  auto wifi = VelaReachability::reachabilityForLocalWiFi();
  ASSERT_NE(wifi, nullptr);
  EXPECT_TRUE(wifi->isLocalWiFi());
  EXPECT_FALSE(VelaReachability::reachabilityForInternetConnection()->isLocalWiFi());
}

TEST(Reachability, CachedStatusIsTheInternetInstancesStatus) {
  const NetworkStatus truth = VelaReachability::reachabilityForInternetConnection()->currentReachabilityStatus();
  EXPECT_EQ(VelaReachability::getCacheReachabilityStatus(true), truth);
  EXPECT_EQ(VelaReachability::getCacheReachabilityStatus(false), truth);
}

TEST(Reachability, CallbackUpdatesTheCacheAndNotifiesObservers) {
  struct sockaddr_in loopback {};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto instance = VelaReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&loopback));
  std::vector<std::string> seen;
  const int token = VelaReachability::addObserver([&](const char* name, VelaReachability& object) {
    if (&object == instance.get()) seen.emplace_back(name);
  });
  ReachabilityCallback(instance.get());
  VelaReachability::removeObserver(token);
  ReachabilityCallback(instance.get());
  EXPECT_EQ(seen, std::vector<std::string>{kNetworkReachabilityChangedNotification});
  EXPECT_EQ(VelaReachability::getCacheReachabilityStatus(false), kReachable);  // loopback's status
  (void)VelaReachability::getCacheReachabilityStatus(true);                      // back to the truth
}

std::vector<std::string> gReports;
void captureReport(const vela::jot::JotterInfo_t*, const char* log) { gReports.emplace_back(log); }

TEST(Reachability, CallbackRefusesAnythingButALiveInstance) {
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  const auto previous = vela::jot::jotter_SetAppender(&captureReport);
  int notAnInstance = 0;
  ReachabilityCallback(nullptr);
  ReachabilityCallback(&notAnInstance);
  vela::jot::jotter_SetAppender(previous);
  ASSERT_EQ(gReports.size(), 2u);
  EXPECT_NE(gReports[0].find("info was NULL in ReachabilityCallback"), std::string::npos);
  EXPECT_NE(gReports[1].find("info was wrong class in ReachabilityCallback"), std::string::npos);
}

TEST(Reachability, NotifierStartsAndStops) {
  // Where this process can join the route groups, the notifier must start.
  const int probe = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  struct sockaddr_nl groups {};
  groups.nl_family = AF_NETLINK;
  groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  const bool canWatch =
      probe >= 0 && ::bind(probe, reinterpret_cast<struct sockaddr*>(&groups), sizeof groups) == 0;
  if (probe >= 0) ::close(probe);
  if (!canWatch) GTEST_SKIP() << "no netlink route watch here";
  auto instance = VelaReachability::reachabilityForInternetConnection();
  ASSERT_TRUE(instance->VelastartNotifier());
  EXPECT_TRUE(instance->VelastartNotifier());  // already watching
  instance->VelastopNotifier();
  instance->VelastopNotifier();  // does nothing
  EXPECT_TRUE(ReachabilityMonitorStarted());
}

}  // namespace
