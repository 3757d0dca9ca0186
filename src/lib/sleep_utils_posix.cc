// Linux and macOS: gettimeofday, pthread_self and the two ways of napping.
#include <pthread.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

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
  auto nowUs = [] {
    TimeOfDay t = platformTimeOfDay();
    return t.sec * 1000000 + t.usec;
  };
  const int64_t start = nowUs();
  const timespec step = {0, 100000};
  while (nowUs() - start <= static_cast<int64_t>(microseconds)) nanosleep(&step, nullptr);
}
#else
void platformNap(unsigned int microseconds) { usleep(microseconds); }
#endif

unsigned long getOwnThreadId() { return (unsigned long)pthread_self(); }

void localTimeNow(std::tm* t) {
  time_t now = time(nullptr);
  localtime_r(&now, t);
}
