#include "interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "tesk.h"

namespace {

std::atomic<int> interruptSignal{0};

extern "C" void onInterrupt(int signal) {
  int expected = 0;
  if (!interruptSignal.compare_exchange_strong(expected, signal)) {
    std::_Exit(InterruptExitCode(signal));
  }
  // Some systems reset the handler when it runs; the second signal must
  // still find it.
  std::signal(signal, onInterrupt);
  TeskControl::StopRunningTests();
}

}  // namespace

namespace {
std::atomic<bool> reloadRequested{false};
extern "C" void onReload(int signal) {
  reloadRequested.store(true);
  std::signal(signal, onReload);
}
}  // namespace

void InstallReloadHandler() {
#ifdef SIGHUP
  std::signal(SIGHUP, onReload);
#endif
}

bool TakeReloadRequest() { return reloadRequested.exchange(false); }

void InstallInterruptHandlers() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

int InterruptSignal() { return interruptSignal.load(); }
