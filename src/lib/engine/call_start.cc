#include "call_start.h"

#include <algorithm>

#include "event_loop.h"
#include "paced_call.h"
#include "packet.h"
#include "stamp_packet.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "twamp_session_setup.h"

namespace {

constexpr size_t kLargestDatagram = 65535;

// The call on the loop: one paced call and its end. Requests go until the
// duration; the ticks up to it are scored; silence for the time-out ends it.
class CallLoop : public LoopCore {
 public:
  CallLoop(const CallConfig& config, const SocketAddress& reflectorAddress, CallSink callSink,
           Environment& environment)
      : timeout(int64_t{config.settings.window.timeout} * 1000),
        paced(config.settings, environment),
        reflector(reflectorAddress),
        sink(callSink),
        env(environment),
        sendEnd(paced.nextSend() + int64_t{config.testDuration} * 1000),
        lastTick(config.testDuration / config.settings.window.sampleInterval),
        lastHeard(paced.nextSend()) {}

  LoopWake due(int64_t now, Outbox& out) override {
    // The time-out counts from the last answer, or from the start.
    if (now - lastHeard > timeout) {
      code = TIMEOUT_ERROR;
      return LoopWake::finished();
    }
    if (sending && now >= paced.nextSend()) {
      paced.send(now, reflector, out.add());
      sending = paced.nextSend() < sendEnd;
    }
    while (now >= paced.nextScore() && code == 0) scoreTick();
    if (code != 0 || paced.ticksScored() > lastTick) return LoopWake::finished();
    if (sending && paced.nextSend() <= paced.nextScore()) {
      return LoopWake{paced.nextSend(), true, false};
    }
    return LoopWake{paced.nextScore(), false, false};
  }

  void take(Datagram* batch, int count, int64_t now, Outbox&) override {
    for (int i = 0; i < count; ++i) {
      const Datagram& answer = batch[i];
      if (!sameEndpoint(answer.peer, reflector)) continue;
      if (paced.session().takeAnswer(answer.data, answer.length, answer.arrival, answer.marks)) {
        lastHeard = now;
      }
    }
  }

  bool sendFailed(const std::string& reason) override {
    env.failure().note("Call: error sending to the reflector" +
                       (reason.empty() ? std::string() : " (" + reason + ")"));
    code = SOCKET_ERROR;
    return false;
  }

  const CallSession& call() const { return paced.session(); }
  int result() const { return code; }

 private:
  void scoreTick() {
    TeskCallSample sample;
    const CallSession::Tick t = paced.score(&sample);
    if (t == CallSession::Tick::Sample) sink.deliver(sink.context, sample);
    if (t == CallSession::Tick::GaveUp) code = TIMEOUT_ERROR;
  }

  const int64_t timeout;
  PacedCall paced;
  const SocketAddress reflector;
  CallSink sink;
  Environment& env;
  const int64_t sendEnd;
  const uint32_t lastTick;
  int64_t lastHeard;
  bool sending = true;
  int code = 0;
};

}  // namespace

CallConfig callConfigOf(const TeskCallConfig& c, uint16_t sessionId, bool clockSynchronized) {
  CallConfig config;
  config.localAddress = c.localAddress;
  config.remoteAddress = c.remoteAddress;
  config.localPort = c.localPort;
  config.remotePort = c.remotePort;
  config.testDuration = c.testDuration;
  CallSettings& s = config.settings;
  s.codec = c.codec;
  s.fec = c.fec;
  s.streamInterval = c.streamInterval;
  // The codec's packet, as the sender sends it, less the IP and UDP headers;
  // a STAMP packet is never shorter than its 44 bytes.
  s.packetLength = static_cast<uint16_t>((c.codec == 1 ? 48 : 188) - kIpUdpHeaderSize);
  s.sessionId = sessionId;
  s.clockSynchronized = clockSynchronized;
  s.window.windowSize = c.windowSize;
  s.window.sampleInterval = c.sampleInterval;
  s.window.dejitterLength = c.dejitterLength;
  s.window.timeout = c.timeout;
  s.window.testId = c.testId;
  s.tos = (c.dscp & 0x3F) << 2 | (c.ecn & 0x3);
  if (c.twamp) {
    s.twamp = true;
    s.sessionId = 0;  // MBZ in TWAMP's packets
    config.controlPort = c.controlPort;
  }
  return config;
}

std::vector<std::string> callParameterErrors(const CallConfig& c) {
  const std::string prefix = "Error in call parameter: ";
  std::vector<std::string> errors;
  SocketAddress remote;
  if (!makeSocketAddress(c.remoteAddress.c_str(), c.remotePort, &remote)) {
    errors.push_back(prefix + "remote_address " + c.remoteAddress + " is not a valid IP address");
  }
  if (!c.localAddress.empty() &&
      isIPv6Text(c.localAddress.c_str()) != isIPv6Text(c.remoteAddress.c_str())) {
    errors.push_back(prefix + "local_address " + c.localAddress + " and remote_address " +
                     c.remoteAddress + " are not of the same address family");
  }
  if (c.remotePort == 0) errors.push_back(prefix + "invalid port settings");
  if (c.settings.codec > 1) errors.push_back(prefix + "invalid codec setting");
  if (c.settings.fec > 3) errors.push_back(prefix + "invalid FEC setting");
  if (c.settings.tos > 255) errors.push_back(prefix + "invalid class setting");
  if (c.settings.twamp && !c.settings.key.empty()) {
    errors.push_back(prefix + "TWAMP sessions are set up in unauthenticated mode alone");
  }
  if (c.settings.twamp && c.controlPort == 0) errors.push_back(prefix + "invalid control port");
  if (c.settings.streamInterval == 0 || c.settings.streamInterval > 150) {
    errors.push_back(prefix + "invalid packetization interval settings");
  }
  c.settings.window.validate(prefix, &errors);
  if (c.testDuration < c.settings.window.sampleInterval) {
    errors.push_back(prefix + "invalid duration settings");
  }
  return errors;
}

namespace {

// Opens the call's socket, on the address and port asked or any: 0, or the
// failure's code.
int openCallSocket(const CallConfig& config, Environment& env) {
  const bool ipv6 = isIPv6Text(config.remoteAddress.c_str());
  const std::string local =
      config.localAddress.empty() ? (ipv6 ? "::" : "0.0.0.0") : config.localAddress;
  const int opened = config.localPort == 0
                         ? env.openSocketOnAnyPort(getOwnThreadId(), local.c_str())
                         : env.openSocket(getOwnThreadId(), local.c_str(), config.localPort);
  if (opened == 0) return 0;
  TESK_LOG_FAILURE(env.failure(), 7, "", "Call: cannot open the socket on " << local << ":"
                                             << config.localPort);
  return SOCKET_ERROR;
}

// Full TWAMP: the session set up over its control connection, and the
// reflector's address moved to the test port it gave: 0, or the failure's
// code.
int setUpTwamp(const CallConfig& config, Environment& env, SocketAddress* reflector,
               TwampSession* twamp) {
  const CallSettings& settings = config.settings;
  SocketAddress server = *reflector;
  makeSocketAddress(config.remoteAddress.c_str(), config.controlPort, &server);
  TwampSessionRequest request;
  request.ipVersion = reflector->family() == AF_INET6 ? 6 : 4;
  request.senderPort = env.localPort();
  request.receiverPort = config.remotePort;
  request.padding = static_cast<uint32_t>(
      std::max<size_t>(settings.packetLength, kStampBaseLength) - kTwampShortestRequest);
  request.dscp = dscpOfTos(settings.tos);
  const int set = startTwampSession(env, server, request, settings.window.timeout, twamp);
  if (set != 0) return set;
  if (twamp->testPort != 0) {
    makeSocketAddress(config.remoteAddress.c_str(), twamp->testPort, reflector);
  }
  TESK_LOG(7, "Call: TWAMP session set up; test packets to " << formatAddressAndPort(*reflector));
  return 0;
}

// The call's result once its loop ended with `code`: a reflector that never
// answered, or whose answers none could be scored, is said as such.
int callResult(int code, const CallSession& session, const CallSettings& settings,
               Environment& env) {
  const bool silent = session.answers() == 0 && session.sent() != 0 && !env.stopRequested();
  if ((code != 0 || !silent) && code != TIMEOUT_ERROR) return code;
  if (session.unscored().total() != 0 && session.answers() == 0) {
    TESK_LOG_FAILURE(env.failure(), 7, "",
                     "Call: answers came back but none could be scored: "
                         << describeUnscored(session.unscored(), !settings.key.empty()));
    return ANSWER_ERROR;
  }
  if (code == TIMEOUT_ERROR) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Call: no answer from the reflector before timeout");
  } else {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Call: no answer from the reflector");
  }
  return TIMEOUT_ERROR;
}

}  // namespace

TestOutcome runCall(const CallConfig& config, CallSink sink, Environment& env,
                    CallReport* report) {
  if (!TESK_PARAMETERS_ACCEPTED(callParameterErrors(config), env.failure())) {
    return outcomeOf(PARAMETER_ERROR, env.failure());
  }
  SocketAddress reflector;
  makeSocketAddress(config.remoteAddress.c_str(), config.remotePort, &reflector);
  const int opened = openCallSocket(config, env);
  if (opened != 0) return outcomeOf(opened, env.failure());
  // The requests go in the call's class with the TTL a session-sender
  // sends with; each answer's class and TTL are read as it arrives.
  env.setIpMarks(IpMarks{config.settings.tos, config.settings.ttl});
  env.reportIpMarks();
  TwampSession twamp;
  if (config.settings.twamp) {
    const int set = setUpTwamp(config, env, &reflector, &twamp);
    if (set != 0) {
      env.closeSocket();
      return outcomeOf(set, env.failure());
    }
  }
  CallLoop loop(config, reflector, sink, env);
  LoopSettings loopSettings;
  loopSettings.batch = 1;  // one request a turn, and answers of any length read whole
  loopSettings.slotBytes = kLargestDatagram;
  const LoopEnd end = runLoop(env, loop, loopSettings);
  int code = loop.result();
  if (end == LoopEnd::WaitFailed) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Call: error waiting for an answer");
    code = SOCKET_ERROR;
  }
  const CallSession& session = loop.call();
  stopTwampSession(env, &twamp);
  env.closeSocket();
  report->sent = session.sent();
  report->answers = session.answers();
  report->unscored = session.unscored();
  report->reflectorTimestamps = session.reflectorTimestamps();
  code = callResult(code, session, config.settings, env);
  return outcomeOf(code, env.failure());
}
