#ifndef TESK_TIME_OF_DAY_H
#define TESK_TIME_OF_DAY_H

// A time of day with microseconds, as the packets carry it and the samples
// report it.

#include <cstdint>

struct TimeOfDay {
  int64_t sec = 0;   // seconds since the Unix epoch
  int64_t usec = 0;  // 0 to 999999

  // Seconds as a double: the seconds taken as an unsigned 32-bit value plus
  // the microseconds / 1000000.
  double seconds() const {
    return static_cast<double>(static_cast<uint32_t>(sec)) + static_cast<double>(usec) / 1000000.0;
  }
};

// `t` moved by `micros` (either sign), the microseconds kept in range.
inline TimeOfDay plusMicros(const TimeOfDay& t, int64_t micros) {
  const int64_t total = t.usec + micros;
  int64_t sec = total / 1000000;
  int64_t usec = total % 1000000;
  if (usec < 0) {
    usec += 1000000;
    sec--;
  }
  return TimeOfDay{t.sec + sec, usec};
}

#endif  // TESK_TIME_OF_DAY_H
