#include "call_session.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "emodel.h"
#include "sample_rating.h"
#include "stamp_packet.h"
#include "tesk_log.h"

namespace {

const double kUnknown = std::numeric_limits<double>::quiet_NaN();

double unixSeconds(uint64_t ntp) { return timeOfDayFromNtp(ntp).seconds(); }

// Each way of a call expects the packets its numbers say were sent: the
// requests for the way out and the round trip, the reflector's answers for
// the way back. A window's loss rate is then its losses over those, also
// when an outage or a restart left it short.
WindowSettings byNumbers(WindowSettings window) {
  window.estimateFromNumbers = true;
  return window;
}

// Requests are remembered for twice the time an answer can still count in
// a window: a window, the de-jitter length and the answers' wait.
size_t sentMemory(const CallSettings& s) {
  const uint32_t interval = std::max<uint32_t>(1, s.streamInterval);
  const uint32_t span = s.window.windowSize + s.window.dejitterLength + 1000u;
  size_t size = 64;
  while (size < 2u * span / interval) size *= 2;
  return size;
}

// Routers crossed by a packet that arrived with `ttl`, sent with the usual
// initial value nearest above it (64, 128 or 255); -1 when unknown.
int hopsFromTtl(int ttl) {
  if (ttl < 0) return -1;
  return (ttl <= 64 ? 64 : ttl <= 128 ? 128 : 255) - ttl;
}

// The value most of `values` have (the smallest of equals), ignoring -1;
// -1 when there is none.
int mostCommon(std::vector<int>& values) {
  std::sort(values.begin(), values.end());
  int best = -1;
  size_t bestCount = 0;
  for (size_t i = 0; i < values.size();) {
    size_t j = i;
    while (j < values.size() && values[j] == values[i]) j++;
    if (values[i] >= 0 && j - i > bestCount) {
      best = values[i];
      bestCount = j - i;
    }
    i = j;
  }
  return best;
}

}  // namespace

std::string describeUnscored(const TeskUnscoredAnswers& u, bool authenticated) {
  std::string text;
  const auto add = [&text](unsigned long long count, const std::string& what) {
    if (count == 0) return;
    text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
  };
  if (u.tooShort != 0) {
    const std::string sizes = u.shortestLength == u.longestShortLength
                                  ? std::to_string(u.shortestLength)
                                  : std::to_string(u.shortestLength) + " to " +
                                        std::to_string(u.longestShortLength);
    add(u.tooShort, "of " + sizes + " bytes, shorter than the " +
                        std::to_string(stampShortestAnswer(authenticated ? StampMode::Authenticated
                                                                         : StampMode::Unauthenticated)) +
                        " that " + (authenticated ? "an authenticated" : "a") + " STAMP answer needs");
  }
  add(u.authFailed, "failed authentication");
  add(u.replayed, "replayed");
  add(u.otherMode, authenticated ? "unauthenticated, to authenticated requests"
                                 : "authenticated, to unauthenticated requests");
  add(u.wrongSession, "of another session");
  add(u.notSent, "to requests never sent or long forgotten");
  add(u.repeated, "to requests already answered");
  add(u.wrongSenderTime, "with a sender time stamp other than the one sent");
  add(u.impossibleTime, "with time stamps this call cannot have produced");
  return text;
}

CallSession::CallSession(const CallSettings& callSettings)
    : settings(callSettings),
      directions(callSettings.codec, callSettings.fec, callSettings.streamInterval),
      forward(byNumbers(callSettings.window), "Call(forward): ", &fileLogSink()),
      reverse(byNumbers(callSettings.window), "Call(reverse): ", &fileLogSink()),
      roundTrip(byNumbers(callSettings.window), "Call(round trip): ", &fileLogSink()),
      sentRing(sentMemory(callSettings)) {}

const CallSession::Sent* CallSession::sentRequest(uint32_t sequence) const {
  if (sequence >= nextSequence || nextSequence - sequence > sentRing.size()) return nullptr;
  return &sentRing[sequence % sentRing.size()];
}

namespace {

// A reflector that keeps time stamps in another form (a double, as scapy's
// layers do) returns T1 within a microsecond or so of what was sent.
bool sameSenderTime(uint64_t sent, uint64_t echoed) {
  constexpr uint64_t kTenMicroseconds = (uint64_t{1} << 32) / 100000;
  return (sent > echoed ? sent - echoed : echoed - sent) <= kTenMicroseconds;
}

}  // namespace

bool CallSession::answersWaitingRequest(const StampReflectorPacket& answer) const {
  const Sent* sent = sentRequest(answer.senderSequence);
  return sent != nullptr && sent->waiting && sameSenderTime(sent->t1, answer.senderTimestamp);
}

bool CallSession::answersInOtherMode(const uint8_t* data, size_t length) const {
  const StampMode other =
      mode() == StampMode::Authenticated ? StampMode::Unauthenticated : StampMode::Authenticated;
  StampReflectorPacket answer;
  if (!decodeStampReflector(data, length, &answer, other)) return false;
  // Bytes 4 to 15 are zero (MBZ) in an authenticated answer, and hold T3
  // in an unauthenticated one.
  const bool zeros = std::all_of(data + 4, data + 16, [](uint8_t b) { return b == 0; });
  if (zeros != (other == StampMode::Authenticated)) return false;
  // A reflector of the other mode read the request's T1 from the wrong
  // place: only the number can match.
  const Sent* sent = sentRequest(answer.senderSequence);
  return sent != nullptr && sent->waiting;
}

bool CallSession::answersWaiting(const uint8_t* data, size_t length) const {
  StampReflectorPacket answer;
  return decodeStampReflector(data, length, &answer, mode()) && answersWaitingRequest(answer);
}

unsigned long long* CallSession::refusal(const StampReflectorPacket& answer,
                                         const TimeOfDay& arrival) {
  const Sent* sent = sentRequest(answer.senderSequence);
  if (sent == nullptr) return &dropped.notSent;
  if (!sent->waiting) return &dropped.repeated;
  if (!sameSenderTime(sent->t1, answer.senderTimestamp)) return &dropped.wrongSenderTime;
  // The reflector's residence and the round trip lie within the time-out,
  // and its clock keeps to where the first answer put it.
  const double limit = settings.window.timeout / 1000.0;
  const double residence = ntpSeconds(answer.timestamp) - ntpSeconds(answer.receiveTimestamp);
  const double trip = arrival.seconds() - unixSeconds(answer.senderTimestamp) - residence;
  const double offset = ntpSeconds(answer.receiveTimestamp) - ntpSeconds(answer.senderTimestamp);
  if (!(residence >= 0 && residence <= limit && trip >= -0.001 && trip <= limit) ||
      (haveClockOffset && !(std::fabs(offset - clockOffset) <= limit))) {
    return &dropped.impossibleTime;
  }
  if (!haveClockOffset) {
    haveClockOffset = true;
    clockOffset = offset;
  }
  return nullptr;
}

size_t CallSession::request(const TimeOfDay& now, uint8_t* out) {
  StampSenderPacket packet;
  packet.sequence = nextSequence++;
  packet.timestamp = ntpFromTimeOfDay(now);
  packet.errorEstimate.synchronized = settings.clockSynchronized;
  packet.ssid = settings.sessionId;
  packet.directMeasurement = settings.key.empty() && !settings.twamp;
  packet.transmitted = nextSequence;
  if (settings.key.empty() && !settings.twamp) packet.classOfService = dscpOfTos(settings.tos);
  packet.paddingTlv = !settings.twamp;
  packet.timestampInformation = settings.key.empty() && !settings.twamp;
  const size_t length = std::max<size_t>(settings.packetLength, stampBaseLength(mode()));
  encodeStampSender(packet, length, out, mode());
  if (!settings.key.empty()) signStampPacket(settings.key, out);
  sentRing[packet.sequence % sentRing.size()] = Sent{packet.timestamp, true};
  lastSent = now.seconds();
  return length;
}

namespace {

Reflection reflectionOf(const StampReflectorPacket& answer, const TimeOfDay& arrival) {
  Reflection r;
  r.senderSequence = answer.senderSequence;
  r.reflectorSequence = answer.sequence;
  r.t1 = answer.senderTimestamp;
  r.t2 = answer.receiveTimestamp;
  r.t3 = answer.timestamp;
  r.t4 = arrival;
  return r;
}

}  // namespace

bool CallSession::takeAnswer(const uint8_t* data, size_t length, const TimeOfDay& arrival,
                             const IpMarks& marks) {
  StampReflectorPacket answer;
  if (!decodeStampReflector(data, length, &answer, mode())) {
    countUndecoded(data, length);
    return false;
  }
  if (unsigned long long* reason = unscoredReason(answer, data, length, arrival)) {
    ++*reason;
    return false;
  }
  const Reflection r = score(answer, data, length, arrival);
  addTrip(answer, r, data, length, marks);
  return true;
}

void CallSession::countUndecoded(const uint8_t* data, size_t length) {
  if (answersInOtherMode(data, length)) {
    dropped.otherMode++;
    return;
  }
  const unsigned int bytes = static_cast<unsigned int>(length);
  if (dropped.tooShort++ == 0 || bytes < dropped.shortestLength) dropped.shortestLength = bytes;
  dropped.longestShortLength = std::max(dropped.longestShortLength, bytes);
}

unsigned long long* CallSession::unscoredReason(const StampReflectorPacket& answer,
                                                const uint8_t* data, size_t length,
                                                const TimeOfDay& arrival) {
  // A reflector of RFC 8762 alone leaves the session identifier zero.
  if (answer.ssid != settings.sessionId && answer.ssid != 0) {
    return answersInOtherMode(data, length) ? &dropped.otherMode : &dropped.wrongSession;
  }
  if (!settings.key.empty()) {
    if (!stampPacketSigned(settings.key, data, length)) {
      return answersInOtherMode(data, length) ? &dropped.otherMode : &dropped.authFailed;
    }
    if (!answerNumbers.accept(answer.sequence)) return &dropped.replayed;
  } else if (!answersWaitingRequest(answer) && answersInOtherMode(data, length)) {
    return &dropped.otherMode;
  }
  return refusal(answer, arrival);
}

Reflection CallSession::score(const StampReflectorPacket& answer, const uint8_t* data,
                              size_t length, const TimeOfDay& arrival) {
  sentRing[answer.senderSequence % sentRing.size()].waiting = false;
  const size_t requestLength = std::max<size_t>(settings.packetLength, stampBaseLength(mode()));
  if (length != requestLength && dropped.answerLength == 0) {
    dropped.requestLength = static_cast<unsigned int>(requestLength);
    dropped.answerLength = static_cast<unsigned int>(length);
  }
  answered++;
  const Reflection r = reflectionOf(answer, arrival);
  if (r.reflectorSequence != r.senderSequence) numbersDiverged = true;
  StampDirectMeasurement counts;
  if (settings.key.empty() && !settings.twamp &&
      findStampDirectMeasurement(data, length, &counts) &&
      counts.reflectorReceived != 0) {
    countsPerSession = true;
  }
  // A reflector's own count per session never passes the requests sent.
  if (r.reflectorSequence >= nextSequence) numbersRunAhead = true;
  const DirectionPacket both = directions.roundTripPacket(r);
  roundTrip.add(both.arrival, both.payload);
  hold(r);
  return r;
}

void CallSession::addTrip(const StampReflectorPacket& answer, const Reflection& r,
                          const uint8_t* data, size_t length, const IpMarks& marks) {
  Trip trip{unixSeconds(r.t1), TwoWaySplit::roundTrip(r), kUnknown, kUnknown, -1, -1, -1, -1, -1};
  StampClassOfService cos;
  if (settings.key.empty() && !settings.twamp && findStampClassOfService(data, length, &cos) &&
      !cos.unrecognized) {
    trip.forwardDscp = static_cast<int8_t>(cos.dscpReceived);
    trip.reverseDscpSent = static_cast<int8_t>(cos.notHonoured ? cos.dscpReceived : cos.dscpAsked);
  }
  trip.reverseDscp = static_cast<int8_t>(dscpOfTos(marks.tos));
  StampTimestampInformation stamps;
  if (timestamps.empty() && settings.key.empty() && !settings.twamp &&
      findStampTimestampInformation(data, length, &stamps)) {
    timestamps = describeStampTimestamps(stamps);
  }
  if (answer.senderTtlKnown && settings.ttl == 255) {
    trip.forwardHops = static_cast<int16_t>(255 - answer.senderTtl);
  }
  trip.reverseHops = static_cast<int16_t>(hopsFromTtl(marks.ttl));
  if (settings.clockSynchronized && answer.errorEstimate.synchronized) {
    trip.forward = unixSeconds(r.t2) - trip.sent;
    trip.reverse = r.t4.seconds() - unixSeconds(r.t3);
  }
  // Kept in send order; an answer overtaken by a later one goes to its place.
  auto at = trips.end();
  while (at != trips.begin() && std::prev(at)->sent > trip.sent) --at;
  trips.insert(at, trip);
}

void CallSession::split(const Reflection& r) {
  forwardPackets.clear();
  reversePackets.clear();
  directions.add(r, &forwardPackets, &reversePackets);
  for (const DirectionPacket& p : forwardPackets) forward.add(p.arrival, p.payload);
  for (const DirectionPacket& p : reversePackets) reverse.add(p.arrival, p.payload);
}

void CallSession::hold(Reflection r) {
  r.reflectorSequence += reflectorShift;
  // An answer to a newer request than any before, numbered far below the
  // answers before it: the reflector started again (its sessions were
  // lost). The answers held for the old numbering go first; the new one
  // continues the way back's stream where it left off.
  constexpr uint32_t kRestartSlack = 64;  // more than answers overtake each other by
  const bool newer = !answeredAny || r.senderSequence > newestSender;
  if (answeredAny && newer && uint64_t{r.reflectorSequence} + kRestartSlack < nextReflector) {
    releaseAll();
    reflectorShift += nextReflector - r.reflectorSequence;
    r.reflectorSequence = nextReflector;
    TESK_LOG(7, "Call: the reflector numbers from " << r.reflectorSequence - reflectorShift
                                                    << " again: it restarted");
  }
  if (newer) newestSender = r.senderSequence;
  answeredAny = true;
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

void CallSession::releaseAll() {
  while (!held.empty()) {
    if (releasedAny && !numbersRunAhead) lostBack += held.begin()->first - nextReflector;
    nextReflector = held.begin()->first;
    releaseInOrder();
  }
}

void CallSession::settle(const TimeOfDay& now) {
  const double horizon = now.seconds() - settings.window.dejitterLength / 1000.0;
  while (!held.empty() && held.begin()->second.t4.seconds() <= horizon) {
    // The answers before it are lost (before the first, none is known).
    if (releasedAny && !numbersRunAhead) lostBack += held.begin()->first - nextReflector;
    nextReflector = held.begin()->first;
    releaseInOrder();
  }
}

void CallSession::begin(const TimeOfDay& start) {
  forward.begin(start);
  reverse.begin(start);
  roundTrip.begin(start);
}

double CallSession::summarizeTrips(double windowStart, double windowEnd, TeskCallSample* sample) {
  while (!trips.empty() && trips.front().sent < windowStart) trips.pop_front();
  double sum = 0, forwardSum = 0, reverseSum = 0;
  double least = kUnknown, most = kUnknown, newest = 0;
  unsigned int count = 0;
  for (const Trip& t : trips) {
    if (t.sent >= windowEnd) break;
    newest = t.sent;
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
  return newest;
}

void CallSession::summarizeMarks(double windowEnd, TeskCallSample* sample) const {
  std::vector<int> forwardDscp, reverseDscpSent, reverseDscp, forwardHops, reverseHops;
  for (const Trip& t : trips) {
    if (t.sent >= windowEnd) break;
    forwardDscp.push_back(t.forwardDscp);
    reverseDscpSent.push_back(t.reverseDscpSent);
    reverseDscp.push_back(t.reverseDscp);
    forwardHops.push_back(t.forwardHops);
    reverseHops.push_back(t.reverseHops);
  }
  sample->forwardDscpSent = dscpOfTos(settings.tos);
  sample->forwardDscpReceived = mostCommon(forwardDscp);
  sample->reverseDscpSent = mostCommon(reverseDscpSent);
  sample->reverseDscpReceived = mostCommon(reverseDscp);
  sample->forwardHops = mostCommon(forwardHops);
  sample->reverseHops = mostCommon(reverseHops);
}

CallSession::Tick CallSession::tick(const TimeOfDay& now, TeskCallSample* sample) {
  *sample = TeskCallSample{};
  sample->testId = settings.window.testId;
  sample->unscored = dropped;
  const bool warm = forward.sampling();
  const Meter::Tick f = forward.tick(now, &sample->forward);
  const Meter::Tick r = reverse.tick(now, &sample->reverse);
  const Meter::Tick both = roundTrip.tick(now, &sample->roundTrip);
  if (!warm) return Tick::WarmUp;
  // Both meters hear only of answers: when the answers stop, both give up.
  if (f == Meter::Tick::GaveUp && r == Meter::Tick::GaveUp) return Tick::GaveUp;
  sample->haveForward = f == Meter::Tick::Sample;
  sample->haveReverse = r == Meter::Tick::Sample;
  if (both == Meter::Tick::Sample && sample->roundTrip.lostPackets > 0) lossSeen = true;
  if (directions.forwardLost() > 0 || lostBack > 0) lossSeen = true;
  if (numbersRunAhead) {
    sample->wayBack = TeskWayBack::NumbersRunAhead;
  } else if (!numbersDiverged && !countsPerSession && lossSeen) {
    sample->wayBack = TeskWayBack::CopiesSenderNumbers;
  }
  if (sample->wayBack != TeskWayBack::Known) {
    sample->haveForward = sample->haveReverse = false;
    sample->haveRoundTrip = both == Meter::Tick::Sample;
  }
  const double newestAnswered =
      summarizeTrips(now.seconds() - settings.window.windowSize / 1000.0, now.seconds(), sample);
  summarizeMarks(now.seconds(), sample);
  // No answer to the window's requests, or none to those of its last
  // de-jitter length: the reflector or the path was down. What the window
  // did get would read as a low score made of the missing answers' absence,
  // and the loss shows only once answers come back.
  const double quiet = (settings.window.dejitterLength + 2.0 * settings.streamInterval) / 1000;
  if (sample->answers == 0 || newestAnswered < std::min(now.seconds(), lastSent) - quiet) {
    sample->silent = true;
    sample->haveForward = sample->haveReverse = sample->haveRoundTrip = false;
    return Tick::Sample;
  }
  // The conversational rating takes each way's own delay where both clocks
  // are synchronised, and otherwise half the round trip, said as such.
  const VoicePath path{voiceCodecOfModelCodec(settings.codec),
                       static_cast<double>(settings.streamInterval),
                       static_cast<double>(settings.window.dejitterLength)};
  const auto rateWay = [&](TeskSample& s, double delayMs) {
    if (std::isfinite(delayMs)) {
      rateSample(path, delayMs, TeskDelaySource::Measured, &s);
    } else if (std::isfinite(sample->roundTripMeanMs)) {
      rateSample(path, sample->roundTripMeanMs / 2, TeskDelaySource::HalfRoundTrip, &s);
    }
  };
  if (sample->haveForward) rateWay(sample->forward, sample->forwardDelayMs);
  if (sample->haveReverse) rateWay(sample->reverse, sample->reverseDelayMs);
  if (sample->haveRoundTrip) rateWay(sample->roundTrip, kUnknown);
  return sample->haveForward || sample->haveReverse || sample->haveRoundTrip ? Tick::Sample
                                                                            : Tick::Nothing;
}
