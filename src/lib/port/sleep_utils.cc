#include "sleep_utils.h"

#include <chrono>
#include <thread>

int64_t monotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WakeableSleep::sleepFor(unsigned int microseconds) {
  std::unique_lock<std::mutex> lock(mutex);
  woken.wait_for(lock, std::chrono::microseconds(microseconds), [this] { return awake; });
}

void WakeableSleep::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    awake = true;
  }
  woken.notify_all();
}

void sleepCoarse(unsigned int microseconds) {
  std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}
