#include "two_way_split.h"

#include <algorithm>
#include <cmath>

#include "stamp_packet.h"

namespace {

// NTP seconds on the Unix epoch's scale, as TimeOfDay::seconds() counts.
double unixSeconds(uint64_t ntp) {
  const TimeOfDay t = timeOfDayFromNtp(ntp);
  return TimeOfDay{t.sec, t.usec}.seconds();
}

}  // namespace

double TwoWaySplit::roundTrip(const Reflection& r) {
  return (r.t4.seconds() - unixSeconds(r.t1)) - (ntpSeconds(r.t3) - ntpSeconds(r.t2));
}

DirectionPacket TwoWaySplit::roundTripPacket(const Reflection& r) const {
  const double t1 = unixSeconds(r.t1);
  return {t1 + roundTrip(r), packet(r.senderSequence, t1, false)};
}

Payload TwoWaySplit::packet(uint32_t sequence, double sendTime, bool placeholder) const {
  Payload p;
  p.seqNum = sequence;
  // A forged or broken time stamp may lie anywhere: the packet keeps a time
  // the 32-bit seconds can hold.
  const double time = std::isfinite(sendTime) ? std::min(std::max(sendTime, 0.0), 4294967295.0) : 0.0;
  const double whole = std::floor(time);
  p.sendSec = static_cast<uint32_t>(whole);
  p.sendUsec = static_cast<uint32_t>(std::min(999999.0, std::round((time - whole) * 1e6)));
  if (p.sendSec == 0 && p.sendUsec == 0) p.sendUsec = 1;  // never the end-of-stream mark
  p.codec = static_cast<int8_t>(codec);
  p.fec = static_cast<int8_t>(fec);
  p.packetInterval = interval;
  p.placeholder = placeholder;
  p.arrived = placeholder;  // it reached the reflector: received, untimed
  return p;
}

void TwoWaySplit::add(const Reflection& r, std::vector<DirectionPacket>* forward,
                      std::vector<DirectionPacket>* reverse) {
  const double t1 = unixSeconds(r.t1), t2 = unixSeconds(r.t2), t3 = unixSeconds(r.t3);
  const double t4 = r.t4.seconds();
  const double halfTrip = std::max(0.0, roundTrip(r)) / 2;
  if (!started) {
    // The first reflection fixes both directions' constants: its forward
    // packet arrives half a round trip after it left, on this host's clock,
    // and so does its reverse packet.
    forwardShift = t2 - (t1 + halfTrip);
    reverseShift = t3 - (t4 - halfTrip);
    started = true;
  } else if (r.senderSequence > lastSender + 1 && r.reflectorSequence > lastReflector) {
    // Answers lost on the way back: that many of the sender's packets of
    // this gap reached the reflector; the first ones, by choice.
    const uint32_t senderGap = r.senderSequence - lastSender - 1;
    const uint32_t lostAnswers = std::min(r.reflectorSequence - lastReflector - 1, senderGap);
    lostForward += senderGap - lostAnswers;
    for (uint32_t k = 1; k <= lostAnswers; ++k) {
      const double at = lastForwardArrival + k * (interval / 1000.0);
      forward->push_back({at, packet(lastSender + k, at, true)});
    }
  }
  const double forwardArrival = t2 - forwardShift;
  forward->push_back({forwardArrival, packet(r.senderSequence, t1, false)});
  reverse->push_back({t4, packet(r.reflectorSequence, t3 - reverseShift, false)});
  if (r.senderSequence >= lastSender) {
    lastSender = r.senderSequence;
    lastForwardArrival = forwardArrival;
  }
  lastReflector = std::max(lastReflector, r.reflectorSequence);
}
