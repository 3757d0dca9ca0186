#include "precise_nap.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Each reading moves the clock by 100 ns (the cost of reading it); each sleep
// wakes late by a fixed amount, a long sleep (over 1 ms) by more.
struct LateClock {
  int64_t now = 1000000000;
  int64_t readCost = 100;
  int64_t longLate = 150000;
  int64_t shortLate = 30000;
  std::vector<int64_t> sleeps;  // requested lengths
  int readingsSinceSleep = 0;

  PreciseNapClock clock() {
    return {[](void* c) {
              auto* self = static_cast<LateClock*>(c);
              self->readingsSinceSleep++;
              return self->now += self->readCost;
            },
            [](void* c, int64_t deadline) {
              auto* self = static_cast<LateClock*>(c);
              const int64_t length = deadline - self->now;
              self->sleeps.push_back(length);
              self->now = deadline + (length > 1000000 ? self->longLate : self->shortLate);
              self->readingsSinceSleep = 0;
            },
            this};
  }
};

TEST(PreciseNapTest, LearnsTheLatenessAndEndsOnTime) {
  LateClock c;
  PreciseNapState state;
  for (int turn = 0; turn < 80; ++turn) {
    const int64_t start = c.now;
    c.sleeps.clear();
    preciseNap(20000, state, c.clock());
    const int64_t end = c.now - start;
    EXPECT_GE(end, 20000000) << "turn " << turn;
    if (turn >= 60) {
      EXPECT_LE(end, 20000000 + 200) << "turn " << turn;   // two clock readings
      EXPECT_LE(c.sleeps.size(), 2u);
      EXPECT_LE(c.readingsSinceSleep, 3);                   // no spin to speak of
    }
  }
  EXPECT_NEAR(state.shortSleep.meanNanos, 30000, 500);
  EXPECT_LT(preciseNapFineMargin(state), 31000);
  EXPECT_GE(preciseNapFineMargin(state), 30000 - 500);
}

TEST(PreciseNapTest, ZeroReturnsAtOnceAndTinyNapsOnlySpin) {
  LateClock c;
  PreciseNapState state;
  const int64_t start = c.now;
  preciseNap(0, state, c.clock());
  EXPECT_EQ(c.now, start);
  EXPECT_TRUE(c.sleeps.empty());

  preciseNap(5, state, c.clock());  // well inside the fine margin
  EXPECT_TRUE(c.sleeps.empty());
  EXPECT_GE(c.now - start, 5000);
  EXPECT_LE(c.now - start, 5000 + 100);
}

TEST(PreciseNapTest, ASleepThatOvershootsTheDeadlineEndsTheNap) {
  LateClock c;
  c.longLate = 30000000;  // a 30 ms preemption
  PreciseNapState state;
  const int64_t start = c.now;
  preciseNap(20000, state, c.clock());
  EXPECT_EQ(c.sleeps.size(), 1u);           // no second sleep
  EXPECT_LE(c.readingsSinceSleep, 1);        // and no spin
  EXPECT_GT(c.now - start, 20000000);
  // One preemption moves the long margin by one step only.
  EXPECT_DOUBLE_EQ(preciseNapCoarseMargin(state), PreciseNapState().longSleep.nanos + 20e3);
}

TEST(PreciseNapTest, SpinIsBoundedWhereShortSleepsAreVeryLate) {
  LateClock c;
  c.shortLate = 1000000;  // every short sleep 1 ms late
  PreciseNapState state;
  for (int turn = 0; turn < 40; ++turn) preciseNap(20000, state, c.clock());
  EXPECT_LE(preciseNapFineMargin(state), 200000);
  // Spinning never lasts longer than the fine margin: 200 µs of 100 ns readings.
  const int64_t start = c.now;
  preciseNap(20000, state, c.clock());
  EXPECT_LE(c.readingsSinceSleep, 200000 / 100 + 2);
  EXPECT_GE(c.now - start, 20000000);
}

TEST(PreciseNapTest, LongMarginSettlesAtThe99thPercentile) {
  LatenessPercentile p{0};
  for (int round = 0; round < 2000; ++round) {
    for (int i = 0; i < 100; ++i) latenessPercentileObserve(p, i * 10000);  // 0 to 990 µs
  }
  EXPECT_GE(p.nanos, 960e3);
  EXPECT_LE(p.nanos, 1010e3);
  // Lateness beyond the learnt limit counts like any other above the estimate.
  LatenessPercentile q{100e3};
  latenessPercentileObserve(q, 50000000);
  EXPECT_DOUBLE_EQ(q.nanos, 120e3);
  for (int i = 0; i < 10000; ++i) latenessPercentileObserve(q, -1000);
  EXPECT_DOUBLE_EQ(q.nanos, 0.0);  // never below zero
}

TEST(PreciseNapTest, LatenessEstimateFollowsTheTcpEstimator) {
  WakeLateness w{0, 0};
  wakeLatenessObserve(w, 80000);
  EXPECT_DOUBLE_EQ(w.meanNanos, 10000);       // 1/8 of the way
  EXPECT_DOUBLE_EQ(w.deviationNanos, 20000);  // 1/4 of |80000 - 0|
  wakeLatenessObserve(w, -5000);              // early is learnt as on time
  EXPECT_DOUBLE_EQ(w.meanNanos, 8750);
  EXPECT_DOUBLE_EQ(w.deviationNanos, 17500);
}

}  // namespace
