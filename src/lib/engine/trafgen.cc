#include "trafgen.h"

#include <cstring>

#include "environment.h"
#include "packet.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "trafgen_pacing.h"
#include "udp_socket.h"

namespace {

constexpr double kEndOfStreamMillis = 2000.0;

// Copies hold the longest address text of either family; a longer text is
// cut and then refused as unparsable.
void copyAddress(char (&target)[kAddressTextBuffer], const char* source) {
  std::strncpy(target, source != nullptr ? source : "", kAddressTextBuffer - 1);
  target[kAddressTextBuffer - 1] = '\0';
}

int trafgen(const SendConfig& config, SendSink sink, Environment& env) {
  char remoteAddress[kAddressTextBuffer];
  char localAddress[kAddressTextBuffer];
  copyAddress(remoteAddress, config.remoteAddress.c_str());
  copyAddress(localAddress, config.localAddress.c_str());
  // The filler is zeroed once here; only the 15 header bytes change per packet.
  uint8_t packet[kPacketBufferSize] = {0};

  SocketAddress destination;
  if (!makeSocketAddress(remoteAddress, config.remotePort, &destination)) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "Trafgen: Erroneous remote IP address " << remoteAddress);
    return SOCKET_ERROR;
  }

  if (env.openSocket(getOwnThreadId(), localAddress, config.localPort) != 0) {
    TESK_LOG_FAILURE(env.failure(), 7, "", "TrafGen: Error starting up client socket, using "
                    << "client address " << localAddress << ":" << config.localPort);
    return SOCKET_ERROR;
  }
  TESK_LOG(7, "TrafGen: UDP client socket communications started, "
                  << "client address " << localAddress << ":" << config.localPort);

  const uint32_t packetsPerCallback =
      trafgenPacketsPerCallback(config.sampleInterval, config.streamInterval);
  TimeOfDay reading = env.timeOfDay();
  const double start = reading.seconds();
  double last = start;
  TESK_LOG(7, "Starting traffic generator: " << reading.sec << ":" << reading.usec);

  const size_t payloadLength = config.packetSize - kIpUdpHeaderSize;
  const uint32_t intervalMicros = config.streamInterval * 1000u;
  const uint8_t codecFec = makeCodecFec(config.codec, config.fec);
  const uint8_t intervalCode = makeIntervalCode(config.streamInterval);
  uint32_t count = 0;
  bool eosMode = false;
  double dataMillis = config.testDuration;
  const bool carryDebt = platformCarriesPacingDebt();
  double debt = 0.0;

  for (;;) {
    if (eosMode) {
      encodePacketHeader(packet, count, 0, 0, codecFec, intervalCode);
    } else {
      encodePacketHeader(packet, count, static_cast<uint32_t>(reading.sec),
                         static_cast<uint32_t>(reading.usec), codecFec, intervalCode);
    }
    if (env.send(packet, payloadLength, destination) < 0) {
      // The log keeps its line; the note says why, and where to look.
      const std::string reason = env.lastSendError();
      TESK_LOG(7, "TrafGen: Error sending packet");
      env.failure().note(reason.empty() ? "TrafGen: Error sending packet"
                                        : "TrafGen: Error sending packet (" + reason +
                                              "): is la= an address of this host on the path "
                                              "to ra=, and is there a route to ra=?");
      env.closeSocket();
      return SOCKET_ERROR;
    }
    if (!eosMode) count++;

    // The period runs from the end of one pause to the end of the next, so
    // the time spent building and sending shortens the pause. An oversleep is
    // not made up later.
    const double afterSend = env.timeOfDay().seconds();
    const double runTime = afterSend - last;
    const int64_t sleepMicros =
        carryDebt ? trafgenSleepMicrosWithDebt(intervalMicros, runTime, debt)
                  : trafgenSleepMicros(intervalMicros, runTime);
    if (sleepMicros > 0) {
      env.nap(static_cast<unsigned int>(sleepMicros));
    } else {
      TESK_LOG(7, "trafgen: not going to sleep negative seconds");
    }
    reading = env.timeOfDay();
    last = reading.seconds();
    if (carryDebt) debt = trafgenNextDebt(last - afterSend, sleepMicros);

    // The count no longer moves once the end-of-stream packets go out, so
    // there is nothing new to report then.
    if (!eosMode && count % packetsPerCallback == 0) {
      sink.deliver(sink.context, count, config.testId);
      TESK_LOG(7, "TrafGen: Callback, run time = " << runTime << ", slept = " << (last - afterSend)
                                                   << ", sleep time = " << sleepMicros);
    }

    const double elapsedMillis = (last - start) * 1000.0;
    // A stop request ends the data phase now; the end-of-stream phase still
    // runs its full length so that the receiver ends cleanly.
    if (!eosMode && env.stopRequested()) dataMillis = elapsedMillis - 1.0;
    if (elapsedMillis > dataMillis) {
      if (elapsedMillis > dataMillis + kEndOfStreamMillis) break;
      eosMode = true;
    }
  }

  TESK_LOG(7, "TrafGen: Traffic generator thread ending, sent packets " << count);
  env.closeSocket();
  return 0;
}

}  // namespace

int runGenerator(const SendConfig& config, SendSink sink, Environment& env) {
  TESK_LOG(7, "Invoking the traffic generator thread");
  const int result = trafgen(config, sink, env);
  TESK_LOG(7, "Tesk trafgen Error code: " << result);
  return result;
}

TestOutcome startGenerator(const SendConfig& config, SendSink sink) {
  SystemEnvironment env;
  const int code = runGenerator(config, sink, env);
  return outcomeOf(code, env.failure());
}
