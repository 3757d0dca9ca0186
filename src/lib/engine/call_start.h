#ifndef TESK_CALL_START_H
#define TESK_CALL_START_H

// A two-way call against a STAMP reflector, run on the calling thread: one
// socket sends the paced requests and takes the answers between them, and
// each sampling tick is scored once the answers to its window have had
// time to come back.

#include <string>
#include <vector>

#include "call_session.h"
#include "environment.h"
#include "tesk_call.h"
#include "test_error.h"

struct CallConfig {
  std::string localAddress;  // of the remote address's family
  std::string remoteAddress;
  uint16_t localPort = 0;
  uint16_t remotePort = 862;
  uint32_t testDuration = 12000;  // ms
  // With settings.twamp, the TWAMP-Control port on the remote address that
  // sets the session up (its test packets then go where it says).
  uint16_t controlPort = 862;
  CallSettings settings;
};

struct CallSink {
  void (*deliver)(void* context, const TeskCallSample& sample) = nullptr;
  void* context = nullptr;
};

struct CallReport {
  uint32_t sent = 0;
  uint64_t answers = 0;
  TeskUnscoredAnswers unscored;
  std::string reflectorTimestamps;  // how the reflector says it stamps T2 and T3
};

// The call's configuration from the public one, with the codec's packet.
CallConfig callConfigOf(const TeskCallConfig& config, uint16_t sessionId, bool clockSynchronized);
std::vector<std::string> callParameterErrors(const CallConfig& config);

TestOutcome runCall(const CallConfig& config, CallSink sink, Environment& env, CallReport* report);

#endif  // TESK_CALL_START_H
