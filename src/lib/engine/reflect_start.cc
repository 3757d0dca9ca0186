#include "reflect_start.h"

#include <vector>

#include "clock_sync.h"
#include "tesk_errors.h"
#include "tesk_log.h"

namespace {

constexpr uint32_t kHousekeepingMs = 1000;
constexpr size_t kLargestDatagram = 65535;

}  // namespace

std::vector<std::string> reflectorParameterErrors(const ReflectConfig& c) {
  const std::string prefix = "Error in reflector parameter: ";
  std::vector<std::string> errors;
  if (c.localPort == 0) errors.push_back(prefix + "port = 0");
  if (c.limits.maxSessions == 0) errors.push_back(prefix + "no session allowed");
  if (c.limits.idleSeconds == 0) errors.push_back(prefix + "null idle time");
  return errors;
}

TestOutcome runReflector(const ReflectConfig& config, Environment& env, ReflectReport* report) {
  std::vector<std::string> errors = reflectorParameterErrors(config);
  if (!TESK_PARAMETERS_ACCEPTED(errors, env.failure())) {
    return outcomeOf(PARAMETER_ERROR, env.failure());
  }
  const int opened = env.openDualStackSocket(0, config.localAddress.c_str(), config.localPort);
  if (opened != 0) return outcomeOf(opened, env.failure());
  TESK_LOG(7, "Reflector: answering on " << config.localAddress << ":" << config.localPort);

  StampReflector reflector(config.limits);
  reflector.setClockSynchronized(systemClockSynchronized());
  reflector.setKey(config.key);
  std::vector<uint8_t> in(kLargestDatagram), out(kLargestDatagram);
  const int64_t start = env.monotonicMicros();
  int64_t nextHousekeeping = start + int64_t{kHousekeepingMs} * 1000;
  int code = 0;
  for (;;) {
    const int64_t now = env.monotonicMicros();
    if (config.durationMs != 0 && now - start >= int64_t{config.durationMs} * 1000) break;
    if (now >= nextHousekeeping) {
      reflector.forgetIdle(env.timeOfDay());
      nextHousekeeping = now + int64_t{kHousekeepingMs} * 1000;
    }
    uint32_t waitMs = static_cast<uint32_t>((nextHousekeeping - now) / 1000 + 1);
    if (config.durationMs != 0) {
      const int64_t left = int64_t{config.durationMs} * 1000 - (now - start);
      if (left / 1000 + 1 < waitMs) waitMs = static_cast<uint32_t>(left / 1000 + 1);
    }
    const Environment::Wait wait = env.waitForDatagram(waitMs);
    if (wait == Environment::Wait::StopRequested) break;
    if (wait == Environment::Wait::TimedOut) continue;
    if (wait == Environment::Wait::Failed) {
      TESK_LOG_FAILURE(env.failure(), 7, "", "Reflector: error waiting for a datagram");
      code = SOCKET_ERROR;
      break;
    }
    SocketAddress from;
    TimeOfDay arrival;
    const long length = env.receive(in.data(), in.size(), &from, &arrival);
    if (length < 0) continue;  // a datagram that could not be read is not answered
    const size_t answer =
        reflector.answer(in.data(), static_cast<size_t>(length), from, arrival, out.data());
    if (answer == 0) continue;
    reflector.finish(out.data(), env.timeOfDay());
    if (env.send(out.data(), answer, from) < 0) {
      TESK_LOG(7, "Reflector: cannot answer: " << env.lastSendError());
    }
  }
  env.closeSocket();
  report->counters = reflector.counters();
  report->sessions = reflector.sessions();
  return outcomeOf(code, env.failure());
}

TestOutcome runReflector(const ReflectConfig& config, ReflectReport* report) {
  SystemEnvironment env;
  return runReflector(config, env, report);
}
