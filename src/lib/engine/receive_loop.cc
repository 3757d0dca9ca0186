#include "receive_loop.h"

#include <algorithm>

#include "log_sink.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {

// Once the stream has ended, the rest of its end-of-stream packets are read
// and dropped until this much silence, or for this long at most.
constexpr int64_t kDrainQuietMicros = 1000000;
constexpr int64_t kDrainMicros = 3000000;

}  // namespace

ReceiveLoop::ReceiveLoop(const WindowSettings& settings, SampleSink out, ReceiveLabels names,
                         Environment& environment)
    : window(settings),
      sink(out),
      labels(std::move(names)),
      env(environment),
      meter(settings, labels.calculation, &fileLogSink()) {
  waitingSince = lastRead = env.monotonicMicros();
  TESK_LOG(7, labels.calculation << "Wait for packets (" << labels.localAddress << ":"
                                 << labels.localPort << ")");
}

LoopWake ReceiveLoop::due(int64_t now, Outbox&) {
  const int64_t timeoutMicros = int64_t{window.timeout} * 1000;
  if (phase == Phase::Measuring && now >= nextTick && now < lastRead + timeoutMicros) tick(now);
  switch (phase) {
    case Phase::Over:
      return LoopWake::finished();
    case Phase::Draining:
      if (now < lastRead + kDrainQuietMicros) return LoopWake{lastRead + kDrainQuietMicros};
      TESK_LOG(7, labels.server << "QoSCalc thread terminated\n");
      finish(0);
      return LoopWake::finished();
    case Phase::WaitingForFirst:
    case Phase::Measuring:
      break;
  }
  if (now >= lastRead + timeoutMicros) {
    readEnded(0);
    return LoopWake::finished();
  }
  if (phase == Phase::WaitingForFirst) {
    // Datagrams came, but none was a test packet.
    if (now < waitingSince + timeoutMicros) return LoopWake{waitingSince + timeoutMicros};
    TESK_LOG_FAILURE(env.failure(), 7, labels.calculation, "Timeout! Exiting!\n");
    TESK_LOG(7, labels.server << "Error in QosCalc thread");
    finish(TIMEOUT_ERROR);
    return LoopWake::finished();
  }
  return LoopWake{std::min(nextTick, lastRead + timeoutMicros)};
}

void ReceiveLoop::take(Datagram* batch, int count, int64_t now, Outbox&) {
  for (int i = 0; i < count && phase != Phase::Over; ++i) {
    const Datagram& d = batch[i];
    if (!clientFound) {
      TESK_LOG(7, labels.server << "Initial client found: " << formatAddressAndPort(d.peer));
      clientFound = true;
    }
    lastRead = now;
    if (phase == Phase::Draining) {
      if (now - drainStart >= kDrainMicros) finish(0);
      continue;
    }
    // A datagram shorter than the header carries no packet.
    Payload payload;
    if (!decodePacket(d.data, d.length, payload)) continue;
    meter.add(d.arrival.seconds(), payload);
    if (phase == Phase::WaitingForFirst) begin(now);
  }
}

// The first tick comes at once; the packet that started the measurement
// arrived before it and lies outside every window.
void ReceiveLoop::begin(int64_t now) {
  meter.begin(env.timeOfDay());
  TESK_LOG(7, labels.calculation << "Thread starting up");
  phase = Phase::Measuring;
  nextTick = now;
}

void ReceiveLoop::tick(int64_t now) {
  if (!tickHeld) {
    heldTickAt = now;
    heldTickTime = env.timeOfDay();
    // A packet held up on the path may still be on its way: the window is
    // taken when the de-jitter length has passed, as a player would take it.
    if (meter.sampling() && window.dejitterLength != 0) {
      tickHeld = true;
      nextTick = now + int64_t{window.dejitterLength} * 1000;
      return;
    }
  }
  tickHeld = false;
  TeskSample sample;
  switch (meter.tick(heldTickTime, &sample)) {
    case Meter::Tick::EndOfStream:
      TESK_LOG(7, labels.server << "Qos thread exited, reading EOS packets");
      phase = Phase::Draining;
      drainStart = lastRead = now;
      return;
    case Meter::Tick::GaveUp:
      TESK_LOG_FAILURE(env.failure(), 7, labels.calculation,
                       "No packets received before timeout! Exiting!\n");
      TESK_LOG(7, labels.server << "Error in QosCalc thread");
      return finish(TIMEOUT_ERROR);
    case Meter::Tick::Sample:
      sink.deliver(sink.context, sample);
      break;
    case Meter::Tick::WarmUp:
    case Meter::Tick::Dropped:
      break;
  }
  nextTick = heldTickAt + int64_t{window.sampleInterval} * 1000;
  if (nextTick <= now) {
    TESK_LOG(7, labels.calculation << "Not going to sleep negative number of msecs ("
                                   << nextTick - now << ")");
  }
}

bool ReceiveLoop::receiveFailed() {
  TESK_LOG_FAILURE(env.failure(), 7, labels.server, "Error receiving, wait QoSCalc to terminate..");
  logCalculationStopped();
  TESK_LOG(7, labels.server << "QoSCalc thread terminated");
  finish(SOCKET_ERROR);
  return false;
}

// No datagram within the time-out (result 0) or a wait that failed (-1):
// the designed lines give the poll's own value.
void ReceiveLoop::readEnded(int pollResult) {
  const std::string reason =
      "read timeout or error, waiting QosCalc to terminate. Return val " + std::to_string(pollResult);
  TESK_LOG(7, labels.server << reason);
  logCalculationStopped();
  env.failure().note(reason);
  TESK_LOG(7, labels.server << "QoSCalc thread terminated\n");
  finish(TIMEOUT_ERROR);
}

int ReceiveLoop::result(LoopEnd end) {
  if (phase == Phase::Over) return code;
  switch (end) {
    case LoopEnd::Stopped:
      TESK_LOG(7, labels.server << "Stop requested, waiting QosCalc to terminate");
      logCalculationStopped();
      return 0;
    case LoopEnd::WaitFailed:
      if (phase != Phase::Draining) {
        readEnded(-1);
        return code;
      }
      TESK_LOG(7, labels.server << "Failed to read EOS packet! Wait QoSCalc to terminate");
      TESK_LOG(7, labels.server << "QoSCalc thread terminated\n");
      return 0;
    default:
      return code;
  }
}

void ReceiveLoop::logCalculationStopped() const {
  if (phase == Phase::WaitingForFirst) {
    TESK_LOG(7, labels.calculation << "Error in server thread, terminating");
  } else if (phase == Phase::Measuring) {
    TESK_LOG(7, labels.calculation << "Error in server thread, exiting(2)");
  }
}

void ReceiveLoop::finish(int result) {
  code = result;
  phase = Phase::Over;
}
