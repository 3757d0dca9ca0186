#include "call_start.h"

#include <algorithm>

#include "packet.h"
#include "recv_start.h"
#include "stamp_packet.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "twamp_session_setup.h"

namespace {

constexpr size_t kLargestDatagram = 65535;
// Below this, the wait for the next send is a precise nap, not a poll.
constexpr int64_t kNapMicros = 2000;

// What the loop waits for next, on the monotonic clock.
struct Schedule {
  int64_t nextSend = 0;   // while sending
  int64_t sendEnd = 0;
  int64_t nextScore = 0;  // when the next tick's windows are scored
  uint32_t tickIndex = 0, lastTick = 0;
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
  appendWindowErrors(prefix, c.settings.window, errors);
  if (c.testDuration < c.settings.window.sampleInterval) {
    errors.push_back(prefix + "invalid duration settings");
  }
  return errors;
}

TestOutcome runCall(const CallConfig& config, CallSink sink, Environment& env,
                    CallReport* report) {
  if (!TESK_PARAMETERS_ACCEPTED(callParameterErrors(config), env.failure())) {
    return outcomeOf(PARAMETER_ERROR, env.failure());
  }
  SocketAddress reflector;
  makeSocketAddress(config.remoteAddress.c_str(), config.remotePort, &reflector);
  const bool ipv6 = isIPv6Text(config.remoteAddress.c_str());
  const std::string local =
      config.localAddress.empty() ? (ipv6 ? "::" : "0.0.0.0") : config.localAddress;
  const int opened = config.localPort == 0 ? env.openSocketOnAnyPort(getOwnThreadId(), local.c_str())
                                           : env.openSocket(getOwnThreadId(), local.c_str(), config.localPort);
  if (opened != 0) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Call: cannot open the socket on " << local << ":"
                                               << config.localPort);
    return outcomeOf(SOCKET_ERROR, env.failure());
  }

  const CallSettings& settings = config.settings;
  // The requests go in the call's class with the TTL a session-sender
  // sends with; each answer's class and TTL are read as it arrives.
  env.setIpMarks(IpMarks{settings.tos, settings.ttl});
  env.reportIpMarks();
  TwampSession twamp;
  if (settings.twamp) {
    SocketAddress server = reflector;
    makeSocketAddress(config.remoteAddress.c_str(), config.controlPort, &server);
    TwampSessionRequest request;
    request.ipVersion = reflector.family() == AF_INET6 ? 6 : 4;
    request.senderPort = env.localPort();
    request.receiverPort = config.remotePort;
    request.padding = static_cast<uint32_t>(
        std::max<size_t>(settings.packetLength, kStampBaseLength) - kTwampShortestRequest);
    request.dscp = dscpOfTos(settings.tos);
    const int set = startTwampSession(env, server, request, settings.window.timeout, &twamp);
    if (set != 0) {
      env.closeSocket();
      return outcomeOf(set, env.failure());
    }
    if (twamp.testPort != 0) {
      makeSocketAddress(config.remoteAddress.c_str(), twamp.testPort, &reflector);
    }
    TESK_LOG(7, "Call: TWAMP session set up; test packets to " << formatAddressAndPort(reflector));
  }
  CallSession session(settings);
  std::vector<uint8_t> out(std::max<size_t>(settings.packetLength, kStampAuthLength));
  std::vector<uint8_t> in(kLargestDatagram);

  const TimeOfDay start = env.timeOfDay();
  const int64_t startMono = env.monotonicMicros();
  session.begin(start);
  Schedule s;
  s.nextSend = startMono;
  s.sendEnd = startMono + int64_t{config.testDuration} * 1000;
  const int64_t interval = int64_t{settings.streamInterval} * 1000;
  const int64_t tickStep = int64_t{settings.window.sampleInterval} * 1000;
  s.lastTick = config.testDuration / settings.window.sampleInterval;
  s.nextScore = callScoreTime(settings.window, startMono, 0);

  int code = 0;
  bool sending = true;
  // The time-out counts from the last answer, or from the start.
  int64_t lastHeard = startMono;
  const int64_t timeout = int64_t{settings.window.timeout} * 1000;
  while (s.tickIndex <= s.lastTick) {
    const int64_t now = env.monotonicMicros();
    if (now - lastHeard > timeout) {
      code = TIMEOUT_ERROR;
      break;
    }
    if (sending && now >= s.nextSend) {
      const size_t length = session.request(env.timeOfDay(), out.data());
      if (env.send(out.data(), length, reflector) < 0) {
        const std::string reason = env.lastSendError();
        env.failure().note("Call: error sending to the reflector" +
                           (reason.empty() ? std::string() : " (" + reason + ")"));
        code = SOCKET_ERROR;
        break;
      }
      // A late wake is not made up with a burst: the next packet goes one
      // interval after this one at the earliest.
      s.nextSend = std::max(s.nextSend + interval, now + interval / 2);
      if (s.nextSend >= s.sendEnd) sending = false;
      continue;
    }
    if (now >= s.nextScore) {
      // The tick's time of day: the start plus whole sampling intervals.
      const TimeOfDay tickTime = plusMicros(start, s.tickIndex * tickStep);
      session.settle(env.timeOfDay());
      TeskCallSample sample;
      const CallSession::Tick t = session.tick(tickTime, &sample);
      if (t == CallSession::Tick::Sample) sink.deliver(sink.context, sample);
      if (t == CallSession::Tick::GaveUp) {
        code = TIMEOUT_ERROR;
        break;
      }
      s.tickIndex++;
      s.nextScore = callScoreTime(settings.window, startMono, s.tickIndex);
      continue;
    }
    const int64_t wake = sending ? std::min(s.nextSend, s.nextScore) : s.nextScore;
    const int64_t left = wake - now;
    const bool toSend = sending && wake == s.nextSend;
    // The wait for answers counts whole milliseconds: the last of them
    // before a send is a precise nap (never a spin on a wait of 0 ms).
    if (toSend && left < kNapMicros + 1000) {
      env.nap(static_cast<unsigned int>(left));
      continue;
    }
    const int64_t pollMillis = toSend ? (left - kNapMicros) / 1000 : (left + 999) / 1000;
    const Environment::Wait w = env.waitForDatagram(static_cast<uint32_t>(pollMillis));
    if (w == Environment::Wait::StopRequested) break;
    if (w == Environment::Wait::Failed) {
      TESK_LOG_FAILURE(env.failure(), 7, "", "Call: error waiting for an answer");
      code = SOCKET_ERROR;
      break;
    }
    if (w != Environment::Wait::Readable) continue;
    Datagram answer;
    answer.data = in.data();
    answer.capacity = in.size();
    if (env.receiveBatch(&answer, 1) != 1 || !sameEndpoint(answer.peer, reflector)) continue;
    if (session.takeAnswer(answer.data, answer.length, answer.arrival, answer.marks)) {
      lastHeard = now;
    }
  }
  stopTwampSession(env, &twamp);
  env.closeSocket();
  report->sent = session.sent();
  report->answers = session.answers();
  report->unscored = session.unscored();
  report->reflectorTimestamps = session.reflectorTimestamps();
  const bool silent = session.answers() == 0 && session.sent() != 0 && !env.stopRequested();
  if ((code == 0 && silent) || code == TIMEOUT_ERROR) {
    const bool authenticated = !settings.key.empty();
    if (session.unscored().total() != 0 && session.answers() == 0) {
      TESK_LOG_FAILURE(env.failure(), 7, "",
                       "Call: answers came back but none could be scored: "
                           << describeUnscored(session.unscored(), authenticated));
      code = ANSWER_ERROR;
    } else if (code == TIMEOUT_ERROR) {
      TESK_LOG_FAILURE(env.failure(), 7, "", "Call: no answer from the reflector before timeout");
    } else {
      TESK_LOG_FAILURE(env.failure(), 7, "", "Call: no answer from the reflector");
      code = TIMEOUT_ERROR;
    }
  }
  return outcomeOf(code, env.failure());
}
