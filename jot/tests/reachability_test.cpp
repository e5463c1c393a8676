#include "jot/reachability.h"

#include <gtest/gtest.h>

namespace {

using vela::comm::VelaReachability;
using namespace vela::comm;

TEST(Reachability, NetworkStatusForFlags) {
  EXPECT_EQ(VelaReachability::networkStatusForFlags(0), kNotReachable);
  EXPECT_EQ(VelaReachability::networkStatusForFlags(kFlagReachable), kReachable);
  EXPECT_EQ(VelaReachability::networkStatusForFlags(kFlagReachable | kFlagConnectionRequired),
            kNotReachable);
  EXPECT_EQ(VelaReachability::networkStatusForFlags(kFlagReachable | kFlagConnectionRequired |
                                                    kFlagConnectionOnDemand),
            kReachable);
  EXPECT_EQ(VelaReachability::networkStatusForFlags(kFlagReachable | kFlagConnectionRequired |
                                                    kFlagConnectionOnDemand |
                                                    kFlagInterventionRequired),
            kNotReachable);
  EXPECT_EQ(VelaReachability::networkStatusForFlags(kFlagConnectionOnTraffic), kNotReachable);
}

TEST(Reachability, LocalWiFiNeedsReachableAndDirect) {
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x20002), kReachable);
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x2), kNotReachable);
  EXPECT_EQ(VelaReachability::localWiFiStatusForFlags(0x20000), kNotReachable);
  EXPECT_TRUE(VelaReachability::connectionRequired(0x6));
  EXPECT_EQ(VelaReachability::getCacheReachabilityStatus(true), kNotReachable);
}

}  // namespace
