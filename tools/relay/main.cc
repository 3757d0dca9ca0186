// pulvo-relay: a UDP relay that impairs pulvo test streams reproducibly and
// records what it did, for rehearsing a bad network where no netem is at
// hand.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "relay.h"
#include "relay_options.h"
#include "tesk_version.h"

namespace {
std::atomic<bool> stopping{false};
extern "C" void onSignal(int) { stopping = true; }
}  // namespace

int main(int argc, char** argv) {
  RelayOptions options;
  std::string error;
  if (!ParseRelayOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "pulvo-relay: %s\n%s", error.c_str(), kRelayUsage);
    return 2;
  }
  if (options.show != RelayOptions::Show::Nothing) {
    std::fputs(options.show == RelayOptions::Show::Usage ? kRelayUsage
                                                          : "pulvo-relay " TESK_VERSION "\n",
               stdout);
    return 0;
  }
  if (options.impairment.jitterMicros > options.impairment.delayMicros) {
    std::fprintf(stderr,
                 "pulvo-relay: warning: --jitter beyond --delay: draws below no delay are cut "
                 "to none (give --delay at least the jitter for jitter on both sides)\n");
  }
  Relay relay(options);
  if (!relay.Open(error)) {
    std::fprintf(stderr, "pulvo-relay: %s\n", error.c_str());
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  relay.Run(stopping);
  return 0;
}
