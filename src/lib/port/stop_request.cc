#include "stop_request.h"

#include <atomic>

namespace {
// Lock-free, so a signal handler may set it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from signal handlers");
}  // namespace

void requestTestStop() {
  stopRequested.store(true);
  signalStopRequestWake();
}

bool testStopRequested() { return stopRequested.load(std::memory_order_relaxed); }
