#ifndef TESK_QOS_WINDOW_H
#define TESK_QOS_WINDOW_H

// The arithmetic of one sample: a pass over the packets of the sliding
// window, and the figures derived from its counters. No clock, no thread, no
// lock of its own; the QoS calculation's tick loop drives it.

#include <cstdint>
#include <string>

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
  bool firstDisordered = false;
  uint32_t lastDisorderedSeq = 0;
};

struct QosWindowConfig {
  uint16_t windowSize = 0;      // ms
  uint16_t dejitterLength = 0;  // ms
  std::string logPrefix;        // "QoSCalc(own, server): "
};

enum class QosPassResult { Sample, EndOfStream };

// The three ways a disordered packet (one that arrives after a higher
// sequence number) is counted. The window's first packet is the oldest of
// the pass that is not before the window start.
enum class DisorderCase {
  // Newer than the window's first packet, and no earlier packet of this
  // pass was the first one disordered: the gap it left was counted as lost
  // in this window, so one lost packet is taken back (and its burst, unless
  // it continues the previous disordered run).
  UndoesItsLoss,
  // It is the window's first packet: it takes back its own receipt (or, if
  // late, its loss) and marks that the window's first packet came out of
  // order.
  FirstOfWindow,
  // Any other: its gap was counted in an earlier window, or the window's
  // first packet was itself disordered. It takes back its own receipt (or,
  // if late, its loss) instead.
  UndoesItsReceipt,
};
DisorderCase classifyDisorder(uint32_t windowFirstSeq, uint32_t seq, bool firstDisordered);

// Walks the map in arrival order. Packets received before `windowStart`
// have left the window: they only move prevSeq on, and are erased (the
// newest of them stays as the first packet of the next pass, unless it was
// already the first of this one). Packets in the window are counted for
// loss, lateness, bursts, disorder and jitter into `counts` (reset first).
// Stops at once, without a sample, at an end-of-stream packet.
// REQUIRES: the caller holds the map's mutex.
QosPassResult qosSamplePass(PayloadMap& map, double windowStart, const QosWindowConfig& config,
                            QosRunningState& state, QosSampleCounts& counts);

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
