#include "qos_window.h"

#include <algorithm>
#include <cmath>

#include "mos_model.h"
#include "tesk_log.h"

namespace {

constexpr double kMaxAverageJitterMillis = 60000.0;

// The disorder corrections take back what was counted before; a counter
// never wraps below zero.
void takeBack(uint32_t& counter) {
  if (counter > 0) counter--;
}

// The packet rules for one packet inside the window.
void examineInWindow(const Payload& p, double receiveTime, bool firstOfPass, uint32_t firstSeq,
                     const QosWindowConfig& config, QosRunningState& st, QosSampleCounts& c) {
  const uint32_t s = p.seqNum;
  const double sendTime = p.sendSec + p.sendUsec / 1e6;
  const double transit = receiveTime - sendTime;
  const double dejitter = config.dejitterLength / 1000.0;

  // A packet whose transit time grew by more than the de-jitter buffer would
  // arrive too late to be played: it counts as lost although it arrived.
  bool late = false;
  if (st.prevTransit == 0.0) {
    c.jitterSum += st.lastJitterStep;
    c.received++;
  } else {
    const double d = transit - st.prevTransit;
    st.lastJitterStep = std::fabs(d);
    c.jitterSum += st.lastJitterStep;
    if (d > dejitter) {
      c.lost++;
      TESK_LOG(7, config.logPrefix << "Jitter too high (" << std::fabs(d) << ") calculating packet "
                                   << s << " as lost (prev " << st.prevSeq << ")...");
      late = true;
      if (!st.prevLate) c.bursts++;
    } else {
      c.received++;
    }
  }

  if (s > st.highestSeq) {
    st.totPackets++;
    st.highestSeq = s;
  } else if (s == 0 && st.highestSeq == 0 && st.totPackets == 0) {
    st.totPackets = 1;
  }

  if (static_cast<uint64_t>(st.prevSeq) + 1 < s) {
    c.lost += s - st.prevSeq - 1;
    TESK_LOG(7, config.logPrefix << "Packet sequence loss: current = " << s
                                 << ", prev = " << st.prevSeq);
    if (!st.prevLate && !late) c.bursts++;
    st.prevSeq = s;
  } else if (firstOfPass || st.prevSeq <= s) {
    st.prevSeq = s;
  } else {
    // Arrived after a higher sequence number: its absence was counted when
    // the gap opened, so take that back. prevSeq stays where it was.
    c.disordered++;
    TESK_LOG(7, config.logPrefix << "A disordered packet (" << s << ") is found (prev "
                                 << st.prevSeq << ")!");
    const DisorderCase disorder = classifyDisorder(firstSeq, s, c.firstDisordered);
    if (disorder == DisorderCase::UndoesItsLoss) {
      takeBack(c.lost);
      if (c.lastDisorderedSeq + 1 != s) c.bursts--;
      TESK_LOG(7, config.logPrefix << "    - will not be calculated as lost (first " << firstSeq
                                   << ", current " << s << ")");
    } else {
      if (disorder == DisorderCase::FirstOfWindow) {
        TESK_LOG(7, config.logPrefix << "    - first packet disordered: " << s);
        c.firstDisordered = true;
      }
      if (late) {
        takeBack(c.lost);
        if (!st.prevLate) c.bursts--;
      } else {
        takeBack(c.received);
      }
    }
    c.lastDisorderedSeq = s;
  }
  st.prevLate = late;
  st.prevTransit = transit;
}

}  // namespace

DisorderCase classifyDisorder(uint32_t windowFirstSeq, uint32_t seq, bool firstDisordered) {
  if (windowFirstSeq < seq && !firstDisordered) return DisorderCase::UndoesItsLoss;
  if (windowFirstSeq == seq) return DisorderCase::FirstOfWindow;
  return DisorderCase::UndoesItsReceipt;
}

QosPassResult qosSamplePass(PayloadMap& map, double windowStart, const QosWindowConfig& config,
                            QosRunningState& st, QosSampleCounts& counts) {
  counts = QosSampleCounts();
  bool firstOfPass = true;
  bool windowEntered = false;
  uint32_t firstSeq = 0;
  // The newest packet seen before the window start; erased when an older one
  // is followed by a newer one, so one of them is left for the next pass.
  PayloadMap::iterator leftover = map.end();
  bool leftoverWasFirst = false;

  for (auto it = map.begin(); it != map.end(); ++it) {
    const Payload& p = it->second;
    st.codec = static_cast<uint8_t>(p.codec);
    st.fec = static_cast<uint8_t>(p.fec);
    st.packetInterval = p.packetInterval;
    if (p.isEndOfStream()) return QosPassResult::EndOfStream;
    // A packet claiming a zero interval keeps the previous estimate.
    if (p.packetInterval != 0) st.estimatedPackets = config.windowSize / p.packetInterval;

    if (it->first < windowStart) {
      st.prevSeq = firstOfPass ? p.seqNum : std::max(st.prevSeq, p.seqNum);
      if (leftover != map.end()) map.erase(leftover);
      leftover = it;
      leftoverWasFirst = firstOfPass;
    } else {
      if (!windowEntered) {
        windowEntered = true;
        firstSeq = p.seqNum;
      }
      examineInWindow(p, it->first, firstOfPass, firstSeq, config, st, counts);
    }
    firstOfPass = false;
  }
  // A packet that was already the oldest of this pass has been met twice.
  if (leftover != map.end() && leftoverWasFirst) map.erase(leftover);
  return QosPassResult::Sample;
}

double qosLossRate(uint32_t received, uint32_t lost, uint32_t estimated) {
  if (received == 0) return 1.0;
  const double accounted = static_cast<double>(received) + lost;
  if (0.8 * estimated > accounted) return 1.0 - static_cast<double>(received) / estimated;
  return lost / accounted;
}

double qosAverageBurstSize(uint32_t lost, int32_t bursts) {
  if (lost == 0 && bursts == 0) return 1.0;
  if (bursts <= 0) return lost;
  return static_cast<double>(lost) / bursts;
}

bool qosAverageJitterMillis(double jitterSumSeconds, uint32_t received, uint32_t* jitterMillis) {
  if (received == 0) return false;
  const double average = std::round(jitterSumSeconds / received * 1000.0);
  if (!(average <= kMaxAverageJitterMillis)) return false;
  *jitterMillis = static_cast<uint32_t>(average);
  return true;
}

double qosPlausibleMos(double mos, uint32_t lostPackets) {
  return mos >= kImplausibleMosWithLoss && lostPackets > 0 ? 0.0 : mos;
}
