#include "reflect_start.h"

#include <vector>

#include <algorithm>
#include <memory>

#include "clock_sync.h"
#include "twamp_control_port.h"
#include "tesk_errors.h"
#include "tesk_log.h"

namespace {

constexpr uint32_t kHousekeepingMs = 1000;
// Datagrams taken and answered per call. A request longer than a slot (a
// jumbo frame's) is read cut to it, and answered as long as it was read.
constexpr int kBatch = 64;
constexpr size_t kSlot = 9216;

// Room for a batch of datagrams.
struct Batch {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kBatch * kSlot);
  Datagram slots[kBatch];
  Batch() {
    for (int i = 0; i < kBatch; ++i) {
      slots[i].data = bytes.data() + i * kSlot;
      slots[i].capacity = kSlot;
    }
  }
};

}  // namespace

std::vector<std::string> reflectorParameterErrors(const ReflectConfig& c) {
  const std::string prefix = "Error in reflector parameter: ";
  std::vector<std::string> errors;
  if (c.localPort == 0) errors.push_back(prefix + "port = 0");
  if (c.limits.maxSessions == 0) errors.push_back(prefix + "no session allowed");
  if (c.limits.idleSeconds == 0) errors.push_back(prefix + "null idle time");
  if (c.controlPort != 0 && !c.key.empty()) {
    errors.push_back(prefix + "TWAMP control is served in unauthenticated mode alone");
  }
  return errors;
}

TestOutcome runReflector(const ReflectConfig& config, Environment& env, ReflectReport* report) {
  std::vector<std::string> errors = reflectorParameterErrors(config);
  if (!TESK_PARAMETERS_ACCEPTED(errors, env.failure())) {
    return outcomeOf(PARAMETER_ERROR, env.failure());
  }
  const int opened = env.openDualStackSocket(0, config.localAddress.c_str(), config.localPort);
  if (opened != 0) return outcomeOf(opened, env.failure());
  report->started = true;
  TESK_LOG(7, "Reflector: answering on " << config.localAddress << ":" << config.localPort);
  // Thousands of sessions arrive in bursts: room for a few hundred ms of them.
  env.enlargeReceiveBuffer(8 << 20);
  // Each request's TTL and class go back in its answer, which leaves with
  // the TTL a session-reflector sends with, so that the sender can count
  // the hops back too.
  env.reportIpMarks();
  env.setIpMarks(IpMarks{-1, 255});

  StampReflector reflector(config.limits);
  reflector.setClockSynchronized(systemClockSynchronized());
  reflector.setKey(config.key);
  // TWAMP: test packets are answered only for sessions that a control
  // connection set up.
  std::unique_ptr<TwampControlPort> control;
  if (config.controlPort != 0) {
    control = std::make_unique<TwampControlPort>(config.control, config.localPort,
                                                 ntpFromTimeOfDay(env.timeOfDay()));
    SocketAddress local;
    makeSocketAddress(config.localAddress.c_str(), config.controlPort, &local);
    if (control->open(env, local) != 0) {
      env.closeSocket();
      return outcomeOf(SOCKET_ERROR, env.failure());
    }
    TESK_LOG(7, "Reflector: TWAMP control on " << formatAddressAndPort(local));
  }
  Batch in, out;
  const int64_t start = env.monotonicMicros();
  int64_t nextHousekeeping = start + int64_t{kHousekeepingMs} * 1000;
  int code = 0;
  for (;;) {
    const int64_t now = env.monotonicMicros();
    if (config.durationMs != 0 && now - start >= int64_t{config.durationMs} * 1000) break;
    if (now >= nextHousekeeping) {
      reflector.forgetIdle(env.timeOfDay());
      if (control) report->control = control->server().counters();
      if (report->progress) report->progress(reflector.counters(), reflector.sessions());
      nextHousekeeping = now + int64_t{kHousekeepingMs} * 1000;
    }
    uint32_t waitMs = static_cast<uint32_t>((nextHousekeeping - now) / 1000 + 1);
    if (config.durationMs != 0) {
      const int64_t left = int64_t{config.durationMs} * 1000 - (now - start);
      if (left / 1000 + 1 < waitMs) waitMs = static_cast<uint32_t>(left / 1000 + 1);
    }
    bool datagram = true;
    Environment::Wait wait;
    if (control) {
      waitMs = std::min(waitMs, control->msUntilDue(now / 1e6) + 1);
      std::vector<pollfd>& watched = control->watched();
      wait = env.waitForAny(watched.data(), watched.size(), waitMs, &datagram);
      if (wait == Environment::Wait::Readable || wait == Environment::Wait::TimedOut) {
        control->service(env, env.monotonicMicros() / 1e6);
        for (const std::string& refusal : control->server().takeRefusals()) {
          TESK_LOG(7, "Reflector: refused " << refusal);
          if (report->refused) report->refused(refusal);
        }
      }
    } else {
      wait = env.waitForDatagram(waitMs);
    }
    if (wait == Environment::Wait::StopRequested) break;
    if (wait == Environment::Wait::TimedOut || !datagram) continue;
    if (wait == Environment::Wait::Failed) {
      TESK_LOG_FAILURE(env.failure(), 7, "", "Reflector: error waiting for a datagram");
      code = SOCKET_ERROR;
      break;
    }
    const int received = env.receiveBatch(in.slots, kBatch);
    if (received <= 0) continue;  // a datagram that could not be read is not answered
    int answers = 0;
    for (int i = 0; i < received; ++i) {
      const Datagram& request = in.slots[i];
      Datagram& reply = out.slots[answers];
      if (control) {
        TwampTestSession* session =
            control->server().sessionFor(request.peer, env.monotonicMicros() / 1e6);
        if (session == nullptr) {
          reflector.refuseUnrequested(request.peer, request.arrival);
          continue;
        }
        reply.length = reflector.answerTwamp(request.data, request.length, request.arrival,
                                             reply.data, &session->nextSequence, session->dscp,
                                             request.marks, &reply.marks.tos);
      } else {
        reply.length = reflector.answer(request.data, request.length, request.peer,
                                        request.arrival, reply.data, request.marks,
                                        &reply.marks.tos);
      }
      if (reply.length == 0) continue;
      reply.peer = request.peer;
      answers++;
    }
    for (const std::string& refusal : reflector.takeRefusals()) {
      TESK_LOG(7, "Reflector: refused " << refusal);
      if (report->refused) report->refused(refusal);
    }
    if (answers == 0) continue;
    // T3: one reading for the batch, as late as possible before it goes.
    const TimeOfDay sendTime = env.timeOfDay();
    for (int i = 0; i < answers; ++i) reflector.finish(out.slots[i].data, sendTime);
    if (env.sendBatch(out.slots, answers) < answers) {
      TESK_LOG(7, "Reflector: cannot answer: " << env.lastSendError());
    }
  }
  if (control) {
    control->close(env);
    report->control = control->server().counters();
    report->twamp = true;
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
