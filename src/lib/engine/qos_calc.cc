#include "qos_calc.h"

#include <algorithm>
#include <sstream>

#include "mos_model.h"
#include "qos_window.h"
#include "sleep_utils.h"
#include "tesk_log.h"
#include "test_error.h"

namespace {

constexpr unsigned int kWaitStepMicros = 10000;

}  // namespace

QosTask::Elapsed QosTask::timeSince(const TimeOfDay& start, const TimeOfDay& now) {
  Elapsed e{now.sec - start.sec, now.usec - start.usec};
  while (e.usec < 0) {
    e.usec += 1000000;
    e.sec--;
  }
  while (e.usec >= 1000000) {
    e.usec -= 1000000;
    e.sec++;
  }
  return e;
}

QosTask::QosTask(const QosCalcParams& params) : p(params) {
  std::ostringstream prefix;
  prefix << "QoSCalc(" << getOwnThreadId() << ", " << p.serverThreadId << "): ";
  config.logPrefix = prefix.str();
  config.windowSize = p.windowSize;
  config.dejitterLength = p.dejitterLength;
}

TimeOfDay QosTask::now() const {
  return p.clock != nullptr ? p.clock->now(p.clock->context) : timeOfDay();
}

bool QosTask::begin() {
  if (p.serverRunning->load() == kServerStopping) {
    TESK_LOG(7, "QoSCalc(" << getOwnThreadId() << ", 0): Error in server thread");
    return finish();
  }
  TESK_LOG(7, config.logPrefix << "Wait for packets (" << p.localAddress << ":" << p.localPort
                               << ")");
  if (!waitForFirstPacket()) return finish();

  start = now();
  // A lock taken and let go at once: the designed start-up does it, and it
  // orders this start after any insertion the server is in the middle of.
  { std::lock_guard<std::mutex> lock(*p.mapMutex); }
  // The first tick starts at once; the packets already in the map arrived
  // before it and lie outside every window.
  firstTickStart = now();
  TESK_LOG(7, config.logPrefix << "Thread starting up");
  // No sample before a whole window has passed since the first tick, also
  // when the sampling interval does not divide the window.
  warmUpTicks = (p.windowSize + p.sampleInterval - 1u) / p.sampleInterval;
  return true;
}

bool QosTask::tick(int32_t* remainingMicros) {
  if (p.serverRunning->load() == kServerStopping) {
    TESK_LOG(7, config.logPrefix << "Error in server thread, exiting(2)");
    return finish();
  }
  const TimeOfDay tickTime = firstTick ? firstTickStart : now();
  firstTick = false;
  const double tickStart = tickTime.seconds();
  const Elapsed elapsed = timeSince(start, tickTime);
  if (elapsed.sec < 0) TESK_LOG(7, config.logPrefix << "timevalSubtract result is negative!");

  if (ticks < warmUpTicks) {
    ticks++;
  } else if (!sample(elapsed, tickStart - p.windowSize / 1000.0)) {
    return finish();
  }
  *remainingMicros =
      static_cast<int32_t>(p.sampleInterval * 1000.0 - (now().seconds() - tickStart) * 1e6);
  return true;
}

void QosTask::run() {
  if (!begin()) return;
  int32_t remaining = 0;
  while (tick(&remaining)) {
    if (remaining > 0) {
      sleepUntilNextTick(static_cast<uint32_t>(remaining));
    } else {
      TESK_LOG(7, config.logPrefix << "Not going to sleep negative number of msecs (" << remaining
                                   << ")");
    }
  }
}

// The tick needs milliseconds, not the sender's microseconds: an ordinary
// sleep, which the server wakes when it asks the task to stop.
void QosTask::sleepUntilNextTick(uint32_t micros) {
  if (p.tickSleep != nullptr) {
    p.tickSleep->sleepFor(micros);
  } else {
    sleepCoarse(micros);
  }
}

bool QosTask::waitForFirstPacket() {
  uint32_t naps = 0;
  for (;;) {
    size_t packets;
    {
      std::lock_guard<std::mutex> lock(*p.mapMutex);
      packets = p.payloadMap->size();
    }
    if (packets != 0) return true;
    if (p.serverRunning->load() == kServerStopping) {
      TESK_LOG(7, config.logPrefix << "Error in server thread, terminating");
      return false;
    }
    sleepCoarse(kWaitStepMicros);
    if (++naps > p.timeout / 10) {
      TESK_LOG_FAILURE(7, config.logPrefix, "Timeout! Exiting!\n");
      p.qosStatus->store(kQosGaveUp);
      return false;
    }
  }
}

// One sample over the window: the packets received at or after
// `windowStart`, the tick's start less the window size. False when the task
// must end.
bool QosTask::sample(const Elapsed& elapsed, double windowStart) {
  QosSampleCounts counts;
  {
    std::unique_lock<std::mutex> lock(*p.mapMutex);
    if (qosSamplePass(*p.payloadMap, windowStart, config, state, counts) ==
        QosPassResult::EndOfStream) {
      lock.unlock();
      TESK_LOG(7, config.logPrefix << "Received stream end control packet: End of measurement!\n");
      TESK_LOG(7, config.logPrefix << "tot_packets: " << state.totPackets);
      p.qosStatus->store(kQosEndOfStream);
      return false;
    }
    if (p.payloadMap->empty()) {
      const uint32_t allowedEmpty = p.timeout / p.sampleInterval;
      TESK_LOG(7, config.logPrefix << "Map empty (" << emptyCount << "/" << allowedEmpty << ")");
      if (++emptyCount > allowedEmpty) {
        lock.unlock();
        TESK_LOG_FAILURE(7, config.logPrefix, "No packets received before timeout! Exiting!\n");
        p.qosStatus->store(kQosGaveUp);
        return false;
      }
    }
  }

  uint32_t jitterMillis = 0;
  const bool jitterValid = qosAverageJitterMillis(counts.jitterSum, counts.received, &jitterMillis);
  const double lossRate = qosLossRate(counts.received, counts.lost, state.estimatedPackets);
  const double burstSize = qosAverageBurstSize(counts.lost, counts.bursts);
  double mos = estimateMos(state.codec, state.fec != 0 ? 1.0 : 0.0, state.fec, lossRate, burstSize,
                           state.packetInterval / 80.0);
  TESK_LOG(7, config.logPrefix << "MOS: " << mos);
  TESK_LOG(7, config.logPrefix << "Avg jitter: " << jitterMillis);
  TESK_LOG(7, config.logPrefix << "Lost packets: " << counts.lost);
  TESK_LOG(7, config.logPrefix << "Number of pl bursts: " << counts.bursts);
  TESK_LOG(7, config.logPrefix << "Average PL burst size: " << burstSize << " packets");
  TESK_LOG(7, config.logPrefix << "Number of disordered packets: " << counts.disordered);

  if (!jitterValid) {
    TESK_LOG(7, config.logPrefix << "Average jitter > 60 seconds, drop sample");
    return true;
  }
  const double plausibleMos = qosPlausibleMos(mos, counts.lost);
  if (plausibleMos != mos) TESK_LOG(7, config.logPrefix << "MOS value " << mos << " too high");
  mos = plausibleMos;
  p.callback(p.context, mos, static_cast<uint32_t>(start.sec), static_cast<uint32_t>(start.usec),
             static_cast<uint32_t>(elapsed.sec), static_cast<uint32_t>(elapsed.usec), counts.lost,
             state.estimatedPackets, lossRate, burstSize, jitterMillis, p.testId);
  return true;
}

bool QosTask::finish() {
  p.qosState->store(kQosEnded);
  return false;
}

unsigned long qosCalc(void* params) {
  QosTask task(*static_cast<const QosCalcParams*>(params));
  task.run();
  return 0;
}
