#include "tesk_call.h"

#include <random>

#include "call_start.h"
#include "clock_sync.h"
#include "stamp_auth.h"
#include "tesk_errors.h"
#include "test_error.h"

namespace {

void deliver(void* context, const TeskCallSample& sample) {
  static_cast<TeskCaller*>(context)->onSample(sample);
}

uint16_t drawSessionId() {
  std::random_device source;
  return static_cast<uint16_t>(1 + source() % 65535);
}

}  // namespace

std::string teskUnscoredText(const TeskUnscoredAnswers& unscored, bool authenticated) {
  return describeUnscored(unscored, authenticated);
}

std::string TeskCaller::unscoredText() const {
  return teskUnscoredText(unscoredAnswers, !config.keyFile.empty());
}

int TeskCaller::run() {
  const uint16_t ssid = config.sessionId != 0 ? config.sessionId : drawSessionId();
  CallConfig call = callConfigOf(config, ssid, systemClockSynchronized());
  std::string error;
  if (!config.keyFile.empty() && !readStampKeyFile(config.keyFile, &call.settings.key, &error)) {
    setLastTestError(error);
    return PARAMETER_ERROR;
  }
  SystemEnvironment env;
  CallReport report;
  const TestOutcome outcome = runCall(call, CallSink{&deliver, this}, env, &report);
  sent = report.sent;
  answered = static_cast<unsigned int>(report.answers);
  unscoredAnswers = report.unscored;
  timestamps = report.reflectorTimestamps;
  setLastTestError(outcome.reason);
  return outcome.code;
}
