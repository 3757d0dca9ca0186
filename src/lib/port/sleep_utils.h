#ifndef TESK_SLEEP_UTILS_H
#define TESK_SLEEP_UTILS_H

// The system's clocks and sleeps, and thread labels. The engine reaches
// them through its Environment (environment.h); the system's environment
// is built on these.

#include <cstdint>
#include <ctime>

#include "time_of_day.h"

// The time of day, one implementation per platform.
TimeOfDay platformTimeOfDay();

// Microseconds on a clock that only moves forward, from an arbitrary origin.
int64_t monotonicMicros();

// Sleeps at least about `microseconds`, ending as close to that as the
// platform allows (on Linux it spins the last microseconds): for pacing.
void platformNap(unsigned int microseconds);

// A label for the calling thread, used only in log lines.
unsigned long getOwnThreadId();

// The current local time, for the log's time stamps and file name.
void localTimeNow(std::tm* t);

#endif  // TESK_SLEEP_UTILS_H
