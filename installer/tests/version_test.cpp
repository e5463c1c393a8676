#include "installer/version.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* a;
  const char* b;
  int expected;
};

class CompareVersionTest : public ::testing::TestWithParam<Case> {};

TEST_P(CompareVersionTest, OrdersDottedNumbers) {
  const auto& c = GetParam();
  EXPECT_EQ(quillo::compareVersion(c.a, c.b), c.expected) << c.a << " vs " << c.b;
  EXPECT_EQ(quillo::compareVersion(c.b, c.a), -c.expected) << "antisymmetric";
}

INSTANTIATE_TEST_SUITE_P(Table, CompareVersionTest,
                         ::testing::Values(Case{"1.2", "1.2.0", 0}, Case{"1.10", "1.9", 1},
                                           Case{"", "0.1", -1}, Case{"", "", 0},
                                           Case{"1.x.3", "1.3", 0}, Case{"1..2", "1.2", 0},
                                           Case{"2", "10", -1}, Case{"1.0.0.1", "1", 1},
                                           Case{"3.0", "2.99.99", 1}, Case{"a.b", "0", 0},
                                           Case{"1.+2", "1.2", 0}, Case{"1.2x.3", "1.3", 0}));

}  // namespace
