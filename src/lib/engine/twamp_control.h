#ifndef TESK_TWAMP_CONTROL_H
#define TESK_TWAMP_CONTROL_H

// Both ends of TWAMP-Control (RFC 5357), unauthenticated mode only, apart
// from their sockets: each is fed the bytes that TCP brought, in whatever
// pieces it brought them, with the time, and appends what is to be sent to
// a string that its caller writes to the connection. Neither reads a clock:
// `now` is monotonic time in seconds, given by the caller.
//
// The server lives inside the reflector. It greets each control connection,
// takes the client's test sessions and tells the reflector which test
// packets belong to a running session (sessionFor). An operator's limits
// bound what a client can hold: connections, connections from one address
// and sessions. Every refusal is counted by its reason. Connections left
// silent (SERVWAIT) and sessions left without test packets (REFWAIT) end on
// their own, so that a client that vanishes frees what it held.
//
// The client sets up one test session on a server before a test, runs it
// and stops it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "stamp_reflector.h"
#include "twamp_messages.h"
#include "udp_socket.h"

struct TwampControlLimits {
  uint32_t maxConnections = 64;  // control connections open at once
  uint32_t perSource = 8;        // of these, from one address
  uint32_t maxSessions = 1000;   // test sessions requested and not yet ended
  // s: a control connection with no message for this long is closed, except
  // while its sessions run (between Start-Sessions and Stop-Sessions).
  double servWait = 900;
  double refWait = 900;  // s: a started session with no test packet for this long ends
  std::vector<AddressPrefix> allowed;  // control connections from these alone; empty: all
};

struct TwampControlCounters {
  // Each open() counts once: accepted, or refused for one reason.
  uint64_t connections = 0;      // accepted
  uint64_t overConnections = 0;  // maxConnections were open
  uint64_t overPerSource = 0;    // perSource were open from its address
  uint64_t notAllowed = 0;       // from outside the allowed prefixes
  // Accepted connections that ended since, for whatever reason (the peer's
  // close, a refusal below, SERVWAIT).
  uint64_t connectionsEnded = 0;
  uint64_t modeRefused = 0;     // asked for an authenticated or encrypted mode (Accept 3)
  uint64_t clientGaveUp = 0;    // a Set-Up-Response with Mode 0
  uint64_t badMessages = 0;     // a command this server does not take (Accept 3)
  uint64_t servWaitClosed = 0;  // silent for servWait
  // Each Request-TW-Session counts once: accepted, or refused for one reason.
  uint64_t sessionRequests = 0;
  uint64_t sessionsAccepted = 0;
  // Accept 3: an IP version other than 4 or 6, Conf-Sender or Conf-Receiver
  // set, sender port 0 or padding longer than a datagram holds.
  uint64_t sessionsNotSupported = 0;
  uint64_t overSessions = 0;  // Accept 5: maxSessions were held
  // Accept 5: the sender's address and port are another connection's
  // session until that one ends.
  uint64_t senderInUse = 0;
  // Accepted sessions that ended since, for whatever reason (stopped and
  // past their Timeout, their connection ended first, a new request for
  // their sender, REFWAIT).
  uint64_t sessionsEnded = 0;
  uint64_t refWaitEnded = 0;  // of these, without a test packet for refWait
};

// A test session as the reflector needs it to answer its packets.
struct TwampTestSession {
  uint8_t senderAddress[16] = {};  // IPv4 as IPv4-mapped IPv6
  uint16_t senderPort = 0;
  int dscp = -1;  // for the answers, from Type-P; -1: it names none
  uint32_t padding = 0;  // bytes after the test packet's fields
  double timeout = 0;    // s it is answered after Stop-Sessions
  uint8_t sid[16] = {};
  bool started = false;  // by Start-Sessions
  uint64_t connection = 0;  // its control connection's id (a stopped one outlives it)
  // The caller's: the sequence number of the session's next answer, which a
  // stateful reflector counts per session. The server only sets it to 0
  // when the session is set up.
  uint32_t nextSequence = 0;
};

// The server's end.
//
// Thread safety: none; one thread (the reflector's loop) makes every call.
class TwampControlServer {
 public:
  // `testPort` is where the reflector takes test packets, given to every
  // session; `startTime` (NTP, 0 when unknown) is when the server started,
  // sent in Server-Start and part of every session's SID.
  TwampControlServer(const TwampControlLimits& limits, uint16_t testPort, uint64_t startTime = 0);

  // A new control connection from `peer`: its id (> 0), with the Server
  // Greeting (unauthenticated mode only) appended to *out. 0 when a limit
  // refuses it (counted): *out then holds a greeting with Modes 0, which
  // tells the client so, to send before closing.
  uint64_t open(const SocketAddress& peer, double now, std::string* out);
  // Bytes that arrived on connection `id`: replies appended to *out. False
  // when the connection must now be closed, after *out is sent; it is
  // already forgotten here, as when `id` is unknown. At most one message's
  // bytes are held between calls.
  bool receive(uint64_t id, const uint8_t* data, size_t length, double now, std::string* out);
  // The peer closed or the socket failed: the connection's sessions end,
  // except those already stopped, which are answered until their Timeout as
  // if it were open. Unknown ids are ignored.
  void close(uint64_t id);
  // The connections whose SERVWAIT ran out, for the caller to close (they
  // are forgotten here, and counted). Also ends the sessions past REFWAIT
  // and the stopped ones past their Timeout.
  std::vector<uint64_t> expire(double now);
  // When expire next has something to do; infinity when nothing is pending.
  double nextDeadline() const;

  // The running session (started and not ended) that a test packet from
  // `from` belongs to, or nullptr. A hit notes `now` as the session's last
  // packet, for REFWAIT. The pointer is good until the next call of
  // receive, close or expire; the caller may change nextSequence alone.
  TwampTestSession* sessionFor(const SocketAddress& from, double now);

  const TwampControlCounters& counters() const { return count; }
  size_t connections() const { return connectionTable.size(); }
  size_t sessions() const { return sessionTable.size(); }

  // What was refused since the last call, in words for the operator: once
  // for each source and reason in ten minutes (of the times given to
  // expire), so that a client that keeps trying cannot fill a log
  // ("192.0.2.1:40000: control mode 2 (authenticated) is not served").
  std::vector<std::string> takeRefusals();

 private:
  enum class Phase { AwaitSetUp, Commands };
  struct Connection {
    SocketAddress peer;
    std::string source;  // the peer's 16-byte address
    Phase phase = Phase::AwaitSetUp;
    uint8_t held[kTwampLongestMessage] = {};
    size_t heldLength = 0;
    double lastMessage = 0;
    uint32_t running = 0;  // its sessions started and not stopped
  };
  enum class Run { Requested, Running, Stopped };
  struct Session {
    TwampTestSession test;
    Run run = Run::Requested;
    double lastPacket = 0;
    double endsAt = 0;  // stopped: past its Timeout
  };
  using SessionTable = std::unordered_map<std::string, Session>;  // sender address and port

  // The message whose first bytes are held or arriving: its length, or 0
  // for a command this server does not take.
  size_t messageLength(const Connection& connection, uint8_t first) const;
  // False when the connection must close.
  bool handle(uint64_t id, Connection& connection, const uint8_t* message, double now,
              std::string* out);
  void requestSession(uint64_t id, Connection& connection, const uint8_t* message,
                      std::string* out);
  // The Accept value for a Request-TW-Session on connection `id`; an
  // accepted session is set up, with its port and SID in *reply.
  uint8_t acceptSession(uint64_t id, const Connection& connection,
                        const TwampRequestSession& request, TwampAcceptSession* reply);
  // Whether this server takes sessions like `request` (refused and counted
  // when not).
  bool servedRequest(const TwampRequestSession& request, const SocketAddress& peer);
  // Whether connection `id` may set up the sender's session `key`, its own
  // earlier one ended (refused and counted when not).
  bool roomForSession(uint64_t id, const std::string& key, uint16_t senderPort,
                      const SocketAddress& peer);
  // A new session's test as the request describes it, with a SID of its own.
  void fillTestSession(uint64_t id, const TwampRequestSession& request,
                       const std::string& sender, TwampTestSession* test);
  void startSessions(uint64_t id, Connection& connection, double now);
  void stopSessions(uint64_t id, Connection& connection, double now);
  // Ends the connection's sessions that are not stopped, then the connection.
  void forget(uint64_t id);
  // The session after it.
  SessionTable::iterator endSession(SessionTable::iterator session);
  // Counts a refusal and, where it is new, notes it for the operator: the
  // words of `why()` ("reason: detail"), made only then.
  template <typename Why>
  void refuse(uint64_t& counter, const SocketAddress& peer, Why why);
  bool allowed(const std::string& source) const;
  double computeDeadline() const;

  const TwampControlLimits limits;
  const uint16_t port;
  const uint64_t serverStart;
  TwampControlCounters count;
  uint64_t nextId = 1;
  uint32_t nextSid = 0;
  std::unordered_map<uint64_t, Connection> connectionTable;
  std::unordered_map<std::string, uint32_t> perSource;  // open connections by address
  SessionTable sessionTable;
  std::vector<std::string> refusals;
  std::unordered_set<std::string> told;  // source and reason
  double toldSince = 0;
  // nextDeadline's answer, or NaN when it must be worked out again. A hit
  // in sessionFor only moves a deadline later, so it leaves the answer
  // early at worst: expire then finds nothing to do, and works it out anew.
  mutable double deadline;
};

// What the client asks for.
struct TwampSessionRequest {
  int ipVersion = 4;  // 4 or 6
  // IPv4: the first 4 bytes. The sender's may stay zero: the server then
  // takes the control connection's address.
  uint8_t senderAddress[16] = {};
  uint8_t receiverAddress[16] = {};
  uint16_t senderPort = 0;    // where the test packets come from and the answers go
  uint16_t receiverPort = 0;  // where the test packets are asked to go
  uint32_t padding = 0;       // test packet length less 14
  int dscp = -1;              // for the answers; -1: best effort (Type-P 0)
  uint32_t timeoutSeconds = 2;  // how long the reflector keeps answering after Stop-Sessions
};

// The client's end.
class TwampControlClient {
 public:
  enum class State { AwaitGreeting, AwaitServerStart, AwaitAccept, AwaitStartAck, Running, Failed };

  explicit TwampControlClient(const TwampSessionRequest& request);

  // Bytes from the server, which arrived at `now` (s, monotonic); what to
  // send next is appended to *out. It goes greeting → Set-Up-Response
  // (mode 1; Mode 0 and Failed when the server offers no unauthenticated
  // mode) → Server-Start (Accept 0) → Request-TW-Session → Accept-Session
  // (Accept 0, its port and SID kept) → Start-Sessions → Start-Ack (Accept
  // 0) → Running. Anything else is Failed, with failure() saying why. Bytes
  // in Running or Failed are ignored.
  State receive(const uint8_t* data, size_t length, double now, std::string* out);
  State state() const { return current; }
  // When bytes last came from the server (the `now` of receive; 0 before
  // any), so that a caller can give up on a silent one.
  double lastHeard() const { return heard; }

  // The Stop-Sessions message for the one session (Accept 0).
  std::string stopSessions() const;
  uint16_t reflectorPort() const { return port; }  // from Accept-Session; 0 before
  const uint8_t* sessionId() const { return sid; }  // 16 bytes, from Accept-Session
  // Why it failed, in words ("the reflector refused the session: cannot
  // perform the request due to temporary resource limitations (5)"); empty
  // unless Failed.
  const std::string& failure() const { return why; }

 private:
  size_t messageLength() const;
  void handle(const uint8_t* message, std::string* out);
  // One for each message the client awaits, in turn.
  void takeGreeting(const uint8_t* message, std::string* out);
  void takeServerStart(const uint8_t* message, std::string* out);
  void takeAccept(const uint8_t* message, std::string* out);
  void takeStartAck(const uint8_t* message);
  void fail(const std::string& words);

  const TwampSessionRequest request;
  State current = State::AwaitGreeting;
  uint8_t held[kTwampGreetingLength] = {};
  size_t heldLength = 0;
  double heard = 0;
  uint16_t port = 0;
  uint8_t sid[16] = {};
  std::string why;
};

#endif  // TESK_TWAMP_CONTROL_H
