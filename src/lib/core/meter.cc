#include "meter.h"

#include <utility>

#include "emodel.h"
#include "mos_model.h"
#include "sample_rating.h"
#include "log_sink.h"

namespace {

struct Elapsed {
  int64_t sec;
  int64_t usec;
};

// `now` less `start`, the microseconds between 0 and 999999.
Elapsed timeSince(const TimeOfDay& start, const TimeOfDay& now) {
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

}  // namespace

void TeskWindowSettings::validate(const std::string& prefix, std::vector<std::string>* errors) const {
  if (windowSize <= 1000 || sampleInterval == 0) {
    errors->push_back(prefix + "invalid window size or sampling interval size");
  }
  if (timeout == 0) errors->push_back(prefix + "null timeout value");
  if (windowSize <= sampleInterval) {
    errors->push_back(prefix + "sampling window cannot be shorter than sampling interval");
  }
}

Meter::Meter(const WindowSettings& windowSettings, std::string logPrefix, LogSink* log)
    : settings(windowSettings) {
  config.windowSize = settings.windowSize;
  config.dejitterLength = settings.dejitterLength;
  config.logPrefix = std::move(logPrefix);
  config.log = log;
}

void Meter::begin(const TimeOfDay& measurementStart) {
  start = measurementStart;
  // No sample before a whole window has passed since the first tick, also
  // when the sampling interval does not divide the window.
  warmUp = (settings.windowSize + settings.sampleInterval - 1u) / settings.sampleInterval;
  ticks = 0;
}

Meter::Tick Meter::tick(const TimeOfDay& now, TeskSample* sample) {
  const Elapsed elapsed = timeSince(start, now);
  if (elapsed.sec < 0) CORE_LOG(config.log, 7, config.logPrefix << "timevalSubtract result is negative!");
  if (ticks < warmUp) {
    ticks++;
    return Tick::WarmUp;
  }
  QosSampleCounts counts;
  const double windowStart = now.seconds() - settings.windowSize / 1000.0;
  if (qosSamplePass(packets, windowStart, config, state, counts, now.seconds()) ==
      QosPassResult::EndOfStream) {
    CORE_LOG(config.log, 7, config.logPrefix << "Received stream end control packet: End of measurement!\n");
    CORE_LOG(config.log, 7, config.logPrefix << "tot_packets: " << state.totPackets);
    return Tick::EndOfStream;
  }
  // The count of empty passes runs over the whole test: a sender that has
  // stopped is given up after `timeout` worth of them. A sender that may
  // fall silent is given up only after `timeout` of silence in a row.
  if (settings.mayFallSilent && !packets.empty()) emptyCount = 0;
  if (packets.empty()) {
    const uint32_t allowedEmpty = settings.timeout / settings.sampleInterval;
    CORE_LOG(config.log, 7, config.logPrefix << "Map empty (" << emptyCount << "/" << allowedEmpty << ")");
    if (++emptyCount > allowedEmpty) return Tick::GaveUp;
  }
  if (!score(counts, sample)) return Tick::Dropped;
  sample->startSeconds = static_cast<uint32_t>(start.sec);
  sample->startMicroseconds = static_cast<uint32_t>(start.usec);
  sample->elapsedSeconds = static_cast<uint32_t>(elapsed.sec);
  sample->elapsedMicroseconds = static_cast<uint32_t>(elapsed.usec);
  return Tick::Sample;
}

bool Meter::score(const QosSampleCounts& counts, TeskSample* sample) const {
  uint32_t jitterMillis = 0;
  const bool jitterValid = qosAverageJitterMillis(counts.jitterSum, counts.received, &jitterMillis);
  const uint32_t expected = settings.mayFallSilent || settings.estimateFromNumbers
                                ? counts.received + counts.lost
                                : state.estimatedPackets;
  const double lossRate = qosLossRate(counts.received, counts.lost, expected);
  const double burstSize = qosAverageBurstSize(counts.lost, counts.bursts);
  const VoiceCodec voice = settings.voiceCodec >= 0 ? static_cast<VoiceCodec>(settings.voiceCodec)
                                                    : voiceCodecOfModelCodec(state.codec);
  const bool modelScored = trainedModelKnows(voice);
  const double mos = modelScored ? estimateMos(state.codec, state.fec != 0 ? 1.0 : 0.0, state.fec,
                                               lossRate, burstSize, state.packetInterval / 80.0)
                                 : 0.0;
  CORE_LOG(config.log, 7, config.logPrefix << "MOS: " << mos);
  CORE_LOG(config.log, 7, config.logPrefix << "Avg jitter: " << jitterMillis);
  CORE_LOG(config.log, 7, config.logPrefix << "Lost packets: " << counts.lost);
  CORE_LOG(config.log, 7, config.logPrefix << "Number of pl bursts: " << counts.bursts);
  CORE_LOG(config.log, 7, config.logPrefix << "Average PL burst size: " << burstSize << " packets");
  CORE_LOG(config.log, 7, config.logPrefix << "Number of disordered packets: " << counts.disordered);
  if (!jitterValid) {
    CORE_LOG(config.log, 7, config.logPrefix << "Average jitter > 60 seconds, drop sample");
    return false;
  }
  const double plausibleMos = qosPlausibleMos(mos, counts.lost);
  if (plausibleMos != mos) CORE_LOG(config.log, 7, config.logPrefix << "MOS value " << mos << " too high");
  sample->mos = plausibleMos;
  sample->lostPackets = counts.lost;
  sample->estimatedPackets = settings.estimateFromNumbers ? expected : state.estimatedPackets;
  sample->lossRate = lossRate;
  sample->averageBurstSize = burstSize;
  sample->avgJitter = jitterMillis;
  sample->testId = settings.testId;
  sample->modelScored = modelScored;
  // A one-way stream carries no delay that a receiver could measure: the
  // conversational rating takes the one it is told.
  rateSample({voice, static_cast<double>(state.packetInterval),
              static_cast<double>(settings.dejitterLength)},
             settings.networkDelayMs, TeskDelaySource::Assumed, sample);
  return true;
}
