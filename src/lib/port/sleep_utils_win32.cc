// Windows: the time of day from the system file time, thread ids from the
// runtime, and a precise sleep on a high-resolution waitable timer.
#include <windows.h>

#include <cmath>
#include <ctime>

#include "sleep_math.h"
#include "sleep_utils.h"
#include "tesk_log.h"

namespace {

double secondsNow() { return platformTimeOfDay().seconds(); }

// Waits on the timer for a little less than remains, learning how much each
// wait overshoots, then spins the last stretch.
void timerSleep(double seconds) {
  HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  if (timer == nullptr) {
    TESK_LOG(7, "timerSleep CreateWaitableTimer failed, error = " << GetLastError()
                                                                 << ", using plain Sleep instead");
    Sleep(static_cast<DWORD>(std::floor(seconds * 1000.0)));
    return;
  }
  TimerSleepStats stats;
  double planned = seconds - 0.008;
  while (planned > 0.0000001) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(planned * 10000000.0);
    const double start = secondsNow();
    SetWaitableTimerEx(timer, &due, 0, nullptr, nullptr, nullptr, 0);
    WaitForSingleObject(timer, INFINITE);
    const double observed = secondsNow() - start;
    seconds -= observed;
    timerSleepObserve(stats, planned, observed);
    planned = timerSleepNextWait(stats, seconds);
  }
  CloseHandle(timer);
  if (seconds > 5.0) {
    TESK_LOG(7, "timerSleep - secondsToSleep error value " << seconds);
    return;
  }
  const double spinStart = secondsNow();
  while (secondsNow() - spinStart < seconds) {
  }
}

}  // namespace

TimeOfDay platformTimeOfDay() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return timeOfDayFromFileTime((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

void platformNap(unsigned int microseconds) { timerSleep(microseconds / 1000000.0); }

unsigned long getOwnThreadId() { return GetCurrentThreadId(); }

void localTimeNow(std::tm* t) {
  std::time_t now = std::time(nullptr);
  localtime_s(t, &now);
}
