#ifndef TESK_SLEEP_MATH_H
#define TESK_SLEEP_MATH_H

// The arithmetic behind the platform sleeps and clocks, kept portable so
// that it is compiled and tested on every platform, whichever one uses it.

#include <cstdint>

#include "time_of_day.h"

// Windows file time (100 ns units since 1 January 1601) as a time of day.
TimeOfDay timeOfDayFromFileTime(uint64_t fileTime);

// Running statistics of how much a timer wait overshoots what was asked
// (Welford's update), for the Windows precise sleep: it asks for a little
// less than remains, by the mean overshoot plus one standard deviation, and
// spins the rest.
struct TimerSleepStats {
  double mean = 0.005;  // seconds
  double sumSquares = 0.0;
  int64_t count = 1;
};
// Records one wait: planned and observed, in seconds.
void timerSleepObserve(TimerSleepStats& stats, double plannedSeconds, double observedSeconds);
// The next wait to plan when `remainingSeconds` are left to sleep.
double timerSleepNextWait(const TimerSleepStats& stats, double remainingSeconds);

// macOS nap: sleeps in steps until strictly more than `microseconds` have
// passed on `nowMicros`; returns at once if that much has passed already.
void napByPolling(unsigned int microseconds, int64_t (*nowMicros)(void*),
                  void (*sleepStep)(void*), void* context);

#endif  // TESK_SLEEP_MATH_H
