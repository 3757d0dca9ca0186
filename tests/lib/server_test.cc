// The receive test on virtual time over a fake network: every way it ends,
// with its result and when, and the windows it takes.

#include "server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_network.h"
#include "tesk_errors.h"
#include "test_util.h"

namespace {

struct ReceiveRun {
  int result = 0;
  int64_t tookMs = 0;
  std::vector<TeskSample> samples;
  std::vector<int64_t> deliveredMs;  // when each sample came, from the start
  std::string failure;
};

// A sender seen from the receiver: datagrams reaching the socket at set
// times after the test starts.
class Sender {
 public:
  explicit Sender(FakeNetwork& network) : net(network), origin(network.now()) {
    makeSocketAddress("127.0.0.1", 40000, &from);
  }
  // Packet `seq`, sent at `sentMs` and arriving `delayMs` later; `endOfStream`
  // carries no send time.
  void packet(uint32_t seq, int64_t sentMs, int64_t delayMs = 0, bool endOfStream = false) {
    const TimeOfDay sent = net.timeOfDayAt(origin + sentMs * 1000);
    const std::vector<uint8_t> bytes =
        endOfStream ? MakePacket(seq, 0, 0)
                    : MakePacket(seq, static_cast<uint32_t>(sent.sec), static_cast<uint32_t>(sent.usec));
    datagram(bytes, sentMs + delayMs);
  }
  void datagram(const std::vector<uint8_t>& bytes, int64_t atMs) {
    net.deliver(bytes.data(), bytes.size(), from, origin + atMs * 1000);
  }
  // `count` packets every 20 ms from `fromMs`, then end-of-stream packets
  // every 20 ms for `eosMs`.
  void stream(int64_t fromMs, uint32_t count, int64_t eosMs) {
    for (uint32_t seq = 0; seq < count; ++seq) packet(seq, fromMs + seq * 20);
    for (int64_t t = 0; t < eosMs; t += 20) packet(count, fromMs + count * 20 + t, 0, true);
  }

 private:
  FakeNetwork& net;
  const int64_t origin;
  SocketAddress from;
};

ReceiveRun receiveOn(FakeNetwork& net, const TeskReceiveSettings& config) {
  ReceiveRun run;
  const int64_t begun = net.now();
  struct Context {
    ReceiveRun* run;
    FakeNetwork* net;
    int64_t begun;
  } context{&run, &net, begun};
  SampleSink sink;
  sink.context = &context;
  sink.deliver = [](void* c, const TeskSample& s) {
    auto* ctx = static_cast<Context*>(c);
    ctx->run->samples.push_back(s);
    ctx->run->deliveredMs.push_back((ctx->net->now() - ctx->begun) / 1000);
  };
  run.result = runServer(config, sink, net);
  run.tookMs = (net.now() - begun) / 1000;
  run.failure = net.failure().text();
  return run;
}

// Windows of 1.5 s every 0.5 s, taken 120 ms after their tick.
TEST(ServerTest, EveryEndOnVirtualTime) {
  const std::vector<uint8_t> junk(14, 0x71);
  const struct {
    const char* name;
    std::function<void(FakeNetwork&, Sender&)> setUp;
    uint32_t timeoutMs;
    int result;
    int64_t endsAtMs;
    const char* failure;
  } cases[] = {
      // The stream ends at the tick after its first end-of-stream packet
      // (2 s, seen at 2.12 s); the rest is drained until a second of silence.
      {"normal end", [](FakeNetwork&, Sender& s) { s.stream(0, 100, 2000); }, 2000, 0,
       3980 + 1000, ""},
      {"normal end, longest time-out", [](FakeNetwork&, Sender& s) { s.stream(0, 100, 2000); },
       UINT32_MAX, 0, 3980 + 1000, ""},
      // End-of-stream packets that go on: the first read 3 s after the
      // stream ended finishes the test.
      {"end of stream that goes on", [](FakeNetwork&, Sender& s) { s.stream(0, 10, 5000); }, 2000,
       0, 1620 + 3000, ""},
      {"no sender", [](FakeNetwork&, Sender&) {}, 700, TIMEOUT_ERROR, 700,
       "read timeout or error, waiting QosCalc to terminate. Return val 0"},
      {"no sender, longest time-out", [](FakeNetwork&, Sender&) {}, UINT32_MAX, TIMEOUT_ERROR,
       int64_t{UINT32_MAX}, "read timeout"},
      {"sender stops without end of stream", [](FakeNetwork&, Sender& s) { s.stream(0, 50, 0); },
       700, TIMEOUT_ERROR, 980 + 700, "read timeout"},
      // Datagrams that are no test packets keep the socket busy: the wait
      // for a first packet gives up, and a meter whose windows stay empty
      // gives up too.
      {"nothing but foreign datagrams",
       [&junk](FakeNetwork&, Sender& s) {
         for (int t = 0; t < 3000; t += 20) s.datagram(junk, t);
       },
       700, TIMEOUT_ERROR, 700, "Timeout! Exiting!"},
      {"foreign datagrams after the stream",
       [&junk](FakeNetwork&, Sender& s) {
         s.stream(0, 10, 0);
         for (int t = 200; t < 5000; t += 20) s.datagram(junk, t);
       },
       700, TIMEOUT_ERROR, 3120, "No packets received before timeout! Exiting!"},
      {"stop request",
       [](FakeNetwork& n, Sender& s) {
         s.stream(0, 100, 0);
         n.stopAt(n.now() + 500000);
       },
       2000, 0, 500, ""},
      {"socket cannot open", [](FakeNetwork& n, Sender&) { n.refuseSocket(SOCKET_ERROR); }, 200,
       SOCKET_ERROR, 0, ""},
      {"receive fails",
       [](FakeNetwork& n, Sender& s) {
         s.stream(10, 10, 0);
         n.failReceives();
       },
       200, SOCKET_ERROR, 10, "Error receiving"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNetwork net;
    Sender sender(net);
    c.setUp(net, sender);
    const ReceiveRun run = receiveOn(net, ShortReceiveConfig(50000, c.timeoutMs));
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.tookMs, c.endsAtMs);
    EXPECT_NE(run.failure.find(c.failure), std::string::npos) << run.failure;
  }
}

// Ticks every interval from the first packet; a window is taken when the
// de-jitter length after its tick has passed, so a packet held up for less
// than that is received in time, and one held up longer is lost to it.
TEST(ServerTest, TakesEachWindowOnceTheDejitterLengthHasPassed) {
  FakeNetwork net;
  Sender sender(net);
  for (uint32_t seq = 0; seq < 150; ++seq) {
    const int64_t delay = seq == 73 ? 60 : seq == 95 ? 300 : 0;  // sent at 1.46 s and 1.9 s
    sender.packet(seq, seq * 20, delay);
  }
  sender.stream(3100, 0, 200);
  TeskReceiveSettings config = ShortReceiveConfig(50000, 2000);
  config.window.windowSize = 1000;
  const ReceiveRun run = receiveOn(net, config);
  ASSERT_EQ(run.result, 0);
  ASSERT_EQ(run.samples.size(), 5u);  // at 1, 1.5, 2, 2.5 and 3 s
  for (size_t i = 0; i < run.samples.size(); ++i) {
    const TeskSample& s = run.samples[i];
    EXPECT_EQ(s.elapsedSeconds * 1000 + s.elapsedMicroseconds / 1000, 1000 + 500 * i);
    EXPECT_EQ(run.deliveredMs[i], 1000 + 500 * static_cast<int64_t>(i) + 120);
  }
  EXPECT_EQ(run.samples[0].lostPackets, 0u);  // packet 73 came 60 ms late
  EXPECT_EQ(run.samples[1].lostPackets, 0u);
  EXPECT_EQ(run.samples[2].lostPackets, 1u);  // packet 95 came after the window was taken
}

}  // namespace
