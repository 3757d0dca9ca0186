#include "twamp_control.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "capture_decode.h"
#include "net_headers.h"
#include "stamp_packet.h"

namespace {

// A refusal already told is told again after this long (s), so that an
// operator who missed it sees it again while it goes on.
constexpr double kRetellAfter = 600;
constexpr size_t kToldAtMost = 10000;
// A test packet is 14 bytes and its padding, in one UDP datagram.
constexpr uint32_t kMaxPadding = 65507 - 14;
constexpr double kNever = std::numeric_limits<double>::infinity();

// An address as 16 bytes (IPv4 mapped into IPv6), so that a dual-stack
// socket's view of an IPv4 peer and an IPv4 socket's agree; its port too.
std::string addressOf(const SocketAddress& from, uint16_t* port) {
  uint8_t bytes[16] = {};
  *port = 0;
  if (from.family() == AF_INET || from.family() == AF_INET6) mappedAddress(from, bytes, port);
  return std::string(reinterpret_cast<const char*>(bytes), 16);
}

// A request's address (of its IP version) as 16 bytes; empty when it is
// all zeros.
std::string requestAddress(const uint8_t address[16], uint8_t ipVersion) {
  uint8_t bytes[16] = {};
  if (ipVersion == 4) {
    bytes[10] = bytes[11] = 0xFF;
    std::memcpy(bytes + 12, address, 4);
  } else {
    std::memcpy(bytes, address, 16);
  }
  const size_t length = ipVersion == 4 ? 4 : 16;
  if (std::all_of(address, address + length, [](uint8_t b) { return b == 0; })) return "";
  return std::string(reinterpret_cast<const char*>(bytes), 16);
}

std::string sessionKey(const std::string& address, uint16_t port) {
  std::string key = address;
  key.push_back(static_cast<char>(port >> 8));
  key.push_back(static_cast<char>(port));
  return key;
}

// "192.0.2.1:5000" for a session's sender.
std::string describeSender(const uint8_t address[16], uint16_t port) {
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(address, kMapped, 12) == 0) return formatEndpoint(4, address + 12, port);
  return formatEndpoint(6, address, port);
}

template <size_t N>
void append(std::string* out, const uint8_t (&message)[N]) {
  out->append(reinterpret_cast<const char*>(message), N);
}

std::string modeName(uint32_t mode) {
  if (mode == kTwampModeAuthenticated) return " (authenticated)";
  if (mode == kTwampModeEncrypted) return " (encrypted)";
  return "";
}

std::string acceptWords(uint8_t accept) {
  return twampAcceptText(accept) + " (" + std::to_string(accept) + ")";
}

// The Request-TW-Session message for what the client asks for.
TwampRequestSession sessionRequestMessage(const TwampSessionRequest& request) {
  TwampRequestSession session;
  session.ipVersion = static_cast<uint8_t>(request.ipVersion);
  std::memcpy(session.senderAddress, request.senderAddress, 16);
  std::memcpy(session.receiverAddress, request.receiverAddress, 16);
  session.senderPort = request.senderPort;
  session.receiverPort = request.receiverPort;
  session.padding = request.padding;
  session.timeout = uint64_t{request.timeoutSeconds} << 32;
  session.typeP = request.dscp < 0 ? 0 : typePOfDscp(static_cast<uint8_t>(request.dscp));
  return session;
}

}  // namespace

TwampControlServer::TwampControlServer(const TwampControlLimits& controlLimits, uint16_t testPort,
                                       uint64_t startTime)
    : limits(controlLimits), port(testPort), serverStart(startTime), deadline(kNever) {}

template <typename Why>
void TwampControlServer::refuse(uint64_t& counter, const SocketAddress& peer, Why why) {
  counter++;
  if (told.size() >= kToldAtMost) return;
  const std::string words = why();
  if (!told.insert(formatAddress(peer) + " " + words.substr(0, words.find(':'))).second) return;
  refusals.push_back(formatAddressAndPort(peer) + ": " + words);
}

std::vector<std::string> TwampControlServer::takeRefusals() {
  std::vector<std::string> taken;
  taken.swap(refusals);
  return taken;
}

bool TwampControlServer::allowed(const std::string& source) const {
  if (limits.allowed.empty()) return true;
  const auto* address = reinterpret_cast<const uint8_t*>(source.data());
  return std::any_of(limits.allowed.begin(), limits.allowed.end(),
                     [&](const AddressPrefix& prefix) { return inAddressPrefix(address, prefix); });
}

uint64_t TwampControlServer::open(const SocketAddress& peer, double now, std::string* out) {
  uint16_t peerPort = 0;
  const std::string source = addressOf(peer, &peerPort);
  TwampServerGreeting greeting;
  uint8_t message[kTwampGreetingLength];
  auto refused = [&](uint64_t& counter, auto why) -> uint64_t {
    refuse(counter, peer, why);
    greeting.modes = 0;  // "not you": the client learns it was refused
    encodeTwampGreeting(greeting, message);
    append(out, message);
    return 0;
  };
  if (!allowed(source)) {
    return refused(count.notAllowed,
                   [] { return std::string("not allowed: outside the allowed prefixes"); });
  }
  if (connectionTable.size() >= limits.maxConnections) {
    return refused(count.overConnections, [&] {
      return "over connections: " + std::to_string(connectionTable.size()) +
             " control connections open, the maximum";
    });
  }
  const auto fromSource = perSource.find(source);
  if (fromSource != perSource.end() && fromSource->second >= limits.perSource) {
    return refused(count.overPerSource, [&] {
      return "over per source: " + std::to_string(fromSource->second) +
             " control connections open from its address, the maximum";
    });
  }
  const uint64_t id = nextId++;
  Connection& connection = connectionTable[id];
  connection.peer = peer;
  connection.source = source;
  connection.lastMessage = now;
  perSource[source]++;
  count.connections++;
  deadline = std::nan("");
  // The challenge and salt stay zero: only the authenticated and encrypted
  // modes, not served here, read them.
  encodeTwampGreeting(greeting, message);
  append(out, message);
  return id;
}

size_t TwampControlServer::messageLength(const Connection& connection, uint8_t first) const {
  if (connection.phase == Phase::AwaitSetUp) return kTwampSetUpResponseLength;
  switch (first) {
    case kTwampCommandRequestSession:
      return kTwampRequestSessionLength;
    case kTwampCommandStartSessions:
      return kTwampStartSessionsLength;
    case kTwampCommandStopSessions:
      return kTwampStopSessionsLength;
    default:
      return 0;
  }
}

bool TwampControlServer::receive(uint64_t id, const uint8_t* data, size_t length, double now,
                                 std::string* out) {
  const auto found = connectionTable.find(id);
  if (found == connectionTable.end()) return false;
  Connection& connection = found->second;
  while (length > 0) {
    const uint8_t first = connection.heldLength > 0 ? connection.held[0] : data[0];
    const size_t messageSize = messageLength(connection, first);
    if (messageSize == 0) {
      // Its length is unknown, so nothing after it can be read: the
      // connection ends, with the answer RFC 5357 gives an unexpected command.
      refuse(count.badMessages, connection.peer, [&] {
        return "unknown command " + std::to_string(first) + ": the connection is closed";
      });
      TwampAcceptSession reply;
      reply.accept = kTwampAcceptNotSupported;
      uint8_t message[kTwampAcceptSessionLength];
      encodeTwampAcceptSession(reply, message);
      append(out, message);
      forget(id);
      return false;
    }
    const size_t take = std::min(messageSize - connection.heldLength, length);
    std::memcpy(connection.held + connection.heldLength, data, take);
    connection.heldLength += take;
    data += take;
    length -= take;
    if (connection.heldLength < messageSize) break;
    connection.heldLength = 0;
    connection.lastMessage = now;
    deadline = std::nan("");
    if (!handle(id, connection, connection.held, now, out)) {
      forget(id);
      return false;
    }
  }
  return true;
}

bool TwampControlServer::handle(uint64_t id, Connection& connection, const uint8_t* message,
                                double now, std::string* out) {
  if (connection.phase == Phase::AwaitSetUp) {
    TwampSetUpResponse setUp;
    decodeTwampSetUpResponse(message, kTwampSetUpResponseLength, &setUp);
    if (setUp.mode == 0) {  // none of the modes offered suits the client
      count.clientGaveUp++;
      return false;
    }
    TwampServerStart start;
    start.startTime = serverStart;
    if (setUp.mode != kTwampModeUnauthenticated) {
      refuse(count.modeRefused, connection.peer, [&] {
        return "control mode " + std::to_string(setUp.mode) + modeName(setUp.mode) +
               " is not served";
      });
      start.accept = kTwampAcceptNotSupported;
    }
    uint8_t reply[kTwampServerStartLength];
    encodeTwampServerStart(start, reply);
    append(out, reply);
    connection.phase = Phase::Commands;
    return start.accept == kTwampAcceptOk;
  }
  switch (message[0]) {
    case kTwampCommandRequestSession:
      requestSession(id, connection, message, out);
      break;
    case kTwampCommandStartSessions: {
      startSessions(id, connection, now);
      uint8_t reply[kTwampStartAckLength];
      encodeTwampStartAck(kTwampAcceptOk, reply);
      append(out, reply);
      break;
    }
    case kTwampCommandStopSessions:
      stopSessions(id, connection, now);
      break;
  }
  return true;
}

void TwampControlServer::requestSession(uint64_t id, Connection& connection,
                                        const uint8_t* message, std::string* out) {
  count.sessionRequests++;
  TwampRequestSession request;
  decodeTwampRequestSession(message, kTwampRequestSessionLength, &request);
  TwampAcceptSession reply;
  reply.accept = acceptSession(id, connection, request, &reply);
  uint8_t bytes[kTwampAcceptSessionLength];
  encodeTwampAcceptSession(reply, bytes);
  append(out, bytes);
}

uint8_t TwampControlServer::acceptSession(uint64_t id, const Connection& connection,
                                          const TwampRequestSession& request,
                                          TwampAcceptSession* reply) {
  if (!servedRequest(request, connection.peer)) return kTwampAcceptNotSupported;
  std::string sender = requestAddress(request.senderAddress, request.ipVersion);
  if (sender.empty()) sender = connection.source;
  const std::string key = sessionKey(sender, request.senderPort);
  if (!roomForSession(id, key, request.senderPort, connection.peer)) {
    return kTwampAcceptTemporaryLimit;
  }
  TwampTestSession& test = sessionTable[key].test;
  fillTestSession(id, request, sender, &test);
  count.sessionsAccepted++;
  reply->port = port;
  std::memcpy(reply->sid, test.sid, 16);
  return kTwampAcceptOk;
}

bool TwampControlServer::servedRequest(const TwampRequestSession& request,
                                       const SocketAddress& peer) {
  if (request.ipVersion != 4 && request.ipVersion != 6) {
    refuse(count.sessionsNotSupported, peer, [&] {
      return "session refused, IP version " + std::to_string(request.ipVersion) +
             ": only 4 and 6 are served";
    });
    return false;
  }
  // The reflector answers whatever comes; it configures no sender or receiver.
  if (request.confSender != 0 || request.confReceiver != 0) {
    refuse(count.sessionsNotSupported, peer, [] {
      return std::string("session refused, Conf-Sender or Conf-Receiver set: TWAMP takes 0");
    });
    return false;
  }
  // Test packets are told apart by their sender's port.
  if (request.senderPort == 0) {
    refuse(count.sessionsNotSupported, peer,
           [] { return std::string("session refused, sender port 0: a session needs one"); });
    return false;
  }
  if (request.padding > kMaxPadding) {
    refuse(count.sessionsNotSupported, peer, [&] {
      return "session refused, padding too long: " + std::to_string(request.padding) +
             " bytes, more than a datagram holds";
    });
    return false;
  }
  return true;
}

bool TwampControlServer::roomForSession(uint64_t id, const std::string& key, uint16_t senderPort,
                                        const SocketAddress& peer) {
  const auto held = sessionTable.find(key);
  if (held != sessionTable.end()) {
    // Another client's session is not taken from it; the sender is free
    // again once that one ends, hence a temporary limit.
    if (held->second.test.connection != id) {
      refuse(count.senderInUse, peer, [&] {
        return "session refused, sender in use: " +
               describeSender(held->second.test.senderAddress, senderPort) +
               " is another control connection's session";
      });
      return false;
    }
    endSession(held);  // the client asks again: its new request replaces the old
  }
  if (sessionTable.size() >= limits.maxSessions) {
    refuse(count.overSessions, peer, [&] {
      return "session refused, over sessions: " + std::to_string(sessionTable.size()) +
             " held, the maximum";
    });
    return false;
  }
  return true;
}

void TwampControlServer::fillTestSession(uint64_t id, const TwampRequestSession& request,
                                         const std::string& sender, TwampTestSession* test) {
  std::memcpy(test->senderAddress, sender.data(), 16);
  test->senderPort = request.senderPort;
  test->dscp = dscpOfTypeP(request.typeP);
  test->padding = request.padding;
  test->timeout = ntpSeconds(request.timeout);
  test->connection = id;
  // SID (RFC 4656 section 3.5): an address of the receiver, a time and a
  // number, unique to this server and, by its start time, to this run of it.
  const uint8_t* receiver = request.receiverAddress + (request.ipVersion == 4 ? 0 : 12);
  std::memcpy(test->sid, receiver, 4);
  for (int i = 0; i < 8; ++i) {
    test->sid[4 + i] = static_cast<uint8_t>(serverStart >> (56 - 8 * i));
  }
  const uint32_t number = nextSid++;
  for (int i = 0; i < 4; ++i) test->sid[12 + i] = static_cast<uint8_t>(number >> (24 - 8 * i));
}

void TwampControlServer::startSessions(uint64_t id, Connection& connection, double now) {
  for (auto& [key, session] : sessionTable) {
    if (session.test.connection != id || session.run != Run::Requested) continue;
    session.run = Run::Running;
    session.test.started = true;
    session.lastPacket = now;
    connection.running++;
  }
}

void TwampControlServer::stopSessions(uint64_t id, Connection& connection, double now) {
  for (auto it = sessionTable.begin(); it != sessionTable.end();) {
    Session& session = it->second;
    if (session.test.connection != id || session.run == Run::Stopped) {
      ++it;
    } else if (session.run == Run::Requested) {
      it = endSession(it);
    } else {
      // Test packets still in flight are answered for the session's Timeout.
      session.run = Run::Stopped;
      session.endsAt = now + session.test.timeout;
      connection.running--;
      ++it;
    }
  }
}

TwampControlServer::SessionTable::iterator TwampControlServer::endSession(
    SessionTable::iterator session) {
  if (session->second.run == Run::Running) {
    const auto connection = connectionTable.find(session->second.test.connection);
    if (connection != connectionTable.end()) connection->second.running--;
  }
  count.sessionsEnded++;
  deadline = std::nan("");
  return sessionTable.erase(session);
}

void TwampControlServer::forget(uint64_t id) {
  const auto connection = connectionTable.find(id);
  if (connection == connectionTable.end()) return;
  for (auto it = sessionTable.begin(); it != sessionTable.end();) {
    const bool ends = it->second.test.connection == id && it->second.run != Run::Stopped;
    it = ends ? endSession(it) : std::next(it);
  }
  const auto source = perSource.find(connection->second.source);
  if (source != perSource.end() && --source->second == 0) perSource.erase(source);
  connectionTable.erase(connection);
  count.connectionsEnded++;
  deadline = std::nan("");
}

void TwampControlServer::close(uint64_t id) { forget(id); }

std::vector<uint64_t> TwampControlServer::expire(double now) {
  for (auto it = sessionTable.begin(); it != sessionTable.end();) {
    const Session& session = it->second;
    if (session.run != Run::Requested && now >= session.lastPacket + limits.refWait) {
      count.refWaitEnded++;
      it = endSession(it);
    } else if (session.run == Run::Stopped && now >= session.endsAt) {
      it = endSession(it);
    } else {
      ++it;
    }
  }
  std::vector<uint64_t> silent;
  for (const auto& [id, connection] : connectionTable) {
    if (connection.running == 0 && now >= connection.lastMessage + limits.servWait) {
      silent.push_back(id);
    }
  }
  std::sort(silent.begin(), silent.end());
  for (uint64_t id : silent) {
    forget(id);
    count.servWaitClosed++;
  }
  if (now - toldSince >= kRetellAfter) {
    told.clear();
    toldSince = now;
  }
  deadline = std::nan("");
  return silent;
}

// The same sums as expire and sessionFor compare `now` with, so that what
// falls due here is due there to the last bit.
double TwampControlServer::computeDeadline() const {
  double next = kNever;
  for (const auto& [key, session] : sessionTable) {
    if (session.run == Run::Requested) continue;  // ends with its connection
    next = std::min(next, session.lastPacket + limits.refWait);
    if (session.run == Run::Stopped) next = std::min(next, session.endsAt);
  }
  for (const auto& [id, connection] : connectionTable) {
    if (connection.running == 0) next = std::min(next, connection.lastMessage + limits.servWait);
  }
  return next;
}

double TwampControlServer::nextDeadline() const {
  if (std::isnan(deadline)) deadline = computeDeadline();
  return deadline;
}

TwampTestSession* TwampControlServer::sessionFor(const SocketAddress& from, double now) {
  uint16_t fromPort = 0;
  const std::string address = addressOf(from, &fromPort);
  const auto found = sessionTable.find(sessionKey(address, fromPort));
  if (found == sessionTable.end()) return nullptr;
  Session& session = found->second;
  // Past REFWAIT or its Timeout, a session has ended, whether or not
  // expire has run since.
  if (session.run == Run::Requested || now >= session.lastPacket + limits.refWait ||
      (session.run == Run::Stopped && now >= session.endsAt)) {
    return nullptr;
  }
  session.lastPacket = std::max(session.lastPacket, now);
  return &session.test;
}

TwampControlClient::TwampControlClient(const TwampSessionRequest& sessionRequest)
    : request(sessionRequest) {}

size_t TwampControlClient::messageLength() const {
  switch (current) {
    case State::AwaitGreeting:
      return kTwampGreetingLength;
    case State::AwaitServerStart:
      return kTwampServerStartLength;
    case State::AwaitAccept:
      return kTwampAcceptSessionLength;
    case State::AwaitStartAck:
      return kTwampStartAckLength;
    default:
      return 0;
  }
}

TwampControlClient::State TwampControlClient::receive(const uint8_t* data, size_t length,
                                                      double now, std::string* out) {
  if (length > 0) heard = now;
  while (length > 0) {
    const size_t messageSize = messageLength();
    if (messageSize == 0) break;
    const size_t take = std::min(messageSize - heldLength, length);
    std::memcpy(held + heldLength, data, take);
    heldLength += take;
    data += take;
    length -= take;
    if (heldLength < messageSize) break;
    heldLength = 0;
    handle(held, out);
  }
  return current;
}

void TwampControlClient::fail(const std::string& words) {
  current = State::Failed;
  why = words;
}

void TwampControlClient::handle(const uint8_t* message, std::string* out) {
  switch (current) {
    case State::AwaitGreeting:
      return takeGreeting(message, out);
    case State::AwaitServerStart:
      return takeServerStart(message, out);
    case State::AwaitAccept:
      return takeAccept(message, out);
    case State::AwaitStartAck:
      return takeStartAck(message);
    default:
      return;
  }
}

void TwampControlClient::takeGreeting(const uint8_t* message, std::string* out) {
  TwampServerGreeting greeting;
  decodeTwampGreeting(message, kTwampGreetingLength, &greeting);
  if (greeting.modes == 0) {
    return fail("the server refuses this client: its greeting offers no mode");
  }
  TwampSetUpResponse setUp;
  if ((greeting.modes & kTwampModeUnauthenticated) == 0) setUp.mode = 0;
  uint8_t reply[kTwampSetUpResponseLength];
  encodeTwampSetUpResponse(setUp, reply);
  append(out, reply);
  if (setUp.mode == 0) {
    char modes[16];
    std::snprintf(modes, sizeof modes, "0x%x", static_cast<unsigned>(greeting.modes));
    return fail(std::string("the server offers no unauthenticated mode (modes ") + modes + ")");
  }
  current = State::AwaitServerStart;
}

void TwampControlClient::takeServerStart(const uint8_t* message, std::string* out) {
  TwampServerStart start;
  decodeTwampServerStart(message, kTwampServerStartLength, &start);
  if (start.accept != kTwampAcceptOk) {
    return fail("the server refused the control connection: " + acceptWords(start.accept));
  }
  uint8_t bytes[kTwampRequestSessionLength];
  encodeTwampRequestSession(sessionRequestMessage(request), bytes);
  append(out, bytes);
  current = State::AwaitAccept;
}

void TwampControlClient::takeAccept(const uint8_t* message, std::string* out) {
  TwampAcceptSession accept;
  decodeTwampAcceptSession(message, kTwampAcceptSessionLength, &accept);
  if (accept.accept != kTwampAcceptOk) {
    return fail("the reflector refused the session: " + acceptWords(accept.accept));
  }
  if (accept.port == 0) return fail("the reflector accepted the session but named no port");
  port = accept.port;
  std::memcpy(sid, accept.sid, 16);
  uint8_t bytes[kTwampStartSessionsLength];
  encodeTwampStartSessions(bytes);
  append(out, bytes);
  current = State::AwaitStartAck;
}

void TwampControlClient::takeStartAck(const uint8_t* message) {
  uint8_t accept = kTwampAcceptOk;
  decodeTwampStartAck(message, kTwampStartAckLength, &accept);
  if (accept != kTwampAcceptOk) {
    return fail("the reflector refused to start the session: " + acceptWords(accept));
  }
  current = State::Running;
}

std::string TwampControlClient::stopSessions() const {
  TwampStopSessions stop;
  stop.sessions = 1;
  uint8_t bytes[kTwampStopSessionsLength];
  encodeTwampStopSessions(stop, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
