// The store tests' main: runs a helper child role when asked, else the tests.
#include <gtest/gtest.h>

#include "child_process.h"

int main(int argc, char** argv) {
  if (const int childStatus = cask::testing::runChildIfRequested(argc, argv); childStatus >= 0) {
    return childStatus;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
