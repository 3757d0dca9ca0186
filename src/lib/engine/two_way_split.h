#ifndef TESK_TWO_WAY_SPLIT_H
#define TESK_TWO_WAY_SPLIT_H

// A STAMP session seen from its sender. Each reflection tells of two
// packets: the forward one (sent here at T1, received by the reflector at
// T2) and the reverse one (sent by the reflector at T3, received here at
// T4). This turns reflections into the two directions' packet streams, each
// for a meter of its own: the forward stream numbered by the sender's
// sequence, the reverse stream by the reflector's.
//
// A lost reflection hides whether its forward packet arrived. The
// reflector's sequence says how many of its answers were lost between two
// that came back; that many of the sender's packets in the same gap did
// reach it. They are taken to be the first ones of the gap (a documented
// choice): they enter the forward stream as place holders (arrived,
// untimed) and the rest of the gap is forward loss. So the forward and
// reverse loss counts are exact per gap; only where a gap holds losses of
// both directions may the forward losses' places within it, and hence
// their burst lengths, differ from the truth.
//
// Both hosts' clocks may differ: a direction's transit times carry an
// unknown constant, which cancels in the jitter and lateness arithmetic.
// Forward packets are placed on this host's time line by the first
// reflection's half round trip.

#include <cstdint>
#include <vector>

#include "packet.h"
#include "time_of_day.h"

struct Reflection {
  uint32_t senderSequence = 0;
  uint32_t reflectorSequence = 0;
  uint64_t t1 = 0, t2 = 0, t3 = 0;  // NTP
  TimeOfDay t4;                     // this host's receive time
};

struct DirectionPacket {
  double arrival = 0;  // this host's time line, as Meter::add takes it
  Payload payload;
};

class TwoWaySplit {
 public:
  TwoWaySplit(uint8_t codecType, uint8_t fecType, uint8_t intervalMs)
      : codec(codecType), fec(fecType), interval(intervalMs) {}

  // The packets one reflection adds to each direction, in the order the
  // meters take them.
  void add(const Reflection& r, std::vector<DirectionPacket>* forward,
           std::vector<DirectionPacket>* reverse);

  // Requests known lost on the way out so far: the gaps in the sender's
  // numbers less the answers the reflector's numbers say were lost.
  uint64_t forwardLost() const { return lostForward; }

  // The round trip net of the reflector's residence: (T4 - T1) - (T3 - T2), s.
  static double roundTrip(const Reflection& r);
  // Both ways as one stream, for a reflector whose numbers cannot tell them
  // apart: numbered by the sender, sent at T1, back a round trip later.
  DirectionPacket roundTripPacket(const Reflection& r) const;

 private:
  Payload packet(uint32_t sequence, double sendTime, bool placeholder) const;

  const uint8_t codec, fec, interval;
  bool started = false;
  double forwardShift = 0;  // T2 less this, in this host's seconds
  double reverseShift = 0;  // T3 less this
  uint32_t lastSender = 0, lastReflector = 0;
  double lastForwardArrival = 0;
  uint64_t lostForward = 0;
};

#endif  // TESK_TWO_WAY_SPLIT_H
