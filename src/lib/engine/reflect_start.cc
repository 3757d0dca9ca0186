#include "reflect_start.h"

#include <vector>

#include <algorithm>
#include <memory>

#include "event_loop.h"
#include "twamp_control_port.h"
#include "tesk_errors.h"
#include "tesk_log.h"

namespace {

constexpr uint32_t kHousekeepingMs = 1000;
// Datagrams taken and answered per turn. A request longer than a slot (a
// jumbo frame's) is read cut to it, and answered as long as it was read.
constexpr int kBatch = 64;
constexpr size_t kSlot = 9216;

// The reflector on the loop: every request answered in the batch it came
// in, the idle sessions forgotten once a second, and TWAMP's control
// connections served beside the test socket.
class ReflectLoop : public LoopCore {
 public:
  ReflectLoop(StampReflector& stampReflector, TwampControlPort* controlPort, Environment& environment,
              ReflectReport* reflectReport)
      : reflector(stampReflector),
        control(controlPort),
        env(environment),
        report(reflectReport),
        nextHousekeeping(environment.monotonicMicros() + int64_t{kHousekeepingMs} * 1000) {}

  LoopWake due(int64_t now, Outbox&) override {
    if (now >= nextHousekeeping) {
      reflector.forgetIdle(env.timeOfDay());
      if (control) report->control = control->server().counters();
      if (report->progress) report->progress(reflector.counters(), reflector.sessions());
      nextHousekeeping = now + int64_t{kHousekeepingMs} * 1000;
    }
    int64_t wake = nextHousekeeping;
    if (control) wake = std::min(wake, now + (int64_t{control->msUntilDue(now / 1e6)} + 1) * 1000);
    return LoopWake{wake, false, false};
  }

  void take(Datagram* batch, int count, int64_t, Outbox& out) override {
    answers.clear();
    for (int i = 0; i < count; ++i) {
      const Datagram& request = batch[i];
      Datagram& reply = out.add();
      if (control) {
        TwampTestSession* session =
            control->server().sessionFor(request.peer, env.monotonicMicros() / 1e6);
        if (session == nullptr) {
          reflector.refuseUnrequested(request.peer, request.arrival);
        } else {
          reply.length = reflector.answerTwamp(request.data, request.length, request.arrival,
                                               reply.data, &session->nextSequence, session->dscp,
                                               request.marks, &reply.marks.tos);
        }
      } else {
        reply.length = reflector.answer(request.data, request.length, request.peer,
                                        request.arrival, reply.data, request.marks,
                                        &reply.marks.tos);
      }
      reply.peer = request.peer;
      if (reply.length == 0) {
        out.drop();
      } else {
        answers.push_back(&reply);
      }
    }
    sayRefused(reflector.takeRefusals());
    // T3: one reading for the batch, as late as possible before it goes.
    const TimeOfDay sendTime = env.timeOfDay();
    for (Datagram* answer : answers) reflector.finish(answer->data, sendTime);
  }

  void watch(std::vector<pollfd>* fds) override {
    if (control) *fds = control->watched();
  }

  void serviceWatched(const std::vector<pollfd>& fds, int64_t now) override {
    control->watched() = fds;
    control->service(env, now / 1e6);
    sayRefused(control->server().takeRefusals());
  }

  bool sendFailed(const std::string& reason) override {
    TESK_LOG(7, "Reflector: cannot answer: " << reason);
    return true;
  }

 private:
  void sayRefused(const std::vector<std::string>& refusals) {
    for (const std::string& refusal : refusals) {
      TESK_LOG(7, "Reflector: refused " << refusal);
      if (report->refused) report->refused(refusal);
    }
  }

  StampReflector& reflector;
  TwampControlPort* control;
  Environment& env;
  ReflectReport* report;
  int64_t nextHousekeeping;
  std::vector<Datagram*> answers;  // the batch's, kept to spare an allocation each time
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
  reflector.setClockSynchronized(env.clockSynchronized());
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
  ReflectLoop loop(reflector, control.get(), env, report);
  LoopSettings loopSettings;
  loopSettings.batch = kBatch;
  loopSettings.slotBytes = kSlot;
  loopSettings.durationMs = config.durationMs;
  int code = 0;
  if (runLoop(env, loop, loopSettings) == LoopEnd::WaitFailed) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Reflector: error waiting for a datagram");
    code = SOCKET_ERROR;
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
