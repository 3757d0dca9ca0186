#include "emodel.h"

#include <gtest/gtest.h>

namespace {

// Worked by hand from G.107's equations: Ie,eff = 95 Ppl / (Ppl / BurstR +
// 25.1) for G.711 with concealment, R = 93.2 - Ie,eff, and MOS from R.
TEST(EModelTest, RatingOfLossMatchesWorkedPoints) {
  const struct {
    double lossPercent, burstR, ieEff, r, mos;
  } points[] = {
      {0.0, 1.0, 0.0, 93.2, 4.409286},          // no impairment
      {1.0, 1.0, 3.639847, 89.560153, 4.328075},  // random loss
      {2.0, 1.0, 7.011070, 86.188930, 4.234833},
      {5.0, 1.0, 15.780731, 77.419269, 3.922839},
      {2.0, 2.0, 7.279693, 85.920307, 4.226707},  // bursts
      {2.0, 4.0, 7.421875, 85.778125, 4.222366},
  };
  for (const auto& p : points) {
    SCOPED_TRACE(testing::Message() << p.lossPercent << " % at BurstR " << p.burstR);
    const double ieEff = emodelIeEff(kG711WithConcealment, p.lossPercent, p.burstR);
    EXPECT_NEAR(ieEff, p.ieEff, 5e-6);
    EXPECT_NEAR(emodelR(ieEff, 0.0), p.r, 5e-6);
    EXPECT_NEAR(emodelMos(emodelR(ieEff, 0.0)), p.mos, 5e-6);
  }
  // Without concealment 5 % in bursts of BurstR 3.8: 95 * 5 / (5 / 3.8 + 4.3)
  EXPECT_NEAR(emodelIeEff(kG711WithoutConcealment, 5.0, 3.8), 84.583, 5e-3);
  // GSM full rate starts from its Ie of 20.
  EXPECT_DOUBLE_EQ(emodelR(emodelIeEff(kGsmFullRate, 0.0, 1.0), 0.0), 73.2);
}

// G.107's table of R against MOS (which rounds 4.024 at R = 80 up to 4.03),
// and the ends of the scale.
TEST(EModelTest, MosFollowsTheRatingTable) {
  const struct {
    double r, mos;
  } table[] = {{90, 4.34}, {80, 4.03}, {70, 3.60}, {60, 3.10}, {50, 2.58}};
  for (const auto& row : table) EXPECT_NEAR(emodelMos(row.r), row.mos, 0.0075) << row.r;
  EXPECT_EQ(emodelMos(-5.0), 1.0);
  EXPECT_EQ(emodelMos(3.0), 1.0);  // the cubic's dip below the floor
  EXPECT_EQ(emodelMos(100.0), 4.5);
  for (double r = 0; r < 100; r += 0.5) EXPECT_LE(emodelMos(r), emodelMos(r + 0.5)) << r;
}

TEST(EModelTest, DelayCostsNothingUpTo100MillisecondsThenGrows) {
  EXPECT_EQ(emodelDelayImpairment(0.0), 0.0);
  EXPECT_EQ(emodelDelayImpairment(100.0), 0.0);
  EXPECT_NEAR(emodelDelayImpairment(200.0), 3.044414, 5e-6);
  EXPECT_NEAR(emodelDelayImpairment(400.0), 24.070089, 5e-6);
  // An unknown delay (negative) is charged nothing; a known one is.
  EXPECT_EQ(emodelScore(0, 0.0, 1.0, -1.0).r, 93.2);
  EXPECT_NEAR(emodelScore(0, 0.0, 1.0, 400.0).r, 93.2 - 24.070089, 5e-6);
}

// A window's loss rate and average burst size make its BurstR: isolated
// losses are random loss, and the same loss in one long burst rates lower.
TEST(EModelTest, WindowScoreReadsBurstinessFromTheWindow) {
  EXPECT_EQ(emodelBurstR(0.05, 1.0), 1.0);
  EXPECT_DOUBLE_EQ(emodelBurstR(0.05, 4.0), 3.8);
  const EModelScore random = emodelScore(0, 0.01, 1.0, -1.0);
  EXPECT_NEAR(random.r, 89.560153, 5e-6);
  // 15 lost in one burst of a 200-packet window against 1 % random loss.
  EXPECT_LT(emodelScore(0, 0.075, 15.0, -1.0).mos, random.mos - 0.5);
  EXPECT_LT(emodelScore(1, 0.01, 1.0, -1.0).r, random.r);  // GSM 06.10 below G.711
  EXPECT_GE(emodelScore(0, 1.0, 1.0, -1.0).mos, 1.0);
}

}  // namespace
