#include "sleep_utils.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<const TeskClockHooks*> clockHooks{nullptr};
}

void setClockHooksForTesting(const TeskClockHooks* hooks) { clockHooks.store(hooks); }

TimeOfDay timeOfDay() {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  return hooks != nullptr ? hooks->now(hooks->context) : platformTimeOfDay();
}

int64_t monotonicMicros() {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  if (hooks != nullptr && hooks->monotonic != nullptr) return hooks->monotonic(hooks->context);
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WakeableSleep::sleepFor(unsigned int microseconds) {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  if (hooks != nullptr) {
    hooks->sleep(hooks->context, microseconds);
    return;
  }
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
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  if (hooks != nullptr) {
    hooks->sleep(hooks->context, microseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
  }
}

void nap(unsigned int microseconds) {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  if (hooks != nullptr) {
    hooks->sleep(hooks->context, microseconds);
  } else {
    platformNap(microseconds);
  }
}
