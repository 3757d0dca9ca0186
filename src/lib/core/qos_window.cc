#include "qos_window.h"

#include <algorithm>
#include <cmath>

#include "mos_model.h"
#include "log_sink.h"

namespace {

constexpr double kMaxAverageJitterMillis = 60000.0;

// The disorder corrections take back what was counted before; a counter
// never wraps below zero.
void takeBack(uint32_t& counter) {
  if (counter > 0) counter--;
}

// What one pass knows of the window it walks.
struct WindowWalk {
  bool entered = false;
  uint32_t firstSeq = 0;        // the window's first packet
  int64_t floor = 0;            // numbers at or below it were counted by earlier windows
  PayloadMap::iterator first;   // where the window's packets start in the map
};

bool metInWindow(const WindowWalk& walk, PayloadMap::iterator current, uint32_t seq) {
  for (auto it = walk.first; it != current; ++it) {
    if (it->second.seqNum == seq) return true;
  }
  return false;
}

// The first packet of the pass inside the window opens the walk.
void enterWindow(WindowWalk& walk, uint32_t s, bool firstOfPass, PayloadMap::iterator current,
                 const QosRunningState& st) {
  walk.entered = true;
  walk.firstSeq = s;
  walk.first = current;
  // The first packet of a pass has no packet before it to set prevSeq: a
  // gap from the previous pass's prevSeq is counted, a lower number
  // starts the window afresh.
  walk.floor = firstOfPass ? std::min<int64_t>(st.prevSeq, int64_t{s} - 1) : st.prevSeq;
}

// Counts the packet as received or late, and adds its jitter step; true when
// it is late.
bool countTransit(const Payload& p, double transit, const QosWindowConfig& config,
                  QosRunningState& st, QosSampleCounts& c) {
  const uint32_t s = p.seqNum;
  const double dejitter = config.dejitterLength / 1000.0;

  // A packet whose transit time grew by more than the de-jitter buffer would
  // arrive too late to be played: it counts as lost although it arrived. A
  // talk spurt starts a new playout, never late; a place holder is not
  // played at all.
  bool late = false;
  if (p.placeholder) {
    late = st.prevLate;
    if (p.arrived) c.received++;
  } else if (st.prevTransit == 0.0) {
    c.jitterSum += st.lastJitterStep;
    c.received++;
  } else {
    const double d = transit - st.prevTransit;
    st.lastJitterStep = std::fabs(d);
    c.jitterSum += st.lastJitterStep;
    if (d > dejitter && !p.talkSpurt) {
      c.lost++;
      CORE_LOG(config.log, 7, config.logPrefix << "Jitter too high (" << std::fabs(d)
                                   << ") calculating packet " << s << " as lost (prev "
                                   << st.prevSeq << ")...");
      late = true;
      if (!st.prevLate) c.bursts++;
    } else {
      c.received++;
    }
  }
  return late;
}

void trackHighestSeq(uint32_t s, QosRunningState& st) {
  if (s > st.highestSeq) {
    st.totPackets++;
    st.highestSeq = s;
  } else if (s == 0 && st.highestSeq == 0 && st.totPackets == 0) {
    st.totPackets = 1;
  }
}

// A packet that arrived after a higher sequence number: corrects what the
// gap it left, or the packet itself, has already counted.
void countDisordered(const Payload& p, bool late, const WindowWalk& walk,
                     PayloadMap::iterator current, const QosWindowConfig& config,
                     const QosRunningState& st, QosSampleCounts& c) {
  const uint32_t s = p.seqNum;
  c.disordered++;
  CORE_LOG(config.log, 7, config.logPrefix << "A disordered packet (" << s << ") is found (prev "
                               << st.prevSeq << ")!");
  const bool seen = s > walk.floor && metInWindow(walk, current, s);
  if (classifyDisorder(walk.floor, s, seen) == DisorderCase::UndoesItsLoss) {
    takeBack(c.lost);
    if (c.lastDisorderedSeq + 1 != s) c.bursts--;
    CORE_LOG(config.log, 7, config.logPrefix << "    - will not be calculated as lost (first "
                                 << walk.firstSeq << ", current " << s << ")");
  } else {
    if (s == walk.firstSeq) {
      CORE_LOG(config.log, 7, config.logPrefix << "    - first packet disordered: " << s);
    }
    if (p.placeholder && !p.arrived) {
      // counted for nothing: nothing to take back
    } else if (late) {
      takeBack(c.lost);
      if (!st.prevLate) c.bursts--;
    } else {
      takeBack(c.received);
    }
  }
  c.lastDisorderedSeq = s;
}

// Judges the packet's sequence number against prevSeq: a gap is lost, a
// lower number is disorder.
void countSequence(const Payload& p, bool late, bool firstOfPass, const WindowWalk& walk,
                   PayloadMap::iterator current, const QosWindowConfig& config,
                   QosRunningState& st, QosSampleCounts& c) {
  const uint32_t s = p.seqNum;
  if (static_cast<uint64_t>(st.prevSeq) + 1 < s) {
    c.lost += s - st.prevSeq - 1;
    CORE_LOG(config.log, 7, config.logPrefix << "Packet sequence loss: current = " << s
                                 << ", prev = " << st.prevSeq);
    if (!st.prevLate && !late) c.bursts++;
    st.prevSeq = s;
  } else if (firstOfPass || st.prevSeq <= s) {
    st.prevSeq = s;
  } else {
    // prevSeq stays where it was.
    countDisordered(p, late, walk, current, config, st, c);
  }
}

// The packet rules for one packet inside the window.
void examineInWindow(const Payload& p, double receiveTime, bool firstOfPass, WindowWalk& walk,
                     PayloadMap::iterator current, const QosWindowConfig& config,
                     QosRunningState& st, QosSampleCounts& c) {
  if (!walk.entered) enterWindow(walk, p.seqNum, firstOfPass, current, st);
  const double sendTime = p.sendSec + p.sendUsec / 1e6;
  const double transit = receiveTime - sendTime;
  const bool late = countTransit(p, transit, config, st, c);
  trackHighestSeq(p.seqNum, st);
  countSequence(p, late, firstOfPass, walk, current, config, st, c);
  if (p.placeholder) return;
  st.prevLate = late;
  st.prevTransit = transit;
}

}  // namespace

DisorderCase classifyDisorder(int64_t windowFloor, uint32_t seq, bool seenInWindow) {
  if (seq <= windowFloor) return DisorderCase::BeforeTheWindow;
  return seenInWindow ? DisorderCase::Repeat : DisorderCase::UndoesItsLoss;
}

QosPassResult qosSamplePass(PayloadMap& map, double windowStart, const QosWindowConfig& config,
                            QosRunningState& st, QosSampleCounts& counts, double windowEnd) {
  counts = QosSampleCounts();
  bool firstOfPass = true;
  WindowWalk walk;
  // The newest packet seen before the window start; erased when an older one
  // is followed by a newer one, so one of them is left for the next pass.
  PayloadMap::iterator leftover = map.end();
  bool leftoverWasFirst = false;

  for (auto it = map.begin(); it != map.end(); ++it) {
    const Payload& p = it->second;
    if (it->first >= windowEnd) {
      // After the tick: only a packet that fills a gap of this window counts.
      const bool fillsAGap = walk.entered && !p.isEndOfStream() && p.seqNum < st.prevSeq &&
                             p.seqNum > walk.floor && !metInWindow(walk, it, p.seqNum);
      if (!fillsAGap) continue;
    }
    if (!p.placeholder) {
      st.codec = static_cast<uint8_t>(p.codec);
      st.fec = static_cast<uint8_t>(p.fec);
      st.packetInterval = p.packetInterval;
      if (p.isEndOfStream()) return QosPassResult::EndOfStream;
      // A packet claiming a zero interval keeps the previous estimate.
      if (p.packetInterval != 0) st.estimatedPackets = config.windowSize / p.packetInterval;
    }

    if (it->first < windowStart) {
      st.prevSeq = firstOfPass ? p.seqNum : std::max(st.prevSeq, p.seqNum);
      if (leftover != map.end()) map.erase(leftover);
      leftover = it;
      leftoverWasFirst = firstOfPass;
    } else {
      examineInWindow(p, it->first, firstOfPass, walk, it, config, st, counts);
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
  // Without loss there is no burst, whatever the disorder corrections left.
  if (lost == 0) return 1.0;
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
