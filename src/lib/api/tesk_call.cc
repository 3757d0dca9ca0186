#include "tesk_call.h"

#include "call_start.h"
#include "stamp_auth.h"
#include "tesk_errors.h"
#include "test_error.h"

namespace {

void deliver(void* context, const TeskCallSample& sample) {
  static_cast<TeskCaller*>(context)->onSample(sample);
}

}  // namespace

std::string teskUnscoredText(const TeskUnscoredAnswers& unscored, bool authenticated) {
  return describeUnscored(unscored, authenticated);
}

std::string TeskCaller::unscoredText() const {
  return teskUnscoredText(unscoredAnswers, !config.keyFile.empty());
}

std::vector<std::string> TeskCallConfig::validate() const {
  CallConfig call = callConfigOf(*this, 0, false);
  // What the key holds does not matter here, only that one is given.
  if (!keyFile.empty()) call.settings.key.assign(1, 0);
  return callParameterErrors(call);
}

int TeskCaller::run() {
  SystemEnvironment env;
  const uint16_t ssid = config.sessionId != 0 ? config.sessionId
                                              : static_cast<uint16_t>(1 + env.random32() % 65535);
  CallConfig call = callConfigOf(config, ssid, env.clockSynchronized());
  std::string error;
  if (!config.keyFile.empty() && !readStampKeyFile(config.keyFile, &call.settings.key, &error)) {
    setLastTestError(error);
    return PARAMETER_ERROR;
  }
  CallReport report;
  const TestOutcome outcome = runCall(call, CallSink{&deliver, this}, env, &report);
  sent = report.sent;
  answered = static_cast<unsigned int>(report.answers);
  unscoredAnswers = report.unscored;
  timestamps = report.reflectorTimestamps;
  setLastTestError(outcome.reason);
  return outcome.code;
}
