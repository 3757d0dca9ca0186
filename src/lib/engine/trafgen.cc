#include "trafgen.h"

#include <cstring>
#include <string>

#include "event_loop.h"
#include "packet.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {

constexpr int64_t kEndOfStreamMicros = 2000000;

// One packet per slot; data while the slot lies within the test duration,
// end-of-stream packets for two seconds more. A stop request ends the data
// at once, and the end-of-stream packets still go for their two seconds so
// that the receiver ends cleanly.
class GeneratorLoop : public LoopCore {
 public:
  GeneratorLoop(const TeskSendSettings& settings, SendSink out, const SocketAddress& to,
                Environment& environment)
      : config(settings),
        sink(out),
        destination(to),
        env(environment),
        packetsPerCallback(trafgenPacketsPerCallback(settings.sampleInterval, settings.streamInterval)),
        intervalMicros(int64_t{settings.streamInterval} * 1000),
        codecFec(makeCodecFec(settings.codec, settings.fec)),
        intervalCode(makeIntervalCode(settings.streamInterval)) {
    startReading = env.timeOfDay();
    nextSend = lastTurnEnd = env.monotonicMicros();
    dataEnd = nextSend + int64_t{settings.testDuration} * 1000;
    streamEnd = dataEnd + kEndOfStreamMicros;
    TESK_LOG(7, "Starting traffic generator: " << startReading.sec << ":" << startReading.usec);
  }

  LoopWake due(int64_t now, Outbox& out) override {
    if (now < nextSend) return LoopWake{nextSend, true};
    if (callbackDue) report(now);
    if (dataEnd > now && env.stopRequested()) {
      dataEnd = now;
      streamEnd = now + kEndOfStreamMicros;
    }
    const int64_t slot = nextSend;
    if (slot >= streamEnd) return LoopWake::finished();
    const bool data = slot < dataEnd;
    Datagram& d = out.add();
    const TimeOfDay stamp = count == 0 && data ? startReading : env.timeOfDay();
    encodePacketHeader(d.data, count, data ? static_cast<uint32_t>(stamp.sec) : 0,
                       data ? static_cast<uint32_t>(stamp.usec) : 0, codecFec, intervalCode);
    d.length = config.packetSize - kIpUdpHeaderSize;
    d.peer = destination;
    if (data && ++count % packetsPerCallback == 0) callbackDue = true;

    const int64_t turnEnd = env.monotonicMicros();
    nextSend = nextPacedSend(slot, now, intervalMicros);
    if (nextSend <= turnEnd) TESK_LOG(7, "trafgen: not going to sleep negative seconds");
    runTime = (turnEnd - now) / 1e6;
    askedMicros = nextSend - turnEnd;
    lastTurnEnd = turnEnd;
    return LoopWake{nextSend, true};
  }

  void take(Datagram*, int, int64_t, Outbox&) override {}

  bool sendFailed(const std::string& reason) override {
    // The log keeps its line; the note says why, and where to look.
    TESK_LOG(7, "TrafGen: Error sending packet");
    env.failure().note(reason.empty() ? "TrafGen: Error sending packet"
                                      : "TrafGen: Error sending packet (" + reason +
                                            "): is la= an address of this host on the path "
                                            "to ra=, and is there a route to ra=?");
    return false;
  }

  uint32_t sent() const { return count; }

 private:
  // The sample of the packet that completed it, after the pause that
  // followed it, with that turn's times.
  void report(int64_t now) {
    callbackDue = false;
    sink.deliver(sink.context, count, config.testId);
    TESK_LOG(7, "TrafGen: Callback, run time = " << runTime << ", slept = "
                                                 << (now - lastTurnEnd) / 1e6
                                                 << ", sleep time = " << askedMicros);
  }

  const TeskSendSettings config;
  const SendSink sink;
  const SocketAddress destination;
  Environment& env;
  const uint32_t packetsPerCallback;
  const int64_t intervalMicros;
  const uint8_t codecFec;
  const uint8_t intervalCode;
  TimeOfDay startReading;
  int64_t nextSend = 0;  // monotonic µs, as every time here
  int64_t dataEnd = 0;
  int64_t streamEnd = 0;
  uint32_t count = 0;
  bool callbackDue = false;
  double runTime = 0.0;  // s, of the last turn
  int64_t askedMicros = 0;
  int64_t lastTurnEnd = 0;
};

// Copies hold the longest address text of either family; a longer text is
// cut and then refused as unparsable.
std::string addressCopy(const std::string& text) { return text.substr(0, kAddressTextBuffer - 1); }

int trafgen(const TeskSendSettings& config, SendSink sink, Environment& env) {
  const std::string remoteAddress = addressCopy(config.remoteAddress);
  const std::string localAddress = addressCopy(config.localAddress);
  SocketAddress destination;
  if (!makeSocketAddress(remoteAddress.c_str(), config.remotePort, &destination)) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Trafgen: Erroneous remote IP address " << remoteAddress);
    return SOCKET_ERROR;
  }
  if (env.openSocket(getOwnThreadId(), localAddress.c_str(), config.localPort) != 0) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "TrafGen: Error starting up client socket, using "
                    << "client address " << localAddress << ":" << config.localPort);
    return SOCKET_ERROR;
  }
  TESK_LOG(7, "TrafGen: UDP client socket communications started, "
                  << "client address " << localAddress << ":" << config.localPort);

  GeneratorLoop generator(config, sink, destination, env);
  LoopSettings settings;
  settings.batch = 1;
  settings.slotBytes = kPacketBufferSize;
  settings.receives = false;
  if (runLoop(env, generator, settings) == LoopEnd::SendFailed) {
    env.closeSocket();
    return SOCKET_ERROR;
  }
  TESK_LOG(7, "TrafGen: Traffic generator thread ending, sent packets " << generator.sent());
  env.closeSocket();
  return 0;
}

}  // namespace

uint32_t trafgenPacketsPerCallback(uint16_t sampleIntervalMs, uint8_t streamIntervalMs) {
  const uint32_t quotient = streamIntervalMs != 0 ? sampleIntervalMs / streamIntervalMs : 0;
  return quotient != 0 ? quotient : 10;
}

int runGenerator(const TeskSendSettings& config, SendSink sink, Environment& env) {
  TESK_LOG(7, "Invoking the traffic generator thread");
  const int result = trafgen(config, sink, env);
  TESK_LOG(7, "Tesk trafgen Error code: " << result);
  return result;
}

TestOutcome startGenerator(const TeskSendSettings& config, SendSink sink) {
  SystemEnvironment env;
  const int code = runGenerator(config, sink, env);
  return outcomeOf(code, env.failure());
}
