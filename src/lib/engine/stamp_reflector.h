#ifndef TESK_STAMP_REFLECTOR_H
#define TESK_STAMP_REFLECTOR_H

// A stateful STAMP session-reflector (RFC 8762, unauthenticated), apart from
// its socket: it answers a session-sender's packet with one packet of the
// same size, never larger, numbered by its own sequence per session (a
// session being the sender's address, port and RFC 8972 session identifier),
// so that the sender can tell the two directions' losses apart. The limits
// an operator sets refuse a packet without an answer and count why.
//
// The session table is kept from being taken over by one source: a source
// may hold a share of it only, and a full table makes room for a newcomer
// by forgetting its idlest session, never one that is still in a call (one
// that sent within the last second).

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "address_prefix.h"
#include "stamp_auth.h"
#include "stamp_packet.h"
#include "ip_marks.h"
#include "time_of_day.h"
#include "udp_socket.h"


struct ReflectorLimits {
  uint32_t maxSessions = 10000;
  uint32_t perSourceRate = 1000;  // packets per second from one address (0: no limit)
  uint32_t idleSeconds = 60;      // a session without a packet for this long is forgotten
  std::vector<AddressPrefix> allowed;  // empty: every source
};

struct ReflectorCounters {
  uint64_t received = 0;
  uint64_t reflected = 0;
  uint64_t tooShort = 0;    // shorter than a STAMP packet
  uint64_t notAllowed = 0;  // from outside the allowed prefixes
  uint64_t overRate = 0;    // beyond the per-source rate
  uint64_t overSessions = 0;  // a new session beyond the maximum, or its source's share
  uint64_t sessionsForgotten = 0;  // idle for the limit, or the idlest of a full table
  uint64_t authFailed = 0;  // authenticated mode: no valid HMAC
  uint64_t replayed = 0;    // authenticated mode: a sequence number met before
  uint64_t notRequested = 0;  // TWAMP: from a sender without a session set up
};

class StampReflector {
 public:
  explicit StampReflector(const ReflectorLimits& reflectorLimits) : limits(reflectorLimits) {}

  // Authenticated mode with this key: a request without a valid HMAC, or
  // one that replays a sequence number of its session, is counted and gets
  // no answer; answers are signed.
  void setKey(const StampKey& sessionKey) { key = sessionKey; }

  // The answer to a datagram from `from` that arrived at `arrival` (its
  // receive time, T2), written to `out` (room for `length` bytes); its
  // length, or 0 when it gets none. The answer's own time stamp is set by
  // finish, as late as possible before it is sent.
  // `received` is what the request's IP header said: its TTL goes into the
  // answer (RFC 8762's Session-Sender TTL; 255 when unknown) and its class
  // into a Class of Service TLV. `answerTos`, when given, gets the class
  // the answer goes with: the one the TLV asks for, else the request's own
  // DSCP (-1: unknown, the socket's).
  size_t answer(const uint8_t* data, size_t length, const SocketAddress& from,
                const TimeOfDay& arrival, uint8_t* out, const IpMarks& received = IpMarks{},
                int* answerTos = nullptr);
  // A test packet of a session set up over TWAMP-Control (RFC 5357), which
  // admitted it, so that no limit applies here: from the sender's 14 bytes
  // of fields, answered in the request's own size but never below a
  // reflector packet's 41 bytes, the bytes past the fields returned as they
  // came, numbered by the session's own count (`*nextSequence`). The answer
  // goes in the session's class `dscp` (-1: the request's own), given in
  // `answerTos`. `out` has room for max(length, 41) bytes.
  size_t answerTwamp(const uint8_t* data, size_t length, const TimeOfDay& arrival, uint8_t* out,
                     uint32_t* nextSequence, int dscp, const IpMarks& received, int* answerTos);
  // A test packet from a sender without a TWAMP session: counted (and said,
  // as every refusal is), never answered.
  void refuseUnrequested(const SocketAddress& from, const TimeOfDay& arrival);
  // Stamps the answer's transmit time (T3) and, in authenticated mode, signs it.
  void finish(uint8_t* answer, const TimeOfDay& now) const;
  // Whether answers tell the sender that this host's clock is synchronised
  // (the S bit), so that it may take one-way delays from them.
  void setClockSynchronized(bool synchronized) { clockSynchronized = synchronized; }

  // Forgets the sessions and sources idle since before `now` less the limit.
  void forgetIdle(const TimeOfDay& now);

  const ReflectorCounters& counters() const { return count; }

  // What was refused since the last call, in words, for the operator: once
  // for each source and reason, and ten a second at the most, so that a
  // flood cannot fill a log ("192.0.2.1:40000: 38 bytes, shorter than the
  // 41 of a request").
  std::vector<std::string> takeRefusals();
  size_t sessions() const { return sessionTable.size(); }

 private:
  struct Session {
    uint32_t nextSequence = 0;
    uint32_t highestRequest = 0;  // the sender's highest number so far
    uint32_t received = 0;        // requests taken, for a Direct Measurement TLV
    double lastSeen = 0;
    ReplayWindow requests;  // authenticated mode
    std::list<std::string>::iterator byUse;  // its place in `leastRecent`
  };
  StampMode mode() const {
    return key.empty() ? StampMode::Unauthenticated : StampMode::Authenticated;
  }
  struct Source {
    double tokens = 0;
    double lastSeen = 0;
    uint32_t sessions = 0;
  };
  // The answer's fields for `request`: numbered `sequence`, T2 `arrival`,
  // the TTL the request arrived with (255 when unknown).
  StampReflectorPacket reflection(const StampSenderPacket& request, uint32_t sequence,
                                  const TimeOfDay& arrival, const IpMarks& received) const;
  bool allowed(const uint8_t address[16]) const;
  // Counts a refusal and, where it is new, notes it for the operator: the
  // words of `why()`, made only then.
  template <typename Why>
  size_t refuse(uint64_t& counter, const SocketAddress& from, double now, Why why);
  bool withinRate(Source& source, double now);
  // A new session's place, if the table and its source's share have room
  // (or the table's idlest session can give it up).
  bool admit(Source& source, double now);
  // The session named `name`, made the most recent, or a new one where
  // admit finds room; nullptr (refused and counted) where it does not.
  Session* findOrOpen(const std::string& name, Source& source, const SocketAddress& from,
                      double now);
  // Notes a request of the session: its time and number, restarting the
  // session when its sender starts again.
  void noteRequest(Session& session, const StampSenderPacket& request, double now);
  // Writes the session's answer to an accepted request into `out`; its length.
  size_t reflect(Session& session, const StampSenderPacket& request, const uint8_t* data,
                 size_t length, const TimeOfDay& arrival, uint8_t* out, const IpMarks& received,
                 int* answerTos);
  void forget(std::unordered_map<std::string, Session>::iterator session);
  uint32_t sourceShare() const;

  const ReflectorLimits limits;
  bool clockSynchronized = false;
  StampKey key;
  ReflectorCounters count;
  std::unordered_map<std::string, Session> sessionTable;  // address, port, session id
  std::list<std::string> leastRecent;  // the sessions' names, the idlest first
  std::unordered_map<std::string, Source> sources;        // address
  std::vector<std::string> refusals;
  std::unordered_set<std::string> told;  // source and reason; emptied with the idle sessions
  double noticeTokens = 10, noticeTime = 0, toldSince = 0;
};

#endif  // TESK_STAMP_REFLECTOR_H
