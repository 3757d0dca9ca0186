#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "twamp_control.h"
#include "twamp_messages.h"

namespace {

constexpr uint16_t kTestPort = 4000;
constexpr uint64_t kServerStart = 0xE8E5F1C080000000ull;  // NTP

SocketAddress From(const char* address, uint16_t port) {
  SocketAddress a;
  EXPECT_TRUE(makeSocketAddress(address, port, &a)) << address;
  return a;
}

template <typename Encode>
std::string Bytes(size_t length, Encode encode) {
  std::vector<uint8_t> bytes(length);
  encode(bytes.data());
  return std::string(bytes.begin(), bytes.end());
}
std::string Greeting(uint32_t modes) {
  TwampServerGreeting g;
  g.modes = modes;
  return Bytes(kTwampGreetingLength, [&](uint8_t* out) { encodeTwampGreeting(g, out); });
}
std::string SetUpResponse(uint32_t mode) {
  return Bytes(kTwampSetUpResponseLength,
               [&](uint8_t* out) { encodeTwampSetUpResponse(TwampSetUpResponse{mode}, out); });
}
std::string ServerStart(uint8_t accept) {
  const TwampServerStart s{accept, kServerStart};
  return Bytes(kTwampServerStartLength, [&](uint8_t* out) { encodeTwampServerStart(s, out); });
}
std::string Request(const TwampRequestSession& r) {
  return Bytes(kTwampRequestSessionLength, [&](uint8_t* out) { encodeTwampRequestSession(r, out); });
}
std::string Refused(uint8_t accept) {  // an Accept-Session without port or SID
  TwampAcceptSession a;
  a.accept = accept;
  return Bytes(kTwampAcceptSessionLength, [&](uint8_t* out) { encodeTwampAcceptSession(a, out); });
}
std::string StartSessions() { return Bytes(kTwampStartSessionsLength, encodeTwampStartSessions); }
TwampRequestSession SessionFrom(uint16_t senderPort) {
  TwampRequestSession r;
  r.senderPort = senderPort;
  r.receiverPort = kTestPort;
  r.timeout = uint64_t{2} << 32;
  return r;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

// Hands `bytes` over in pieces of random sizes, from one byte to all.
void Deliver(std::string* bytes, std::mt19937& random,
             const std::function<void(const uint8_t*, size_t)>& to) {
  const std::string whole = std::move(*bytes);
  bytes->clear();
  for (size_t at = 0; at < whole.size();) {
    const size_t piece = std::uniform_int_distribution<size_t>(1, whole.size() - at)(random);
    to(reinterpret_cast<const uint8_t*>(whole.data() + at), piece);
    at += piece;
  }
}

// Our client against our server over any split of the stream: the session
// runs, test packets of its sender alone find it (an IPv4 sender also as
// an IPv4-mapped address), and after Stop-Sessions it is answered for its
// Timeout. A second client pipelines every command at once for an IPv6 sender.
TEST(TwampControlTest, ClientAndServerAgreeOverAnySplit) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    TwampControlServer server(TwampControlLimits{}, kTestPort, kServerStart);
    TwampSessionRequest asked;
    asked.senderPort = 5000;
    asked.receiverPort = kTestPort;
    asked.padding = 27;
    asked.dscp = 46;
    TwampControlClient client(asked);
    std::string toClient, toServer;
    const uint64_t id = server.open(From("192.0.2.1", 40000), 0, &toClient);
    ASSERT_NE(id, 0u);
    while (!toClient.empty()) {
      Deliver(&toClient, random,
              [&](const uint8_t* p, size_t n) { client.receive(p, n, 1, &toServer); });
      Deliver(&toServer, random, [&](const uint8_t* p, size_t n) {
        EXPECT_TRUE(server.receive(id, p, n, 1, &toClient));
      });
    }
    ASSERT_EQ(client.state(), TwampControlClient::State::Running) << client.failure();
    EXPECT_EQ(client.reflectorPort(), kTestPort);
    const TwampTestSession* session = server.sessionFor(From("192.0.2.1", 5000), 2);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->dscp, 46);
    EXPECT_EQ(session->padding, 27u);
    EXPECT_EQ(session->timeout, 2.0);
    EXPECT_TRUE(session->started);
    EXPECT_EQ(std::string(session->sid, session->sid + 16),
              std::string(client.sessionId(), client.sessionId() + 16));
    TwampTestSession* mapped = server.sessionFor(From("::ffff:192.0.2.1", 5000), 3);
    ASSERT_EQ(mapped, session);
    mapped->nextSequence = 7;  // the caller's count, kept with the session
    EXPECT_EQ(server.sessionFor(From("192.0.2.1", 5001), 3), nullptr);
    EXPECT_EQ(server.sessionFor(From("192.0.2.2", 5000), 3), nullptr);

    std::string pipelined = SetUpResponse(1), replies;
    TwampRequestSession v6 = SessionFrom(6000);
    v6.ipVersion = 6;
    const uint8_t sender6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    std::copy(sender6, sender6 + 16, v6.senderAddress);
    pipelined += Request(v6) + StartSessions();
    const uint64_t second = server.open(From("198.51.100.7", 40000), 3, &replies);
    replies.clear();
    Deliver(&pipelined, random, [&](const uint8_t* p, size_t n) {
      EXPECT_TRUE(server.receive(second, p, n, 3, &replies));
    });
    EXPECT_EQ(replies.size(), kTwampServerStartLength + kTwampAcceptSessionLength +
                                  kTwampStartAckLength);
    EXPECT_NE(server.sessionFor(From("2001:db8::5", 6000), 4), nullptr);
    EXPECT_NE(replies.substr(kTwampServerStartLength + 4, 16),
              std::string(session->sid, session->sid + 16));  // SIDs are unique

    const std::string stop = client.stopSessions();
    ASSERT_TRUE(server.receive(id, reinterpret_cast<const uint8_t*>(stop.data()), stop.size(), 10,
                               &toClient));
    EXPECT_TRUE(toClient.empty());  // Stop-Sessions has no answer
    EXPECT_EQ(server.nextDeadline(), 12.0);
    session = server.sessionFor(From("192.0.2.1", 5000), 11.9);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->nextSequence, 7u);
    EXPECT_TRUE(server.expire(12).empty());
    EXPECT_EQ(server.sessionFor(From("192.0.2.1", 5000), 12), nullptr);
    EXPECT_EQ(server.sessions(), 1u);  // the IPv6 one runs on
    EXPECT_EQ(server.counters().sessionsEnded, 1u);
  }
}

struct Outcome {
  bool open;
  std::string reply;  // the last call's
};

// Each refusal: the reply that says so, whether the connection stays open,
// its counter, and its words for the operator.
TEST(TwampControlServerTest, RefusalsAreAnsweredAndCounted) {
  struct Row {
    const char* name;
    std::function<void(TwampControlLimits&)> limit;
    std::function<Outcome(TwampControlServer&, std::string&)> run;
    uint64_t TwampControlCounters::*counter;
    std::string reply;
    bool open;
    std::string words;
  };
  auto send = [](TwampControlServer& s, uint64_t id, const std::string& bytes, std::string& out) {
    out.clear();
    return s.receive(id, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, &out);
  };
  auto ready = [&](TwampControlServer& s, std::string& out, const char* address = "192.0.2.1") {
    const uint64_t id = s.open(From(address, 40000), 0, &out);
    send(s, id, SetUpResponse(1), out);
    return id;
  };
  auto requestFrom = [&](uint16_t port, std::function<void(TwampRequestSession&)> change = {}) {
    return [=](TwampControlServer& s, std::string& out) {
      const uint64_t id = ready(s, out);
      TwampRequestSession r = SessionFrom(port);
      if (change) change(r);
      const bool open = send(s, id, Request(r), out);
      return Outcome{open, out};
    };
  };
  auto none = [](TwampControlLimits&) {};
  const std::string kPeer = "192.0.2.1:40000: ";
  const Row rows[] = {
      {"authenticated mode", none,
       [&](TwampControlServer& s, std::string& out) {
         const uint64_t id = s.open(From("192.0.2.1", 40000), 0, &out);
         return Outcome{send(s, id, SetUpResponse(2), out), out};
       },
       &TwampControlCounters::modeRefused, ServerStart(3), false,
       kPeer + "control mode 2 (authenticated) is not served"},
      {"client gives up", none,
       [&](TwampControlServer& s, std::string& out) {
         const uint64_t id = s.open(From("192.0.2.1", 40000), 0, &out);
         return Outcome{send(s, id, SetUpResponse(0), out), out};
       },
       &TwampControlCounters::clientGaveUp, "", false, ""},
      {"unknown command", none,
       [&](TwampControlServer& s, std::string& out) {
         const uint64_t id = ready(s, out);
         return Outcome{send(s, id, std::string(1, '\x09') + std::string(31, '\0'), out), out};
       },
       &TwampControlCounters::badMessages, Refused(3), false,
       kPeer + "unknown command 9: the connection is closed"},
      {"IP version 5", none, requestFrom(5000, [](TwampRequestSession& r) { r.ipVersion = 5; }),
       &TwampControlCounters::sessionsNotSupported, Refused(3), true,
       kPeer + "session refused, IP version 5: only 4 and 6 are served"},
      {"Conf-Sender set", none,
       requestFrom(5000, [](TwampRequestSession& r) { r.confSender = 1; }),
       &TwampControlCounters::sessionsNotSupported, Refused(3), true,
       kPeer + "session refused, Conf-Sender or Conf-Receiver set: TWAMP takes 0"},
      {"sender port 0", none, requestFrom(0), &TwampControlCounters::sessionsNotSupported,
       Refused(3), true, kPeer + "session refused, sender port 0: a session needs one"},
      {"over sessions", [](TwampControlLimits& l) { l.maxSessions = 1; },
       [&](TwampControlServer& s, std::string& out) {
         const uint64_t id = ready(s, out);
         send(s, id, Request(SessionFrom(5000)), out);
         return Outcome{send(s, id, Request(SessionFrom(5001)), out), out};
       },
       &TwampControlCounters::overSessions, Refused(5), true,
       kPeer + "session refused, over sessions: 1 held, the maximum"},
      {"sender in use", none,
       [&](TwampControlServer& s, std::string& out) {
         TwampRequestSession r = SessionFrom(5000);
         r.senderAddress[0] = 192, r.senderAddress[2] = 2, r.senderAddress[3] = 9;
         const uint64_t first = ready(s, out);
         send(s, first, Request(r), out);
         send(s, first, Request(r), out);  // the same connection may ask again
         const uint64_t other = ready(s, out, "192.0.2.2");
         return Outcome{send(s, other, Request(r), out), out};
       },
       &TwampControlCounters::senderInUse, Refused(5), true,
       "192.0.2.2:40000: session refused, sender in use: 192.0.2.9:5000 is another control "
       "connection's session"},
      {"sender in use, IPv6", none,
       [&](TwampControlServer& s, std::string& out) {
         TwampRequestSession r = SessionFrom(5000);
         r.ipVersion = 6;
         r.senderAddress[0] = 0x20, r.senderAddress[1] = 0x01, r.senderAddress[2] = 0x0d;
         r.senderAddress[3] = 0xb8, r.senderAddress[15] = 9;
         send(s, ready(s, out), Request(r), out);
         const uint64_t other = ready(s, out, "192.0.2.2");
         return Outcome{send(s, other, Request(r), out), out};
       },
       &TwampControlCounters::senderInUse, Refused(5), true,
       "192.0.2.2:40000: session refused, sender in use: [2001:db8::9]:5000 is another control "
       "connection's session"},
      {"over connections", [](TwampControlLimits& l) { l.maxConnections = 1; },
       [&](TwampControlServer& s, std::string& out) {
         s.open(From("192.0.2.1", 40000), 0, &out);
         out.clear();
         return Outcome{s.open(From("192.0.2.2", 40000), 0, &out) != 0, out};
       },
       &TwampControlCounters::overConnections, Greeting(0), false,
       "192.0.2.2:40000: over connections: 1 control connections open, the maximum"},
      {"over per source", [](TwampControlLimits& l) { l.perSource = 1; },
       [&](TwampControlServer& s, std::string& out) {
         EXPECT_NE(s.open(From("192.0.2.1", 40000), 0, &out), 0u);
         EXPECT_NE(s.open(From("192.0.2.2", 40000), 0, &out), 0u);
         out.clear();
         return Outcome{s.open(From("::ffff:192.0.2.1", 40001), 0, &out) != 0, out};
       },
       &TwampControlCounters::overPerSource, Greeting(0), false,
       "[::ffff:192.0.2.1]:40001: over per source: 1 control connections open from its "
       "address, the maximum"},
      {"not allowed",
       [](TwampControlLimits& l) { parseAddressPrefix("198.51.100.0/24", &l.allowed.emplace_back()); },
       [&](TwampControlServer& s, std::string& out) {
         return Outcome{s.open(From("192.0.2.1", 40000), 0, &out) != 0, out};
       },
       &TwampControlCounters::notAllowed, Greeting(0), false,
       kPeer + "not allowed: outside the allowed prefixes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TwampControlLimits limits;
    row.limit(limits);
    TwampControlServer server(limits, kTestPort, kServerStart);
    std::string out;
    const Outcome outcome = row.run(server, out);
    EXPECT_EQ(Hex(outcome.reply), Hex(row.reply));
    EXPECT_EQ(outcome.open, row.open);
    EXPECT_EQ(server.counters().*row.counter, 1u);
    const std::vector<std::string> refusals = server.takeRefusals();
    EXPECT_EQ(refusals, row.words.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.words});
    const TwampControlCounters& c = server.counters();
    EXPECT_EQ(c.connections, server.connections() + c.connectionsEnded);
    EXPECT_EQ(c.sessionsAccepted, server.sessions() + c.sessionsEnded);
  }
}

// On virtual time: a silent connection is closed after SERVWAIT, but not
// while its session runs; a session without test packets ends after
// REFWAIT, and its connection then falls silent too.
TEST(TwampControlServerTest, SilenceEndsConnectionsAndSessions) {
  TwampControlLimits limits;
  limits.servWait = 30;
  limits.refWait = 60;
  TwampControlServer server(limits, kTestPort, kServerStart);
  std::string out;
  auto send = [&](uint64_t id, const std::string& bytes, double now) {
    return server.receive(id, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now,
                          &out);
  };
  EXPECT_EQ(server.nextDeadline(), INFINITY);
  const uint64_t idle = server.open(From("192.0.2.1", 40000), 0, &out);
  const uint64_t busy = server.open(From("192.0.2.2", 40000), 0, &out);
  send(busy, SetUpResponse(1) + Request(SessionFrom(5000)), 5);
  EXPECT_TRUE(send(idle, SetUpResponse(1), 10));
  EXPECT_EQ(server.nextDeadline(), 35.0);
  send(busy, StartSessions(), 20);
  EXPECT_EQ(server.nextDeadline(), 40.0);
  EXPECT_TRUE(server.expire(39.9).empty());
  EXPECT_EQ(server.expire(40), std::vector<uint64_t>{idle});
  EXPECT_FALSE(send(idle, SetUpResponse(1), 41));  // forgotten
  EXPECT_NE(server.sessionFor(From("192.0.2.2", 5000), 50), nullptr);
  EXPECT_EQ(server.nextDeadline(), 110.0);  // 60 s after the last test packet
  EXPECT_TRUE(server.expire(109).empty());
  EXPECT_EQ(server.expire(110), std::vector<uint64_t>{busy});  // its last message was at 20
  const TwampControlCounters& c = server.counters();
  EXPECT_EQ(c.servWaitClosed, 2u);
  EXPECT_EQ(c.refWaitEnded, 1u);
  EXPECT_EQ(server.connections(), 0u);
  EXPECT_EQ(server.sessions(), 0u);
  EXPECT_EQ(server.nextDeadline(), INFINITY);
}

// Request-TW-Session byte for byte as twampy's reqSession packs it, every
// other message through its decoder, and a short one refused.
TEST(TwampMessagesTest, EncodeAsTwampyAndDecodeBack) {
  TwampRequestSession r = SessionFrom(20001);
  r.receiverPort = 20002;
  const uint8_t sender[4] = {192, 0, 2, 1}, receiver[4] = {192, 0, 2, 2};
  std::copy(sender, sender + 4, r.senderAddress);
  std::copy(receiver, receiver + 4, r.receiverAddress);
  r.padding = 27;
  r.timeout = uint64_t{3} << 32;
  r.typeP = typePOfDscp(46);
  const std::string zeros12(24, '0');
  EXPECT_EQ(Hex(Request(r)), "05040000" "00000000" "00000000" "4e214e22" "c0000201" + zeros12 +
                                 "c0000202" + zeros12 + std::string(32, '0') + "0000001b" +
                                 std::string(16, '0') + "0000000300000000" + "2e000000" +
                                 std::string(48, '0'));
  TwampRequestSession back;
  const std::string bytes = Request(r);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  ASSERT_TRUE(decodeTwampRequestSession(data, bytes.size(), &back));
  EXPECT_EQ(Request(back), bytes);
  EXPECT_FALSE(decodeTwampRequestSession(data, bytes.size() - 1, &back));

  TwampServerGreeting g;
  g.modes = 7;
  g.salt[15] = 9;
  std::vector<uint8_t> buffer(kTwampLongestMessage);
  encodeTwampGreeting(g, buffer.data());
  TwampServerGreeting g2;
  ASSERT_TRUE(decodeTwampGreeting(buffer.data(), kTwampGreetingLength, &g2));
  EXPECT_EQ(g2.modes, 7u);
  EXPECT_EQ(g2.salt[15], 9);
  EXPECT_EQ(g2.count, 1024u);
  TwampSetUpResponse u;
  EXPECT_TRUE(decodeTwampSetUpResponse(reinterpret_cast<const uint8_t*>(SetUpResponse(4).data()),
                                       kTwampSetUpResponseLength, &u));
  EXPECT_EQ(u.mode, 4u);
  TwampServerStart s;
  ASSERT_TRUE(decodeTwampServerStart(reinterpret_cast<const uint8_t*>(ServerStart(2).data()),
                                     kTwampServerStartLength, &s));
  EXPECT_EQ(s.accept, 2);
  EXPECT_EQ(s.startTime, kServerStart);
  TwampAcceptSession a{0, 4000, {1, 2, 3}}, a2;
  encodeTwampAcceptSession(a, buffer.data());
  ASSERT_TRUE(decodeTwampAcceptSession(buffer.data(), kTwampAcceptSessionLength, &a2));
  EXPECT_EQ(a2.port, 4000);
  EXPECT_EQ(a2.sid[2], 3);
  encodeTwampStartAck(5, buffer.data());
  uint8_t accept = 0;
  ASSERT_TRUE(decodeTwampStartAck(buffer.data(), kTwampStartAckLength, &accept));
  EXPECT_EQ(accept, 5);
  encodeTwampStartSessions(buffer.data());
  EXPECT_TRUE(decodeTwampStartSessions(buffer.data(), kTwampStartSessionsLength));
  EXPECT_FALSE(decodeTwampStopSessions(buffer.data(), kTwampStopSessionsLength, nullptr));
  encodeTwampStopSessions(TwampStopSessions{1, 3}, buffer.data());
  TwampStopSessions stop;
  ASSERT_TRUE(decodeTwampStopSessions(buffer.data(), kTwampStopSessionsLength, &stop));
  EXPECT_EQ(stop.accept, 1);
  EXPECT_EQ(stop.sessions, 3u);
  EXPECT_FALSE(decodeTwampGreeting(buffer.data(), kTwampGreetingLength - 1, &g2));

  EXPECT_EQ(dscpOfTypeP(typePOfDscp(63)), 63);
  EXPECT_EQ(dscpOfTypeP(0), 0);
  EXPECT_EQ(dscpOfTypeP(0x40000000u), -1);  // a PHB ID
  EXPECT_EQ(twampAcceptText(5),
            "cannot perform the request due to temporary resource limitations");
  EXPECT_EQ(twampAcceptText(9), "unknown accept code 9");
}

// A client that meets a refusal stops there, says why, and has sent what
// it should have up to then.
TEST(TwampControlClientTest, RefusalsFailWithWords) {
  auto accepted = [](uint16_t port, uint8_t accept) {
    const TwampAcceptSession a{accept, port, {}};
    return Bytes(kTwampAcceptSessionLength, [&](uint8_t* out) { encodeTwampAcceptSession(a, out); });
  };
  const std::string ok = Greeting(1) + ServerStart(0);
  const struct {
    std::string fromServer;
    size_t sent;
    std::string words;
  } rows[] = {
      {Greeting(0), 0, "the server refuses this client: its greeting offers no mode"},
      {Greeting(6), kTwampSetUpResponseLength, "the server offers no unauthenticated mode (modes 0x6)"},
      {Greeting(1) + ServerStart(2), kTwampSetUpResponseLength,
       "the server refused the control connection: internal error (2)"},
      {ok + accepted(0, 5), kTwampSetUpResponseLength + kTwampRequestSessionLength,
       "the reflector refused the session: cannot perform the request due to temporary "
       "resource limitations (5)"},
      {ok + accepted(0, 0), kTwampSetUpResponseLength + kTwampRequestSessionLength,
       "the reflector accepted the session but named no port"},
      {ok + accepted(4000, 0) + Refused(1),
       kTwampSetUpResponseLength + kTwampRequestSessionLength + kTwampStartSessionsLength,
       "the reflector refused to start the session: failure, reason unspecified (1)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    TwampControlClient client{TwampSessionRequest{}};
    std::string out;
    const std::string bytes = row.fromServer + std::string(100, '\x01');  // ignored once failed
    EXPECT_EQ(client.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 7,
                             &out),
              TwampControlClient::State::Failed);
    EXPECT_EQ(out.size(), row.sent);
    EXPECT_EQ(client.failure(), row.words);
    EXPECT_EQ(client.lastHeard(), 7.0);
  }
}

}  // namespace
