#include "call_session.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "emodel.h"
#include "stamp_packet.h"

namespace {

const double kUnknown = std::numeric_limits<double>::quiet_NaN();

double unixSeconds(uint64_t ntp) { return timeOfDayFromNtp(ntp).seconds(); }

}  // namespace

CallSession::CallSession(const CallSettings& callSettings)
    : settings(callSettings),
      directions(callSettings.codec, callSettings.fec, callSettings.streamInterval),
      forward(callSettings.window, "Call(forward): "),
      reverse(callSettings.window, "Call(reverse): ") {}

size_t CallSession::request(const TimeOfDay& now, uint8_t* out) {
  StampSenderPacket packet;
  packet.sequence = nextSequence++;
  packet.timestamp = ntpFromTimeOfDay(now);
  packet.errorEstimate.synchronized = settings.clockSynchronized;
  packet.ssid = settings.sessionId;
  const size_t length = std::max<size_t>(settings.packetLength, stampBaseLength(mode()));
  encodeStampSender(packet, length, out, mode());
  if (!settings.key.empty()) signStampPacket(settings.key, out);
  return length;
}

bool CallSession::takeAnswer(const uint8_t* data, size_t length, const TimeOfDay& arrival) {
  StampReflectorPacket answer;
  // A reflector of RFC 8762 alone leaves the session identifier zero.
  if (!decodeStampReflector(data, length, &answer, mode()) ||
      answer.senderSequence >= nextSequence ||
      (answer.ssid != settings.sessionId && answer.ssid != 0)) {
    ignored++;
    return false;
  }
  if (!settings.key.empty()) {
    if (!stampPacketSigned(settings.key, data, length)) {
      authFailed++;
      return false;
    }
    if (!answerNumbers.accept(answer.sequence)) {
      replayed++;
      return false;
    }
  }
  answered++;
  Reflection r;
  r.senderSequence = answer.senderSequence;
  r.reflectorSequence = answer.sequence;
  r.t1 = answer.senderTimestamp;
  r.t2 = answer.receiveTimestamp;
  r.t3 = answer.timestamp;
  r.t4 = arrival;
  hold(r);

  Trip trip{unixSeconds(r.t1), TwoWaySplit::roundTrip(r), kUnknown, kUnknown};
  if (settings.clockSynchronized && answer.errorEstimate.synchronized) {
    trip.forward = unixSeconds(r.t2) - trip.sent;
    trip.reverse = arrival.seconds() - unixSeconds(r.t3);
  }
  // Kept in send order; an answer overtaken by a later one goes to its place.
  auto at = trips.end();
  while (at != trips.begin() && std::prev(at)->sent > trip.sent) --at;
  trips.insert(at, trip);
  return true;
}

void CallSession::split(const Reflection& r) {
  forwardPackets.clear();
  reversePackets.clear();
  directions.add(r, &forwardPackets, &reversePackets);
  for (const DirectionPacket& p : forwardPackets) forward.add(p.arrival, p.payload);
  for (const DirectionPacket& p : reversePackets) reverse.add(p.arrival, p.payload);
}

void CallSession::hold(const Reflection& r) {
  // A straggler whose gap was judged already, or a copy: taken as it comes.
  if (r.reflectorSequence < nextReflector) return split(r);
  held.emplace(r.reflectorSequence, r);
  releaseInOrder();
}

void CallSession::releaseInOrder() {
  while (!held.empty() && held.begin()->first == nextReflector) {
    split(held.begin()->second);
    held.erase(held.begin());
    nextReflector++;
    releasedAny = true;
  }
}

void CallSession::settle(const TimeOfDay& now) {
  const double horizon = now.seconds() - settings.window.dejitterLength / 1000.0;
  while (!held.empty() && held.begin()->second.t4.seconds() <= horizon) {
    // The answers before it are lost (before the first, none is known).
    if (releasedAny) lostBack += held.begin()->first - nextReflector;
    nextReflector = held.begin()->first;
    releaseInOrder();
  }
}

void CallSession::begin(const TimeOfDay& start) {
  forward.begin(start);
  reverse.begin(start);
}

void CallSession::summarizeTrips(double windowStart, double windowEnd, TeskCallSample* sample) {
  while (!trips.empty() && trips.front().sent < windowStart) trips.pop_front();
  double sum = 0, forwardSum = 0, reverseSum = 0;
  double least = kUnknown, most = kUnknown;
  unsigned int count = 0;
  for (const Trip& t : trips) {
    if (t.sent >= windowEnd) break;
    sum += t.roundTrip;
    forwardSum += t.forward;  // NaN once one is unknown: the mean is unknown
    reverseSum += t.reverse;
    least = count == 0 ? t.roundTrip : std::min(least, t.roundTrip);
    most = count == 0 ? t.roundTrip : std::max(most, t.roundTrip);
    count++;
  }
  sample->answers = count;
  sample->roundTripMinMs = least * 1000;
  sample->roundTripMaxMs = most * 1000;
  sample->roundTripMeanMs = count == 0 ? kUnknown : sum / count * 1000;
  sample->forwardDelayMs = count == 0 ? kUnknown : forwardSum / count * 1000;
  sample->reverseDelayMs = count == 0 ? kUnknown : reverseSum / count * 1000;
}

CallSession::Tick CallSession::tick(const TimeOfDay& now, TeskCallSample* sample) {
  *sample = TeskCallSample{};
  const bool warm = forward.sampling();
  const Meter::Tick f = forward.tick(now, &sample->forward);
  const Meter::Tick r = reverse.tick(now, &sample->reverse);
  if (!warm) return Tick::WarmUp;
  // Both meters hear only of answers: when the answers stop, both give up.
  if (f == Meter::Tick::GaveUp && r == Meter::Tick::GaveUp) return Tick::GaveUp;
  sample->haveForward = f == Meter::Tick::Sample;
  sample->haveReverse = r == Meter::Tick::Sample;
  summarizeTrips(now.seconds() - settings.window.windowSize / 1000.0, now.seconds(), sample);
  // With a known delay the E-model charges it; otherwise none, as for a
  // one-way stream.
  const auto chargeDelay = [this](TeskSample& s, double delayMs) {
    if (std::isnan(delayMs)) return;
    const EModelScore e = emodelScore(settings.codec, s.lossRate, s.averageBurstSize, delayMs);
    s.emodelR = e.r;
    s.emodelMos = e.mos;
  };
  if (sample->haveForward) chargeDelay(sample->forward, sample->forwardDelayMs);
  if (sample->haveReverse) chargeDelay(sample->reverse, sample->reverseDelayMs);
  return sample->haveForward || sample->haveReverse ? Tick::Sample : Tick::Nothing;
}
