#include "tesk_stamp.h"

#include "reflect_start.h"
#include "stamp_auth.h"
#include "test_error.h"

TeskReflector::TeskReflector(std::string address, unsigned short port)
    : localAddress(std::move(address)), localPort(port) {}

bool TeskReflector::allow(const std::string& prefix) {
  AddressPrefix parsed;
  if (!parseAddressPrefix(prefix, &parsed)) return false;
  allowed.push_back(prefix);
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

}  // namespace

TeskReflectorCounts TeskReflector::countsNow() const {
  std::lock_guard<std::mutex> lock(liveMutex);
  return live;
}

int TeskReflector::run() {
  ReflectConfig config;
  config.localAddress = localAddress;
  config.localPort = localPort;
  config.limits.maxSessions = maxSessions;
  config.limits.perSourceRate = perSourceRate;
  config.limits.idleSeconds = idleSeconds;
  for (const std::string& prefix : allowed) {
    parseAddressPrefix(prefix, &config.limits.allowed.emplace_back());
  }
  config.durationMs = duration;
  config.controlPort = controlPort;
  config.control.maxConnections = controlConnections;
  config.control.perSource = controlPerSource;
  config.control.maxSessions = maxSessions;
  config.control.servWait = servWaitSeconds;
  config.control.refWait = refWaitSeconds;
  config.control.allowed = config.limits.allowed;
  std::string error;
  if (!keyFile.empty() && !readStampKeyFile(keyFile, &config.key, &error)) {
    setLastTestError(error);
    return PARAMETER_ERROR;
  }
  ReflectReport report;
  // The control's counts are the report's, kept current on this thread.
  report.progress = [this, &report](const ReflectorCounters& c, size_t sessions) {
    std::lock_guard<std::mutex> lock(liveMutex);
    live = countsOf(c, sessions, controlPort != 0, report.control);
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
