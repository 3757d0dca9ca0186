// Linux and macOS: gettimeofday, pthread_self and the two ways of napping.
#include <errno.h>
#include <pthread.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/time.h>
#include <time.h>

#include "precise_nap.h"
#include "sleep_math.h"
#include "sleep_utils.h"

TimeOfDay platformTimeOfDay() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  TimeOfDay t;
  t.sec = tv.tv_sec;
  t.usec = tv.tv_usec;
  return t;
}

#if defined(__APPLE__)
// macOS sleeps in 100 µs steps until strictly more than the requested time
// has passed, measured with the time of day.
void platformNap(unsigned int microseconds) {
  napByPolling(
      microseconds,
      [](void*) {
        TimeOfDay t = platformTimeOfDay();
        return t.sec * 1000000 + t.usec;
      },
      [](void*) {
        const timespec step = {0, 100000};
        nanosleep(&step, nullptr);
      },
      nullptr);
}
#else
// Linux lets a sleeping thread wake up to 50 µs late by default (the timer
// slack) so that wake-ups can be batched; a slack of 1 ns removes that part.
// The rest of the lateness (idle states, a virtual machine's host) is taken
// care of by the precise nap, which sleeps short and spins the remainder.
namespace {

int64_t monotonicNanos(void*) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleepUntilNanos(void*, int64_t deadline) {
  timespec t;
  t.tv_sec = static_cast<time_t>(deadline / 1000000000);
  t.tv_nsec = static_cast<long>(deadline % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

}  // namespace

void platformNap(unsigned int microseconds) {
  static thread_local bool slackSet = false;
  static thread_local PreciseNapState state;
  if (!slackSet) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    slackSet = true;
  }
  const PreciseNapClock clock = {monotonicNanos, sleepUntilNanos, nullptr};
  preciseNap(microseconds, state, clock);
}
#endif

unsigned long getOwnThreadId() { return (unsigned long)pthread_self(); }

void localTimeNow(std::tm* t) {
  time_t now = time(nullptr);
  localtime_r(&now, t);
}
