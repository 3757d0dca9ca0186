#ifndef PULVO_RELAY_OPTIONS_H
#define PULVO_RELAY_OPTIONS_H

#include <string>

#include "impairment.h"

struct RelayOptions {
  std::string listenAddress = "127.0.0.1";
  int listenPort = 0;
  std::string forwardAddress = "127.0.0.1";
  int forwardPort = 0;
  ImpairmentSettings impairment;
  // Two-way: the replies from the forward side are impaired too, by their
  // own settings (the --back-* options), and recorded apart.
  bool twoWay = false;
  ImpairmentSettings back;
  std::string backRecordPath;
  std::string recordPath;  // empty: no ground-truth record
  bool recordJson = false;  // JSON lines instead of CSV
  double durationSeconds = 0;  // 0: until interrupted
  double idleExitSeconds = 0;  // 0: never; else after this long without a datagram
  enum class Show { Nothing, Usage, Version };
  Show show = Show::Nothing;   // --help or --version: print it and relay nothing
};

// Reads the command line. False with a message in `error` when an argument
// is unknown, lacks its value or has a value out of range.
bool ParseRelayOptions(int argc, const char* const* argv, RelayOptions& options, std::string& error);

extern const char* const kRelayUsage;

#endif  // PULVO_RELAY_OPTIONS_H
