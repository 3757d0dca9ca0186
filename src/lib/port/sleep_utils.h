#ifndef TESK_SLEEP_UTILS_H
#define TESK_SLEEP_UTILS_H

// Time and sleeping for the engine. The generator, the server and the QoS
// calculation read the clock and sleep only through these functions, so a
// test can replace both with a virtual clock (setClockHooksForTesting).
//
// Two clocks: the time of day, for everything that goes into packets and
// samples (send times cross hosts, and the receiver compares them with its
// own receive times), and a monotonic clock for waits and time-outs, so that
// a step of the time of day neither ends a wait early nor stretches it.

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "time_of_day.h"

TimeOfDay timeOfDay();

// Microseconds on a clock that only moves forward, from an arbitrary origin.
int64_t monotonicMicros();

// Sleeps at least about `microseconds`, ending as close to that as the
// platform allows (on Linux it spins the last microseconds): for pacing.
void nap(unsigned int microseconds);

// An ordinary sleep of about `microseconds`, which may end a little late:
// for polling waits that need milliseconds, not microseconds.
void sleepCoarse(unsigned int microseconds);

// An ordinary sleep (millisecond precision, no spinning) that another thread
// can end early: for waits that must answer a request rather than keep a
// rhythm. Under the test clock it is a nap of the whole time.
class WakeableSleep {
 public:
  // Sleeps up to `microseconds`; returns early once wake() has been called
  // (then at once, for good).
  void sleepFor(unsigned int microseconds);
  void wake();

 private:
  std::mutex mutex;
  std::condition_variable woken;
  bool awake = false;
};

// A label for the calling thread, used only in log lines.
unsigned long getOwnThreadId();

// The current local time, for the log's time stamps and file name.
void localTimeNow(std::tm* t);

// Test seam: while set, timeOfDay(), monotonicMicros() and nap() call these
// instead of the system; a null `monotonic` falls back to the system's. The
// hooks may be called from several threads at once.
struct TeskClockHooks {
  TimeOfDay (*now)(void* context);
  void (*sleep)(void* context, unsigned int microseconds);
  void* context;
  int64_t (*monotonic)(void* context);
};
void setClockHooksForTesting(const TeskClockHooks* hooks);  // nullptr restores the system clock

// The system's own clock and sleep, one implementation per platform.
TimeOfDay platformTimeOfDay();
void platformNap(unsigned int microseconds);

// Whether the generator makes up for late and skipped pauses (Windows, whose
// sleeps are coarse) or lets each period start after the previous pause
// (Linux, macOS).
bool platformCarriesPacingDebt();

#endif  // TESK_SLEEP_UTILS_H
