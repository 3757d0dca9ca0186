#include "stamp_reflector.h"

#include <algorithm>
#include <cstring>

#include "net_headers.h"
#include "stamp_packet.h"

namespace {

// The sender's address as IPv6 (IPv4 mapped), and its port.
void addressOf(const SocketAddress& from, uint8_t bytes[16], uint16_t* port) {
  std::memset(bytes, 0, 16);
  if (from.family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&from.storage);
    bytes[10] = bytes[11] = 0xFF;
    std::memcpy(bytes + 12, &v4->sin_addr, 4);
    *port = ntohs(v4->sin_port);
  } else {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&from.storage);
    std::memcpy(bytes, &v6->sin6_addr, 16);
    *port = ntohs(v6->sin6_port);
  }
}

bool inPrefix(const uint8_t address[16], const AddressPrefix& prefix) {
  for (unsigned bit = 0; bit < prefix.length; ++bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((address[bit / 8] & mask) != (prefix.bytes[bit / 8] & mask)) return false;
  }
  return true;
}

}  // namespace

bool parseAddressPrefix(const std::string& text, AddressPrefix* out) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  SocketAddress parsed;
  if (address.empty() || !makeSocketAddress(address.c_str(), 0, &parsed)) return false;
  uint16_t port = 0;
  addressOf(parsed, out->bytes, &port);
  const unsigned width = parsed.family() == AF_INET ? 32 : 128;
  unsigned length = width;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 ||
        !std::all_of(bits.begin(), bits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    length = static_cast<unsigned>(std::stoul(bits));
    if (length > width) return false;
  }
  out->length = length + (128 - width);
  return true;
}

bool StampReflector::allowed(const uint8_t address[16]) const {
  if (limits.allowed.empty()) return true;
  for (const AddressPrefix& prefix : limits.allowed) {
    if (inPrefix(address, prefix)) return true;
  }
  return false;
}

// A token bucket per source address, a second's worth deep.
bool StampReflector::withinRate(const std::string& address, double now) {
  if (limits.perSourceRate == 0) return true;
  Source& source = sources[address];
  const double rate = limits.perSourceRate;
  if (source.lastSeen == 0) source.tokens = rate;
  source.tokens = std::min(rate, source.tokens + (now - source.lastSeen) * rate);
  source.lastSeen = now;
  if (source.tokens < 1.0) return false;
  source.tokens -= 1.0;
  return true;
}

size_t StampReflector::answer(const uint8_t* data, size_t length, const SocketAddress& from,
                              const TimeOfDay& arrival, uint8_t* out) {
  count.received++;
  StampSenderPacket request;
  if (!decodeStampSender(data, length, &request, mode())) {
    count.tooShort++;
    return 0;
  }
  if (!key.empty() && !stampPacketSigned(key, data, length)) {
    count.authFailed++;
    return 0;
  }
  uint8_t address[16];
  uint16_t port = 0;
  addressOf(from, address, &port);
  if (!allowed(address)) {
    count.notAllowed++;
    return 0;
  }
  const double now = arrival.seconds();
  const std::string source(reinterpret_cast<const char*>(address), 16);
  if (!withinRate(source, now)) {
    count.overRate++;
    return 0;
  }
  std::string name = source;  // the session's: address, port and identifier
  name.push_back(static_cast<char>(port >> 8));
  name.push_back(static_cast<char>(port));
  name.push_back(static_cast<char>(request.ssid >> 8));
  name.push_back(static_cast<char>(request.ssid));
  auto found = sessionTable.find(name);
  if (found == sessionTable.end()) {
    if (sessionTable.size() >= limits.maxSessions) {
      count.overSessions++;
      return 0;
    }
    found = sessionTable.emplace(name, Session{}).first;
  }
  Session& session = found->second;
  // A sender that starts again from the same address and port numbers from
  // 0 again: its new session is answered from 0 too, not on from the old.
  // Not in authenticated mode, where a replayed first request must not
  // open the door to replaying the rest (a sender starts again there with
  // a new session identifier).
  constexpr uint32_t kRestartAfter = 16;  // past any copy or straggler of its first request
  if (key.empty() && request.sequence == 0 && session.highestRequest >= kRestartAfter) {
    session = Session{};
  }
  session.lastSeen = now;
  session.highestRequest = std::max(session.highestRequest, request.sequence);
  if (!key.empty() && !session.requests.accept(request.sequence)) {
    count.replayed++;
    return 0;
  }

  StampReflectorPacket reply;
  reply.sequence = session.nextSequence++;
  reply.ssid = request.ssid;
  reply.errorEstimate.synchronized = clockSynchronized;
  reply.receiveTimestamp = ntpFromTimeOfDay(arrival);
  reply.senderSequence = request.sequence;
  reply.senderTimestamp = request.timestamp;
  reply.senderErrorEstimate = request.errorEstimate;
  encodeStampReflectorBase(reply, out, mode(), length);
  reflectStampTlvs(data, length, out + stampBaseLength(mode()), mode());
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
  for (auto it = sessionTable.begin(); it != sessionTable.end();) {
    if (it->second.lastSeen < horizon) {
      it = sessionTable.erase(it);
      count.sessionsForgotten++;
    } else {
      ++it;
    }
  }
  for (auto it = sources.begin(); it != sources.end();) {
    it = it->second.lastSeen < horizon ? sources.erase(it) : std::next(it);
  }
}
