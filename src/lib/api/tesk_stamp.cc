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
  std::string error;
  if (!keyFile.empty() && !readStampKeyFile(keyFile, &config.key, &error)) {
    setLastTestError(error);
    return PARAMETER_ERROR;
  }
  ReflectReport report;
  report.progress = [this](const ReflectorCounters& c, size_t sessions) {
    std::lock_guard<std::mutex> lock(liveMutex);
    live = TeskReflectorCounts{c.received,     c.reflected,        c.tooShort,
                               c.notAllowed,   c.overRate,         c.overSessions,
                               c.sessionsForgotten, sessions,      c.authFailed,
                               c.replayed};
  };
  report.refused = [this](const std::string& what) { onRefusal(what); };
  const TestOutcome outcome = runReflector(config, &report);
  wasStarted = report.started;
  setLastTestError(outcome.reason);
  const ReflectorCounters& c = report.counters;
  lastCounts = TeskReflectorCounts{c.received,     c.reflected,    c.tooShort,
                                   c.notAllowed,   c.overRate,     c.overSessions,
                                   c.sessionsForgotten, report.sessions, c.authFailed,
                                   c.replayed};
  std::lock_guard<std::mutex> lock(liveMutex);
  live = lastCounts;
  return outcome.code;
}
