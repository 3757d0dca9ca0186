#include "emodel.h"

#include <gtest/gtest.h>

namespace {

// Values worked out by hand from G.107's formulas.
TEST(EmodelTest, HandWorkedValues) {
  EXPECT_DOUBLE_EQ(emodelIeEff(0.0, 1.0, 25.1), 0.0);
  EXPECT_NEAR(emodelMos(93.2), 4.4093, 5e-5);  // the default R of G.711
  // 1 % random loss with concealment: 95 * 1 / (1 / 0.99 + 25.1) = 3.63844
  EXPECT_NEAR(emodelIeEff(1.0, 1.0, 25.1), 3.63844, 5e-5);
  // 5 % in bursts of 4 without: BurstR = 0.95 * 4 = 3.8; 95 * 5 / (5 / 3.8 + 4.3) = 84.583
  EXPECT_NEAR(emodelIeEff(5.0, 4.0, 4.3), 84.583, 5e-3);
  EXPECT_DOUBLE_EQ(emodelMos(-5.0), 1.0);
  EXPECT_DOUBLE_EQ(emodelMos(100.0), 4.5);
  EXPECT_NEAR(emodelMos(50.0), 1.0 + 1.75 + 7e-6 * 50 * -10 * 50, 1e-12);
}

}  // namespace
