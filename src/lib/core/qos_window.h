#ifndef TESK_QOS_WINDOW_H
#define TESK_QOS_WINDOW_H

// The arithmetic of one sample: a pass over the packets of the sliding
// window, and the figures derived from its counters. No clock, no thread, no
// lock of its own; the QoS calculation's tick loop drives it.

#include <cstdint>
#include <limits>
#include <string>

#include "log_sink.h"

#include "packet.h"
#include "payload_map.h"

// State that carries over from one pass to the next for the whole test.
struct QosRunningState {
  uint32_t prevSeq = 0;          // gaps and disorder are judged against it
  bool prevLate = false;         // the last in-window packet counted as late
  double prevTransit = 0.0;      // s; transit of the last in-window packet
  double lastJitterStep = 0.0;   // s; last |transit difference|
  uint32_t highestSeq = 0;
  uint32_t totPackets = 0;       // how often highestSeq grew; only logged
  uint8_t codec = 0;             // of the newest packet examined: feeds the MOS
  uint8_t fec = 0;
  uint8_t packetInterval = 0;    // ms
  uint32_t estimatedPackets = 0; // windowSize / packetInterval
};

// Counters of one pass.
struct QosSampleCounts {
  uint32_t lost = 0;
  uint32_t received = 0;
  int32_t bursts = 0;
  uint32_t disordered = 0;
  double jitterSum = 0.0;  // s
  uint32_t lastDisorderedSeq = 0;
};

struct QosWindowConfig {
  uint16_t windowSize = 0;      // ms
  uint16_t dejitterLength = 0;  // ms
  std::string logPrefix;        // "QoSCalc(own, server): "
  LogSink* log = nullptr;       // where progress lines go; null: nowhere
};

enum class QosPassResult { Sample, EndOfStream };

// How a disordered packet (one that arrives after a higher sequence number)
// is counted. A window counts the sequence numbers above its floor: the
// highest number that had arrived before the window started (or, when no
// packet before it is held, the one below the window's first packet).
enum class DisorderCase {
  // Above the floor and not yet met in this window: its absence was counted
  // as lost when a higher number opened the gap, so that loss is taken back
  // (and its burst, unless it continues the previous disordered run). The
  // packet itself counts as received, or as lost if it came too late.
  UndoesItsLoss,
  // At or below the floor: its gap belongs to an earlier window. It takes
  // back its own receipt (or, if late, its loss).
  BeforeTheWindow,
  // A number this window has already met: a copy takes back its own count.
  Repeat,
};
DisorderCase classifyDisorder(int64_t windowFloor, uint32_t seq, bool seenInWindow);

// Walks the map in arrival order. Packets received before `windowStart`
// have left the window: they only move prevSeq on, and are erased (the
// newest of them stays as the first packet of the next pass, unless it was
// already the first of this one). Packets received from `windowStart` up to
// `windowEnd` are counted for loss, lateness, bursts, disorder and jitter
// into `counts` (reset first). A packet received after `windowEnd` counts
// only if it fills a gap of this window (it came within the de-jitter
// length, in time to be played); the rest wait for the next pass.
// Stops at once, without a sample, at an end-of-stream packet in the window.
QosPassResult qosSamplePass(PayloadMap& map, double windowStart, const QosWindowConfig& config,
                            QosRunningState& state, QosSampleCounts& counts,
                            double windowEnd = std::numeric_limits<double>::infinity());

// 1.0 without a received packet; 1 - received/estimated when fewer than 80 %
// of the estimated packets are accounted for; lost / (received + lost)
// otherwise.
double qosLossRate(uint32_t received, uint32_t lost, uint32_t estimated);

// Packets per loss burst, 1.0 without loss and bursts. Lost packets whose
// bursts the disorder corrections have undone count as one burst.
double qosAverageBurstSize(uint32_t lost, int32_t bursts);

// Average jitter in ms, rounded. False when the sample must be dropped: no
// packet received, or an average above 60 seconds.
bool qosAverageJitterMillis(double jitterSumSeconds, uint32_t received, uint32_t* jitterMillis);

// A score of 4.05 or more is not believable for a window that lost packets;
// such a sample is reported with 0.0.
double qosPlausibleMos(double mos, uint32_t lostPackets);

#endif  // TESK_QOS_WINDOW_H
