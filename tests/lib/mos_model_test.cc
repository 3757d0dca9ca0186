#include "mos_model.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct WorkedValue {
  double codec, fec, lossRate, burstSize, intervalMs, mos;
};

double Mos(const WorkedValue& v) {
  return estimateMos(v.codec, v.fec != 0 ? 1.0 : 0.0, v.fec, v.lossRate, v.burstSize,
                     v.intervalMs / 80.0);
}

TEST(MosModelTest, ReproducesTheWorkedValues) {
  const WorkedValue values[] = {
      {0, 0, 0.0, 1.0, 20, 4.050403},  {0, 0, 0.0, 1.0, 30, 4.050809},
      {1, 0, 0.0, 1.0, 20, 3.598181},  {0, 0, 0.01, 1.0, 20, 3.166614},
      {0, 0, 0.05, 2.0, 20, 2.940139}, {0, 1, 0.05, 2.0, 20, 3.502312},
      {0, 0, 0.1, 1.5, 20, 2.147113},  {1, 3, 0.2, 3.0, 30, 2.728959},
      {0, 0, 1.0, 1.0, 20, 1.0},
  };
  for (const auto& v : values) {
    EXPECT_NEAR(Mos(v), v.mos, 5e-7) << "codec " << v.codec << " fec " << v.fec << " loss "
                                     << v.lossRate << " burst " << v.burstSize;
  }
}

TEST(MosModelTest, LossFreeWindowWithoutFecIsScoredAsFecModeOne) {
  EXPECT_DOUBLE_EQ(estimateMos(0, 0.0, 0, 0.0, 1.0, 0.25), estimateMos(0, 1.0, 1, 0.0, 1.0, 0.25));
  // With loss the FEC inputs stay as given.
  EXPECT_NE(estimateMos(0, 0.0, 0, 0.01, 1.0, 0.25), estimateMos(0, 1.0, 1, 0.01, 1.0, 0.25));
}

TEST(MosModelTest, ClampsInputsAndScore) {
  // FEC modes 3 and above enter as 1.0.
  EXPECT_DOUBLE_EQ(estimateMos(0, 1, 3, 0.1, 2.0, 0.25), estimateMos(0, 1, 9, 0.1, 2.0, 0.25));
  // Intervals of 6400 ms and more enter as 1.0.
  EXPECT_DOUBLE_EQ(estimateMos(0, 0, 0, 0.1, 2.0, 80.0), estimateMos(0, 0, 0, 0.1, 2.0, 500.0));
  // The burst size has no upper limit.
  EXPECT_NE(estimateMos(0, 0, 0, 0.1, 7.0, 0.25), estimateMos(0, 0, 0, 0.1, 70.0, 0.25));
  for (double loss : {0.0, 0.3, 1.0}) {
    for (double burst : {0.0, 1.0, 50.0, 1e9}) {
      double mos = estimateMos(1, 1, 2, loss, burst, 0.375);
      EXPECT_GE(mos, 1.0);
      EXPECT_LE(mos, 5.0);
    }
  }
}

TEST(MosModelTest, InputsThatAreNotNumbersGiveTheLowestScore) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(estimateMos(0, 0, 0, 0.1, inf, 0.25), 1.0);
  EXPECT_EQ(estimateMos(0, 0, 0, nan, 1.0, 0.25), 1.0);
}

}  // namespace
