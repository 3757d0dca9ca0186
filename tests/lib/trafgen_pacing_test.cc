#include "trafgen_pacing.h"

#include <gtest/gtest.h>

namespace {

TEST(TrafgenPacingTest, PauseIsTheIntervalLessTheTurnsRunTime) {
  EXPECT_EQ(trafgenSleepMicros(20000, 0.0), 20000);
  EXPECT_EQ(trafgenSleepMicros(20000, 0.0123456), 7655);
  EXPECT_EQ(trafgenSleepMicros(20000, 0.02), 0);
  EXPECT_EQ(trafgenSleepMicros(20000, 0.025), -5000);
}

TEST(TrafgenPacingTest, CallbackEverySampleIntervalOrEveryTenPackets) {
  EXPECT_EQ(trafgenPacketsPerCallback(5000, 20), 250u);
  EXPECT_EQ(trafgenPacketsPerCallback(20, 30), 10u);
  EXPECT_EQ(trafgenPacketsPerCallback(1000, 0), 10u);
}

TEST(TrafgenPacingTest, DebtShortensTheNextPause) {
  // A pause asked for 15 ms that lasted 17 ms leaves 2 ms of debt...
  EXPECT_NEAR(trafgenNextDebt(0.017, 15000), 0.002, 1e-12);
  // ...which the next pause gives back.
  EXPECT_EQ(trafgenSleepMicrosWithDebt(20000, 0.005, 0.002), 13000);
  // A skipped pause (the turn took 25 ms) carries its excess over.
  EXPECT_NEAR(trafgenNextDebt(0.0, -5000), 0.005, 1e-12);
  // A pause that ended early leaves no debt.
  EXPECT_EQ(trafgenNextDebt(0.014, 15000), 0.0);
  EXPECT_EQ(trafgenSleepMicrosWithDebt(20000, 0.0, 0.0), trafgenSleepMicros(20000, 0.0));
}

}  // namespace
