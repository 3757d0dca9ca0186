#include "stamp_reflector.h"

#include <algorithm>
#include <cstring>

#include "net_headers.h"
#include "stamp_packet.h"

bool StampReflector::allowed(const uint8_t address[16]) const {
  if (limits.allowed.empty()) return true;
  for (const AddressPrefix& prefix : limits.allowed) {
    if (inAddressPrefix(address, prefix)) return true;
  }
  return false;
}

// A token bucket per source address, a second's worth deep.
bool StampReflector::withinRate(Source& source, double now) {
  if (limits.perSourceRate == 0) return true;
  const double rate = limits.perSourceRate;
  if (source.lastSeen == 0) source.tokens = rate;
  source.tokens = std::min(rate, source.tokens + (now - source.lastSeen) * rate);
  if (source.tokens < 1.0) return false;
  source.tokens -= 1.0;
  return true;
}

template <typename Why>
size_t StampReflector::refuse(uint64_t& counter, const SocketAddress& from, double now, Why why) {
  counter++;
  constexpr double kNoticesPerSecond = 10;
  constexpr size_t kToldAtMost = 10000;
  noticeTokens = std::min(kNoticesPerSecond, noticeTokens + (now - noticeTime) * kNoticesPerSecond);
  noticeTime = now;
  if (noticeTokens < 1 || told.size() >= kToldAtMost) return 0;
  const std::string words = why();
  if (!told.insert(formatAddress(from) + " " + words.substr(0, words.find(':'))).second) return 0;
  noticeTokens -= 1;
  refusals.push_back(formatAddressAndPort(from) + ": " + words);
  return 0;
}

std::vector<std::string> StampReflector::takeRefusals() {
  std::vector<std::string> taken;
  taken.swap(refusals);
  return taken;
}

// A quarter of a large table; a small one is all anyone's.
uint32_t StampReflector::sourceShare() const {
  constexpr uint32_t kSmallTable = 100;
  if (limits.maxSessions <= kSmallTable) return limits.maxSessions;
  return std::max(kSmallTable, limits.maxSessions / 4);
}

bool StampReflector::admit(Source& source, double now) {
  if (source.sessions >= sourceShare()) return false;
  if (sessionTable.size() < limits.maxSessions) return true;
  // A session silent for a second is in no call: it gives up its place.
  constexpr double kInACall = 1.0;  // s; calls send every 150 ms at the most
  if (leastRecent.empty()) return false;
  auto idlest = sessionTable.find(leastRecent.front());
  if (idlest == sessionTable.end() || now - idlest->second.lastSeen < kInACall) return false;
  forget(idlest);
  return true;
}

void StampReflector::forget(std::unordered_map<std::string, Session>::iterator session) {
  auto source = sources.find(session->first.substr(0, 16));
  if (source != sources.end() && source->second.sessions > 0) source->second.sessions--;
  leastRecent.erase(session->second.byUse);
  sessionTable.erase(session);
  count.sessionsForgotten++;
}

StampReflectorPacket StampReflector::reflection(const StampSenderPacket& request, uint32_t sequence,
                                                const TimeOfDay& arrival,
                                                const IpMarks& received) const {
  StampReflectorPacket reply;
  reply.sequence = sequence;
  reply.ssid = request.ssid;
  reply.errorEstimate.synchronized = clockSynchronized;
  reply.receiveTimestamp = ntpFromTimeOfDay(arrival);
  reply.senderSequence = request.sequence;
  reply.senderTimestamp = request.timestamp;
  reply.senderErrorEstimate = request.errorEstimate;
  if (received.ttl >= 0) reply.senderTtl = static_cast<uint8_t>(received.ttl);
  return reply;
}

void StampReflector::refuseUnrequested(const SocketAddress& from, const TimeOfDay& arrival) {
  count.received++;
  refuse(count.notRequested, from, arrival.seconds(),
         [] { return std::string("no TWAMP session: none was set up for this sender"); });
}

size_t StampReflector::answerTwamp(const uint8_t* data, size_t length, const TimeOfDay& arrival,
                                   uint8_t* out, uint32_t* nextSequence, int dscp,
                                   const IpMarks& received, int* answerTos) {
  count.received++;
  if (length < kTwampShortestRequest) {
    count.tooShort++;
    return 0;
  }
  // The sender's fields are STAMP's; past them lies padding (14 bytes on).
  uint8_t fields[kStampShortestRequest] = {};
  std::memcpy(fields, data, std::min(length, sizeof fields));
  StampSenderPacket request;
  decodeStampSender(fields, sizeof fields, &request);
  const size_t answerLength = std::max(length, kStampShortestRequest);
  StampReflectorPacket reply = reflection(request, (*nextSequence)++, arrival, received);
  reply.ssid = 0;  // MBZ in TWAMP, whatever the padding held there
  encodeStampReflectorBase(reply, out, StampMode::Unauthenticated, kStampShortestRequest);
  if (length > kStampShortestRequest) {
    std::memcpy(out + kStampShortestRequest, data + kStampShortestRequest,
                length - kStampShortestRequest);
  }
  if (answerTos != nullptr) *answerTos = dscp >= 0 ? dscp << 2 : received.tos < 0 ? -1 : received.tos & 0xFC;
  count.reflected++;
  return answerLength;
}

namespace {

// A session's name: its sender's address, port and session identifier.
std::string sessionName(const std::string& sourceName, uint16_t port, uint16_t ssid) {
  std::string name = sourceName;
  name.push_back(static_cast<char>(port >> 8));
  name.push_back(static_cast<char>(port));
  name.push_back(static_cast<char>(ssid >> 8));
  name.push_back(static_cast<char>(ssid));
  return name;
}

}  // namespace

size_t StampReflector::answer(const uint8_t* data, size_t length, const SocketAddress& from,
                              const TimeOfDay& arrival, uint8_t* out, const IpMarks& received,
                              int* answerTos) {
  count.received++;
  const double now = arrival.seconds();
  StampSenderPacket request;
  if (!decodeStampSender(data, length, &request, mode())) {
    return refuse(count.tooShort, from, now, [&] {
      return "too short: " + std::to_string(length) + " bytes, where a" +
             (key.empty() ? "" : "n authenticated") + " request has " +
             std::to_string(stampShortestRequest(mode())) + " at least";
    });
  }
  if (!key.empty() && !stampPacketSigned(key, data, length)) {
    return refuse(count.authFailed, from, now,
                  [] { return std::string("authentication failed: no valid HMAC"); });
  }
  uint8_t address[16];
  uint16_t port = 0;
  mappedAddress(from, address, &port);
  if (!allowed(address)) {
    return refuse(count.notAllowed, from, now,
                  [] { return std::string("not allowed: outside the allowed prefixes"); });
  }
  const std::string sourceName(reinterpret_cast<const char*>(address), 16);
  Source& source = sources[sourceName];
  const bool inRate = withinRate(source, now);
  source.lastSeen = now;
  if (!inRate) {
    return refuse(count.overRate, from, now, [&] {
      return "over rate: more than " + std::to_string(limits.perSourceRate) +
             " packets a second from one address";
    });
  }
  Session* session = findOrOpen(sessionName(sourceName, port, request.ssid), source, from, now);
  if (session == nullptr) return 0;
  noteRequest(*session, request, now);
  if (!key.empty() && !session->requests.accept(request.sequence)) {
    return refuse(count.replayed, from, now,
                  [] { return std::string("replayed: a sequence number met before"); });
  }
  return reflect(*session, request, data, length, arrival, out, received, answerTos);
}

StampReflector::Session* StampReflector::findOrOpen(const std::string& name, Source& source,
                                                    const SocketAddress& from, double now) {
  auto found = sessionTable.find(name);
  if (found != sessionTable.end()) {
    leastRecent.splice(leastRecent.end(), leastRecent, found->second.byUse);
    return &found->second;
  }
  if (!admit(source, now)) {
    refuse(count.overSessions, from, now, [&] {
      return source.sessions >= sourceShare()
                 ? "over sessions: its address holds " + std::to_string(source.sessions) +
                       " sessions, its share of the table"
                 : std::string("over sessions: the table is full of sessions in a call");
    });
    return nullptr;
  }
  found = sessionTable.emplace(name, Session{}).first;
  found->second.byUse = leastRecent.insert(leastRecent.end(), name);
  source.sessions++;
  return &found->second;
}

void StampReflector::noteRequest(Session& session, const StampSenderPacket& request, double now) {
  // A sender that starts again from the same address and port numbers from
  // 0 again: its new session is answered from 0 too, not on from the old.
  // Not in authenticated mode, where a replayed first request must not
  // open the door to replaying the rest (a sender starts again there with
  // a new session identifier).
  constexpr uint32_t kRestartAfter = 16;  // past any copy or straggler of its first request
  if (key.empty() && request.sequence == 0 && session.highestRequest >= kRestartAfter) {
    const auto byUse = session.byUse;
    session = Session{};
    session.byUse = byUse;
  }
  session.lastSeen = now;
  session.highestRequest = std::max(session.highestRequest, request.sequence);
}

size_t StampReflector::reflect(Session& session, const StampSenderPacket& request,
                               const uint8_t* data, size_t length, const TimeOfDay& arrival,
                               uint8_t* out, const IpMarks& received, int* answerTos) {
  session.received++;
  const StampReflectorPacket reply =
      reflection(request, session.nextSequence++, arrival, received);
  encodeStampReflectorBase(reply, out, mode(), length);
  reflectStampTlvs(data, length, out + stampBaseLength(mode()), mode());
  fillStampDirectMeasurement(out, length, session.received, session.nextSequence, mode());
  // T2 is the kernel's software stamp, T3 read just before the answer goes.
  const uint8_t sync = clockSynchronized ? 1 : 5;
  fillStampTimestampInformation(out, length, StampTimestampInformation{sync, 2, sync, 2}, mode());
  // ECN is the path's signal to the sender, not the answer's to set.
  const int dscp = fillStampClassOfService(out, length, received.tos, mode());
  if (answerTos != nullptr) *answerTos = dscp < 0 ? -1 : dscp << 2;
  count.reflected++;
  return length;
}

void StampReflector::finish(uint8_t* answer, const TimeOfDay& now) const {
  const uint64_t ntp = ntpFromTimeOfDay(now);
  uint8_t* at = answer + stampTimestampOffset(mode());
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(ntp >> (56 - 8 * i));
  if (!key.empty()) signStampPacket(key, answer);
}

void StampReflector::forgetIdle(const TimeOfDay& now) {
  const double horizon = now.seconds() - limits.idleSeconds;
  while (!leastRecent.empty()) {
    auto idlest = sessionTable.find(leastRecent.front());
    if (idlest->second.lastSeen >= horizon) break;
    forget(idlest);
  }
  // The first housekeeping starts the period rather than ending it.
  if (toldSince == 0) toldSince = now.seconds();
  if (now.seconds() - toldSince >= limits.idleSeconds) {
    told.clear();  // a source still refused after this is said again
    toldSince = now.seconds();
  }
  for (auto it = sources.begin(); it != sources.end();) {
    const bool idle = it->second.lastSeen < horizon && it->second.sessions == 0;
    it = idle ? sources.erase(it) : std::next(it);
  }
}
