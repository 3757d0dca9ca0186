#ifndef TESK_REFLECT_START_H
#define TESK_REFLECT_START_H

// The STAMP reflector's test: one socket ("::" takes IPv4 callers too), every
// datagram answered by the reflector on the thread that runs it, until the
// duration ends or the process asks its tests to stop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "environment.h"
#include "stamp_reflector.h"
#include "twamp_control.h"
#include "test_error.h"

struct ReflectConfig {
  std::string localAddress = "::";
  uint16_t localPort = 862;
  ReflectorLimits limits;
  uint32_t durationMs = 0;  // 0: until stopped
  StampKey key;             // not empty: authenticated mode
  // TWAMP (RFC 5357): control connections served on this TCP port, and
  // test packets answered only for the sessions they set up; 0: STAMP and
  // TWAMP Light, every request answered within the limits.
  uint16_t controlPort = 0;
  TwampControlLimits control;
};

struct ReflectReport {
  ReflectorCounters counters;
  size_t sessions = 0;  // at the end
  bool started = false;  // its socket was opened
  bool twamp = false;    // it served TWAMP control
  TwampControlCounters control;
  // Called with the counts so far once a second on the reflector's thread
  // (for a metrics endpoint); may be empty.
  std::function<void(const ReflectorCounters&, size_t sessions)> progress;
  // Called with what was refused, in words, once for a source and reason
  // (ten a second at the most); may be empty.
  std::function<void(const std::string&)> refused;
};

// Errors in the configuration, in rule order (empty when it is usable).
std::vector<std::string> reflectorParameterErrors(const ReflectConfig& config);

TestOutcome runReflector(const ReflectConfig& config, Environment& env, ReflectReport* report);
TestOutcome runReflector(const ReflectConfig& config, ReflectReport* report);

#endif  // TESK_REFLECT_START_H
