#include "sleep_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(SleepMathTest, FileTimeToTimeOfDay) {
  // 1 January 1970 is 11644473600 s after 1 January 1601.
  TimeOfDay epoch = timeOfDayFromFileTime(116444736000000000ULL);
  EXPECT_EQ(epoch.sec, 0);
  EXPECT_EQ(epoch.usec, 0);
  // 1700000000.250000 s, with 100 ns units below the microsecond dropped.
  TimeOfDay t = timeOfDayFromFileTime(116444736000000000ULL + 17000000002500009ULL);
  EXPECT_EQ(t.sec, 1700000000);
  EXPECT_EQ(t.usec, 250000);
}

TEST(SleepMathTest, TimerStatisticsFollowTheOvershoot) {
  TimerSleepStats stats;
  EXPECT_DOUBLE_EQ(timerSleepNextWait(stats, 0.020), 0.015);  // starts from a 5 ms guess
  for (int i = 0; i < 1000; ++i) timerSleepObserve(stats, 0.010, 0.0105);
  EXPECT_NEAR(stats.mean, 0.0005, 1e-5);
  const double deviation = std::sqrt(stats.sumSquares / (stats.count - 1));
  EXPECT_LT(deviation, 0.0002);
  EXPECT_NEAR(timerSleepNextWait(stats, 0.020), 0.020 - stats.mean - deviation, 1e-12);
}

struct SteppedClock {
  int64_t now = 0;
  int64_t step = 100;
  int steps = 0;
};

TEST(SleepMathTest, PollingNapSleepsUntilStrictlyMoreHasPassed) {
  auto now = [](void* c) { return static_cast<SteppedClock*>(c)->now; };
  auto sleep = [](void* c) {
    auto* clock = static_cast<SteppedClock*>(c);
    clock->now += clock->step;
    clock->steps++;
  };
  SteppedClock clock;
  napByPolling(1000, now, sleep, &clock);
  EXPECT_EQ(clock.steps, 11);  // 1100 µs is the first reading above 1000
  SteppedClock zero;
  napByPolling(0, now, sleep, &zero);
  EXPECT_EQ(zero.steps, 1);  // no time at all had passed
}

}  // namespace
