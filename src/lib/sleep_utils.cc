#include "sleep_utils.h"

#include <atomic>

namespace {
std::atomic<const TeskClockHooks*> clockHooks{nullptr};
}

void setClockHooksForTesting(const TeskClockHooks* hooks) { clockHooks.store(hooks); }

TimeOfDay timeOfDay() {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  return hooks != nullptr ? hooks->now(hooks->context) : platformTimeOfDay();
}

void nap(unsigned int microseconds) {
  const TeskClockHooks* hooks = clockHooks.load(std::memory_order_acquire);
  if (hooks != nullptr) {
    hooks->sleep(hooks->context, microseconds);
  } else {
    platformNap(microseconds);
  }
}
