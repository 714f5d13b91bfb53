// The tolerance comparison of doubles.
#include <gtest/gtest.h>

#include "memory.h"

TEST(NearlyEqual, DifferenceStrictlyBelowOneMillionth) {
  EXPECT_TRUE(nearlyEqual(1.0, 1.0000005));
  EXPECT_TRUE(nearlyEqual(1.0000005, 1.0));
  EXPECT_FALSE(nearlyEqual(1.0, 1.000002));
  EXPECT_FALSE(nearlyEqual(-1.000002, -1.0));
  EXPECT_TRUE(nearlyEqual(0.0, -0.0));
  EXPECT_FALSE(nearlyEqual(0.0, 1e-6));  // exactly 1e-6 apart is not near
  EXPECT_TRUE(nearlyEqual(0.0, 0.99e-6));
}
