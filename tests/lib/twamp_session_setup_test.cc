#include "twamp_session_setup.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "tesk_errors.h"
#include "test_util.h"
#include "tcp_socket.h"
#include "twamp_control.h"

namespace {

// A network of one TCP connection on virtual time: what the caller writes
// reaches a TWAMP-Control server at once, what the server says can be read
// at once; a wait with nothing to read moves the clock to its end. The
// server may be absent (the port refuses) or mute (it takes the connection
// and never speaks).
class ControlNetwork : public FakeClock {
 public:
  enum class Peer { Serving, Refusing, Mute };
  ControlNetwork(Peer peerKind, const TwampControlLimits& limits)
      : peer(peerKind), server(limits, 5000) {
    makeSocketAddress("192.0.2.1", 40000, &caller);
  }

  int startTcpConnect(const SocketAddress&, std::string* error) override {
    if (peer == Peer::Refusing) {
      *error = "Connection refused";
      return -1;
    }
    if (peer == Peer::Serving) id = server.open(caller, seconds(), &pending);
    return kFd;
  }
  bool tcpConnected(int, std::string*) override { return true; }
  Wait waitForAny(pollfd* others, size_t count, uint32_t timeoutMs, bool* datagram) override {
    *datagram = false;
    for (size_t i = 0; i < count; ++i) {
      others[i].revents = static_cast<short>(others[i].events & POLLOUT);
      if ((others[i].events & POLLIN) != 0 && (!pending.empty() || closed)) {
        others[i].revents |= POLLIN;
      }
      if (others[i].revents != 0) return Wait::Readable;
    }
    Advance(int64_t{timeoutMs} * 1000);
    return Wait::TimedOut;
  }
  long readTcp(int, uint8_t* buffer, size_t capacity) override {
    if (pending.empty()) return closed ? kTcpClosed : kTcpNothing;
    const size_t n = std::min(capacity, pending.size());
    pending.copy(reinterpret_cast<char*>(buffer), n);
    pending.erase(0, n);
    return static_cast<long>(n);
  }
  long writeTcp(int, const uint8_t* data, size_t length) override {
    written.append(reinterpret_cast<const char*>(data), length);
    if (peer == Peer::Serving && !closed) closed = !server.receive(id, data, length, seconds(), &pending);
    return static_cast<long>(length);
  }
  void closeTcp(int) override { closes++; }

  Peer peer;
  TwampControlServer server;
  SocketAddress caller;
  uint64_t id = 0;
  std::string pending, written;
  bool closed = false;
  int closes = 0;

 private:
  static constexpr int kFd = 7;
  double seconds() { return monotonicMicros() / 1e6; }
};

// The caller's set-up against the server on a fake network: the session
// set up, started and then stopped; or each way it can fail, said with its
// code, on virtual time, and the connection never left open.
TEST(TwampSessionSetupTest, SetsUpOrSaysWhyNot) {
  SocketAddress server;
  makeSocketAddress("192.0.2.7", 862, &server);
  TwampSessionRequest request;
  request.senderPort = 40000;
  request.receiverPort = 862;
  request.padding = 146;
  request.dscp = 46;
  TwampControlLimits full;
  full.maxSessions = 0;
  const struct {
    ControlNetwork::Peer peer;
    TwampControlLimits limits;
    int code;
    const char* why;
  } cases[] = {
      {ControlNetwork::Peer::Serving, TwampControlLimits{}, 0, ""},
      {ControlNetwork::Peer::Serving, full, ANSWER_ERROR,
       "Call: TWAMP control (192.0.2.7:862): the reflector refused the session: cannot perform "
       "the request due to temporary resource limitations (5)"},
      {ControlNetwork::Peer::Refusing, TwampControlLimits{}, SOCKET_ERROR,
       "Call: cannot open a TWAMP control connection to 192.0.2.7:862: Connection refused"},
      {ControlNetwork::Peer::Mute, TwampControlLimits{}, TIMEOUT_ERROR,
       "Call: no answer on the TWAMP control connection to 192.0.2.7:862 within 5 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ControlNetwork net(c.peer, c.limits);
    const int64_t start = net.monotonicMicros();
    TwampSession session;
    EXPECT_EQ(startTwampSession(net, server, request, 5000, &session), c.code);
    EXPECT_EQ(net.failure().text().find(c.why) != std::string::npos, true) << net.failure().text();
    EXPECT_LE(net.monotonicMicros() - start, 5000000 + 2000);
    if (c.code != 0) {
      EXPECT_EQ(session.fd, -1);
      EXPECT_EQ(net.closes, c.peer == ControlNetwork::Peer::Refusing ? 0 : 1);
      continue;
    }
    EXPECT_EQ(session.testPort, 5000);
    ASSERT_NE(net.server.sessionFor(net.caller, 1), nullptr);  // set up and started
    EXPECT_EQ(net.server.sessionFor(net.caller, 1)->dscp, 46);
    stopTwampSession(net, &session);
    EXPECT_EQ(net.closes, 1);
    EXPECT_EQ(net.written.substr(net.written.size() - 32, 1), "\x03");  // Stop-Sessions last
  }
}

}  // namespace
