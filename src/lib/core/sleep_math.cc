#include "sleep_math.h"

#include <cmath>

namespace {
// Seconds between 1 January 1601 and 1 January 1970.
constexpr uint64_t kFileTimeEpochOffsetSeconds = 11644473600ULL;
}  // namespace

TimeOfDay timeOfDayFromFileTime(uint64_t fileTime) {
  const int64_t micros =
      static_cast<int64_t>(fileTime / 10) - static_cast<int64_t>(kFileTimeEpochOffsetSeconds * 1000000);
  TimeOfDay t;
  t.sec = micros / 1000000;
  t.usec = micros % 1000000;
  return t;
}

void timerSleepObserve(TimerSleepStats& s, double plannedSeconds, double observedSeconds) {
  s.count++;
  const double error = observedSeconds - plannedSeconds;
  const double delta = error - s.mean;
  s.mean += delta / s.count;
  s.sumSquares += delta * (error - s.mean);
}

double timerSleepNextWait(const TimerSleepStats& s, double remainingSeconds) {
  const double deviation = s.count > 1 ? std::sqrt(s.sumSquares / (s.count - 1)) : 0.0;
  return remainingSeconds - (s.mean + deviation);
}

void napByPolling(unsigned int microseconds, int64_t (*nowMicros)(void*),
                  void (*sleepStep)(void*), void* context) {
  const int64_t start = nowMicros(context);
  while (nowMicros(context) - start <= static_cast<int64_t>(microseconds)) sleepStep(context);
}
