// The two-way loops (call, reflector, probe) driven on virtual time over a
// fake network: pacing, answers, losses, time-outs, stops and failed sends.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>

#include "call_start.h"
#include "fake_network.h"
#include "probe_runner.h"
#include "reflect_start.h"
#include "stamp_reflector.h"
#include "tesk_errors.h"

namespace {

SocketAddress addressOf(const char* text, uint16_t port) {
  SocketAddress a;
  makeSocketAddress(text, port, &a);
  return a;
}

// A STAMP reflector across the fake network, `oneWayMicros` away each way;
// `lose(i, way)` says whether request i (way 0) or its answer (way 1) is lost.
struct FarReflector {
  StampReflector reflector{ReflectorLimits{}};
  int64_t oneWayMicros = 10000;
  std::function<bool(uint32_t, int)> lose = [](uint32_t, int) { return false; };
  uint32_t requests = 0;

  void operator()(FakeNetwork& net, const FakeNetwork::Sent& request) {
    const uint32_t i = requests++;
    if (lose(i, 0)) return;
    const int64_t arrives = request.at + oneWayMicros;
    uint8_t answer[2048];
    const size_t length = reflector.answer(request.bytes.data(), request.bytes.size(),
                                           addressOf("127.0.0.9", 40000), net.timeOfDayAt(arrives),
                                           answer);
    if (length == 0 || lose(i, 1)) return;
    reflector.finish(answer, net.timeOfDayAt(arrives));
    net.deliver(answer, length, request.to, arrives + oneWayMicros);
  }
};

TeskCallConfig threeSecondCall() {
  TeskCallConfig c;
  c.remoteAddress = "127.0.0.1";
  c.testDuration = 3000;
  c.windowSize = 2000;
  c.timeout = 2000;
  return c;
}

struct CallRun {
  TestOutcome outcome;
  CallReport report;
  std::vector<TeskCallSample> samples;
  int64_t took = 0;  // virtual µs
};

CallRun runCallOn(FakeNetwork& net, const TeskCallConfig& config) {
  CallRun run;
  CallSink sink;
  sink.context = &run.samples;
  sink.deliver = [](void* samples, const TeskCallSample& s) {
    static_cast<std::vector<TeskCallSample>*>(samples)->push_back(s);
  };
  const int64_t begun = net.now();
  run.outcome = runCall(callConfigOf(config, 7, false), sink, net, &run.report);
  run.took = net.now() - begun;
  return run;
}

}  // namespace

TEST(CallLoopTest, PacesEveryIntervalAndScoresEveryTickOnceItsAnswersAreBack) {
  FarReflector remote;
  FakeNetwork net(std::ref(remote));
  const CallRun run = runCallOn(net, threeSecondCall());
  ASSERT_EQ(run.outcome.code, 0) << run.outcome.reason;
  ASSERT_EQ(net.sent().size(), 150u);
  for (size_t i = 1; i < net.sent().size(); ++i) {
    ASSERT_EQ(net.sent()[i].at - net.sent()[i - 1].at, 20000) << "request " << i;
  }
  EXPECT_EQ(run.report.answers, 150u);
  // Ticks 0 to 3, each scored after the de-jitter length and the answers' wait.
  EXPECT_EQ(run.took, 3000000 + 120000 + 1000000);
  ASSERT_FALSE(run.samples.empty());
  for (const TeskCallSample& s : run.samples) {
    ASSERT_TRUE(s.haveForward && s.haveReverse);
    EXPECT_EQ(s.forward.lostPackets + s.reverse.lostPackets, 0u);
    EXPECT_NEAR(s.roundTripMeanMs, 20.0, 0.01);
    EXPECT_NEAR(s.forward.networkDelayMs, 10.0, 0.01);  // half the round trip
  }
}

TEST(CallLoopTest, LossesAreCountedInTheWayTheyHappened) {
  for (int way : {0, 1}) {
    FarReflector remote;
    remote.lose = [way](uint32_t i, int w) { return w == way && i % 10 == 5; };
    FakeNetwork net(std::ref(remote));
    const CallRun run = runCallOn(net, threeSecondCall());
    ASSERT_EQ(run.outcome.code, 0) << run.outcome.reason;
    EXPECT_EQ(run.report.answers, 135u);
    unsigned forward = 0, reverse = 0;
    for (const TeskCallSample& s : run.samples) {
      forward += s.forward.lostPackets;
      reverse += s.reverse.lostPackets;
    }
    EXPECT_GT(way == 0 ? forward : reverse, 0u) << "way " << way;
    EXPECT_EQ(way == 0 ? reverse : forward, 0u) << "way " << way;
  }
}

TEST(CallLoopTest, ALateWakeIsNotMadeUpWithABurst) {
  FarReflector remote;
  FakeNetwork net(std::ref(remote));
  net.oversleepOnce(50000);
  const CallRun run = runCallOn(net, threeSecondCall());
  ASSERT_EQ(run.outcome.code, 0) << run.outcome.reason;
  int64_t shortest = INT64_MAX, longest = 0;
  for (size_t i = 1; i < net.sent().size(); ++i) {
    shortest = std::min(shortest, net.sent()[i].at - net.sent()[i - 1].at);
    longest = std::max(longest, net.sent()[i].at - net.sent()[i - 1].at);
  }
  EXPECT_GE(shortest, 10000);  // half an interval after the late one at the earliest
  EXPECT_GE(longest, 50000);
  EXPECT_LT(net.sent().size(), 150u);
}

TEST(CallLoopTest, SilenceStopAndAFailedSendEndTheCallAsTheyShould) {
  struct Case {
    const char* name;
    std::function<void(FakeNetwork&, FarReflector&)> arrange;
    int code;
    const char* reason;
    int64_t endsBy;  // virtual µs
  };
  const Case cases[] = {
      {"silent reflector", [](FakeNetwork&, FarReflector& f) { f.lose = [](uint32_t, int) { return true; }; },
       TIMEOUT_ERROR, "Call: no answer from the reflector before timeout", 2100000},
      {"stop request", [](FakeNetwork& n, FarReflector&) { n.stopAt(n.now() + 500000); }, 0, "",
       500000},
      {"failed send", [](FakeNetwork& n, FarReflector&) { n.failSends(); }, SOCKET_ERROR,
       "Call: error sending to the reflector (network is down)", 0},
  };
  for (const Case& c : cases) {
    FarReflector remote;
    FakeNetwork net(std::ref(remote));
    c.arrange(net, remote);
    const CallRun run = runCallOn(net, threeSecondCall());
    EXPECT_EQ(run.outcome.code, c.code) << c.name;
    EXPECT_NE(run.outcome.reason.find(c.reason), std::string::npos) << c.name << ": " << run.outcome.reason;
    EXPECT_LE(run.took, c.endsBy) << c.name;
  }
}

TEST(ReflectLoopTest, AnswersEachRequestAsItArrivesUntilTheDurationEnds) {
  FakeNetwork net;
  CallSettings settings;
  settings.sessionId = 9;
  CallSession caller(settings);
  caller.begin(net.timeOfDay());
  const SocketAddress from = addressOf("127.0.0.9", 40000);
  std::vector<int64_t> arrivals;
  for (int i = 0; i < 100; ++i) {
    const int64_t at = net.now() + 5000 + i * 20000;
    uint8_t request[2048];
    const size_t length = caller.request(net.timeOfDayAt(at - 3000), request);
    net.deliver(request, length, from, at);
    arrivals.push_back(at);
  }
  ReflectConfig config;
  config.durationMs = 2500;
  ReflectReport report;
  int progressCalls = 0;
  report.progress = [&](const ReflectorCounters&, size_t) { progressCalls++; };
  const int64_t begun = net.now();
  const TestOutcome outcome = runReflector(config, net, &report);
  ASSERT_EQ(outcome.code, 0) << outcome.reason;
  EXPECT_EQ(net.now() - begun, 2500000);
  EXPECT_EQ(progressCalls, 2);
  ASSERT_EQ(net.sent().size(), 100u);
  EXPECT_EQ(report.counters.reflected, 100u);
  for (size_t i = 0; i < net.sent().size(); ++i) {
    const FakeNetwork::Sent& answer = net.sent()[i];
    EXPECT_EQ(answer.at, arrivals[i]);
    EXPECT_TRUE(sameEndpoint(answer.to, from));
    EXPECT_TRUE(caller.takeAnswer(answer.bytes.data(), answer.bytes.size(),
                                  net.timeOfDayAt(answer.at + 3000), IpMarks{}));
  }
}

namespace {

struct CountingHooks : ProbeHooks {
  std::map<std::string, int> samples, scored;  // every sample, and those with a direction scored
  int seconds = 0;
  void sample(const std::string& path, const TeskCallSample& s) override {
    samples[path]++;
    if (s.haveForward || s.haveReverse || s.haveRoundTrip) scored[path]++;
  }
  void everySecond() override { seconds++; }
};

}  // namespace

TEST(ProbeLoopTest, EachPathKeepsItsPaceAndASilentOneStartsAfresh) {
  // The reflector answers 127.0.0.1 and never 127.0.0.2.
  FarReflector remote;
  const SocketAddress dead = addressOf("::ffff:127.0.0.2", 862);
  FakeNetwork net([&](FakeNetwork& n, const FakeNetwork::Sent& s) {
    if (!sameEndpoint(s.to, dead)) remote(n, s);
  });
  std::vector<TeskProbePath> paths(2);
  paths[0].name = "good";
  paths[1].name = "dead";
  paths[1].call.remoteAddress = "127.0.0.2";
  for (TeskProbePath& p : paths) {
    p.call.windowSize = 2000;
    p.call.timeout = 2000;
  }
  ProbeRunner probe;
  std::string error;
  ASSERT_TRUE(probe.setPaths(paths, &error)) << error;
  CountingHooks hooks;
  const TestOutcome outcome = probe.run(6000, net, hooks);
  ASSERT_EQ(outcome.code, 0) << outcome.reason;
  EXPECT_EQ(hooks.seconds, 5);
  EXPECT_EQ(hooks.scored["good"], 3);  // ticks 2 to 4: a 2 s window is full from tick 2
  EXPECT_EQ(hooks.samples["good"], 3);
  EXPECT_EQ(hooks.scored["dead"], 0);
  std::vector<int64_t> goodSends;
  const SocketAddress good = addressOf("::ffff:127.0.0.1", 862);
  for (const FakeNetwork::Sent& s : net.sent()) {
    if (sameEndpoint(s.to, good)) goodSends.push_back(s.at);
  }
  ASSERT_EQ(goodSends.size(), 300u);
  for (size_t i = 1; i < goodSends.size(); ++i) ASSERT_EQ(goodSends[i] - goodSends[i - 1], 20000);
  const std::vector<TeskProbePathStatus> status = probe.status();
  ASSERT_EQ(status.size(), 2u);
  EXPECT_TRUE(status[0].answering);
  EXPECT_EQ(status[0].restarts, 0u);
  EXPECT_FALSE(status[1].answering);
  EXPECT_GE(status[1].restarts, 1u);
  EXPECT_EQ(status[1].answers, 0u);
}
