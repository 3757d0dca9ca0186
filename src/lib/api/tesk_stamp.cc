#include "tesk_stamp.h"

#include "reflect_start.h"
#include "stamp_auth.h"
#include "test_error.h"

TeskReflector::TeskReflector(std::string address, unsigned short port) {
  settings.localAddress = std::move(address);
  settings.localPort = port;
}

bool TeskReflector::allow(const std::string& prefix) {
  AddressPrefix parsed;
  if (!parseAddressPrefix(prefix, &parsed)) return false;
  settings.allowed.push_back(prefix);
  return true;
}

namespace {

TeskReflectorCounts countsOf(const ReflectorCounters& c, size_t sessions, bool twamp,
                             const TwampControlCounters& t) {
  TeskReflectorCounts counts{c.received,          c.reflected, c.tooShort,   c.notAllowed,
                             c.overRate,          c.overSessions, c.sessionsForgotten, sessions,
                             c.authFailed,        c.replayed};
  counts.twamp = twamp;
  counts.notRequested = c.notRequested;
  counts.controlConnections = t.connections;
  counts.controlRefused =
      t.overConnections + t.overPerSource + t.notAllowed + t.modeRefused + t.badMessages;
  counts.servWaitClosed = t.servWaitClosed;
  counts.twampSessions = t.sessionsAccepted;
  counts.twampSessionsRefused = t.sessionsNotSupported + t.overSessions + t.senderInUse;
  counts.refWaitEnded = t.refWaitEnded;
  return counts;
}

// The engine's configuration, all but the key, which is read when the
// reflector runs; prefixes that do not parse are left out (validate names
// them).
ReflectConfig reflectConfigOf(const TeskReflectSettings& s) {
  ReflectConfig config;
  config.localAddress = s.localAddress;
  config.localPort = s.localPort;
  config.limits.maxSessions = s.maxSessions;
  config.limits.perSourceRate = s.perSourceRate;
  config.limits.idleSeconds = s.idleSeconds;
  for (const std::string& text : s.allowed) {
    AddressPrefix prefix;
    if (parseAddressPrefix(text, &prefix)) config.limits.allowed.push_back(prefix);
  }
  config.durationMs = s.durationMs;
  config.controlPort = s.twamp ? s.controlPort : 0;
  config.control.maxConnections = s.controlConnections;
  config.control.perSource = s.controlPerSource;
  config.control.maxSessions = s.maxSessions;
  config.control.servWait = s.servWaitSeconds;
  config.control.refWait = s.refWaitSeconds;
  config.control.allowed = config.limits.allowed;
  return config;
}

}  // namespace

TeskReflectorCounts TeskReflector::countsNow() const {
  std::lock_guard<std::mutex> lock(liveMutex);
  return live;
}

std::vector<std::string> TeskReflectSettings::validate() const {
  ReflectConfig config = reflectConfigOf(*this);
  // What the key holds does not matter here, only that one is given.
  if (!keyFile.empty()) config.key.assign(1, 0);
  std::vector<std::string> errors = reflectorParameterErrors(config);
  if (twamp && controlPort == 0) errors.push_back("Error in reflector parameter: invalid control port");
  for (const std::string& text : allowed) {
    AddressPrefix prefix;
    if (!parseAddressPrefix(text, &prefix)) {
      errors.push_back("Error in reflector parameter: allow " + text + " is not an address prefix");
    }
  }
  return errors;
}

int TeskReflector::run() {
  FailureNote refused;
  if (!TESK_PARAMETERS_ACCEPTED(settings.validate(), refused)) {
    setLastTestError(refused.text());
    return PARAMETER_ERROR;
  }
  ReflectConfig config = reflectConfigOf(settings);
  std::string error;
  if (!settings.keyFile.empty() && !readStampKeyFile(settings.keyFile, &config.key, &error)) {
    setLastTestError(error);
    return PARAMETER_ERROR;
  }
  ReflectReport report;
  // The control's counts are the report's, kept current on this thread.
  report.progress = [this, &report](const ReflectorCounters& c, size_t sessions) {
    std::lock_guard<std::mutex> lock(liveMutex);
    live = countsOf(c, sessions, settings.twamp, report.control);
  };
  report.refused = [this](const std::string& what) { onRefusal(what); };
  const TestOutcome outcome = runReflector(config, &report);
  wasStarted = report.started;
  setLastTestError(outcome.reason);
  lastCounts = countsOf(report.counters, report.sessions, report.twamp, report.control);
  std::lock_guard<std::mutex> lock(liveMutex);
  live = lastCounts;
  return outcome.code;
}
