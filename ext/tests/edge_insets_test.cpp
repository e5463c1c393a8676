#include "ext/edge_insets.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using ext::NSEdgeInsets;

TEST(EdgeInsets, ZeroIsAUniformZeroMadeOnce) {
  EXPECT_EQ(NSEdgeInsets::zero(), NSEdgeInsets::withInset(0));
  EXPECT_EQ(&NSEdgeInsets::zero(), &NSEdgeInsets::zero());
  EXPECT_EQ(NSEdgeInsets::zero().vertical(), 0);
  EXPECT_EQ(NSEdgeInsets::zero().horizontal(), 0);
}

TEST(EdgeInsets, HorizontalVerticalSplitsInHalves) {
  const NSEdgeInsets insets = NSEdgeInsets::withHorizontalVertical(10, 4);
  EXPECT_EQ(insets, (NSEdgeInsets{2, 5, 2, 5}));
  EXPECT_EQ(insets.horizontal(), 10);
  EXPECT_EQ(insets.vertical(), 4);
}

TEST(EdgeInsets, InsetByChangesOnlyItsSidesAndNotTheReceiver) {
  const NSEdgeInsets base{1, 2, 3, 4};
  EXPECT_EQ(base.insetByHorizontal(3), (NSEdgeInsets{1, 3.5, 3, 5.5}));
  EXPECT_EQ(base.insetByVertical(3), (NSEdgeInsets{2.5, 2, 4.5, 4}));
  EXPECT_EQ(base.insetByTop(-2), (NSEdgeInsets{-1, 2, 3, 4}));
  EXPECT_EQ(base.insetByLeft(1), (NSEdgeInsets{1, 3, 3, 4}));
  EXPECT_EQ(base.insetByBottom(1), (NSEdgeInsets{1, 2, 4, 4}));
  EXPECT_EQ(base.insetByRight(1), (NSEdgeInsets{1, 2, 3, 5}));
  EXPECT_EQ(base, (NSEdgeInsets{1, 2, 3, 4}));
}

TEST(EdgeInsets, AdditionIsFieldWise) {
  const NSEdgeInsets a{1, 2, 3, 4};
  EXPECT_EQ(a + NSEdgeInsets::zero(), a);
  NSEdgeInsets b = a;
  b += NSEdgeInsets{0.5, 0.5, 0.5, 0.5};
  EXPECT_EQ(b, a + NSEdgeInsets::withInset(0.5));
  EXPECT_EQ(b, (NSEdgeInsets{1.5, 2.5, 3.5, 4.5}));
}

TEST(EdgeInsets, EqualityComparesEveryFieldAndNaNNeverEquals) {
  EXPECT_NE((NSEdgeInsets{1, 2, 3, 4}), (NSEdgeInsets{1, 2, 3, 5}));
  const NSEdgeInsets withNaN{NAN, 0, 0, 0};
  EXPECT_NE(withNaN, withNaN);
}

}  // namespace
