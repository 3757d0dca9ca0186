#include "qos_calc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "mos_model.h"
#include "test_util.h"

namespace {

constexpr int64_t kT0 = 1700000000;

struct Sample {
  double mos;
  unsigned startSec, startUsec, elapsedSec, elapsedUsec, lost, estimated;
  double lossRate, burstSize;
  unsigned jitter, testId;
};

// Drives qosCalc on the test thread with a virtual clock. Packets "arrive"
// (enter the map) when the clock passes their receive time, which happens
// while the task naps.
class Simulation {
 public:
  Simulation(uint16_t windowMs, uint16_t sampleMs, uint32_t timeoutMs) : clock(kT0, 0) {
    params = QosCalcParams{};
    params.payloadMap = &map;
    params.mapMutex = &mutex;
    params.windowSize = windowMs;
    params.sampleInterval = sampleMs;
    params.dejitterLength = 120;
    params.timeout = timeoutMs;
    params.testId = 4;
    params.qosStatus = &status;
    params.serverRunning = &running;
    params.qosState = &state;
    params.callback = &Simulation::Record;
    params.context = this;
    std::strcpy(params.localAddress, "127.0.0.1");
    params.localPort = 50000;
    clock.OnNap([this](FakeClock& c) { Feed(c.NowSeconds()); });
  }

  // `count` packets every 20 ms from `startMs`, each received 5 ms after it
  // was sent; every `dropEvery`-th sequence number is never received.
  void AddStream(int64_t startMs, uint32_t count, uint32_t dropEvery = 0) {
    std::set<uint32_t> drops;
    for (uint32_t seq = 0; dropEvery != 0 && seq < count; ++seq) {
      if (seq % dropEvery == dropEvery - 1) drops.insert(seq);
    }
    AddStream(startMs, count, 20, drops);
  }

  // As above, every `intervalMs`, leaving out the sequence numbers `drops`.
  void AddStream(int64_t startMs, uint32_t count, uint8_t intervalMs,
                 const std::set<uint32_t>& drops) {
    for (uint32_t seq = 0; seq < count; ++seq) {
      if (drops.count(seq) != 0) continue;
      const int64_t sentUs = (kT0 * 1000 + startMs + int64_t{seq} * intervalMs) * 1000;
      Payload p;
      p.seqNum = seq;
      p.sendSec = static_cast<uint32_t>(sentUs / 1000000);
      p.sendUsec = static_cast<uint32_t>(sentUs % 1000000);
      p.packetInterval = intervalMs;
      pending.push_back({(sentUs + 5000) / 1e6, p});
    }
  }

  void AddEndOfStream(int64_t atMs, uint32_t seq) {
    Payload p;
    p.seqNum = seq;
    p.packetInterval = 20;
    pending.push_back({(kT0 * 1000 + atMs) / 1e3, p});
  }

  void Run() { qosCalc(&params); }

  FakeClock clock;
  PayloadMap map;
  std::mutex mutex;
  std::atomic<int16_t> status{0};
  std::atomic<uint8_t> running{1};
  std::atomic<uint8_t> state{kQosRunning};
  QosCalcParams params;
  std::vector<Sample> samples;

 private:
  void Feed(double now) {
    std::lock_guard<std::mutex> lock(mutex);
    while (next < pending.size() && pending[next].first <= now) {
      map[pending[next].first] = pending[next].second;
      next++;
    }
  }

  static void Record(void* self, double mos, unsigned startSec, unsigned startUsec,
                     unsigned elapsedSec, unsigned elapsedUsec, unsigned lost, unsigned estimated,
                     double lossRate, double burstSize, unsigned jitter, unsigned testId) {
    static_cast<Simulation*>(self)->samples.push_back({mos, startSec, startUsec, elapsedSec,
                                                       elapsedUsec, lost, estimated, lossRate,
                                                       burstSize, jitter, testId});
  }

  std::vector<std::pair<double, Payload>> pending;
  size_t next = 0;
};

TEST(QosCalcTest, CleanStreamGivesOneSamplePerTickAfterTheWarmUp) {
  Simulation sim(2000, 1000, 5000);
  sim.AddStream(0, 250);         // 5 s of packets
  sim.AddEndOfStream(5005, 250);
  sim.Run();
  EXPECT_EQ(sim.state.load(), kQosEnded);
  EXPECT_EQ(sim.status.load(), 0);
  // Ticks at 0.01, 1.01, ... s: two warm-up ticks, samples at 2.01, 3.01 and
  // 4.01; the tick at 5.01 meets the end-of-stream packet.
  ASSERT_EQ(sim.samples.size(), 3u);
  for (size_t i = 0; i < sim.samples.size(); ++i) {
    const Sample& s = sim.samples[i];
    EXPECT_NEAR(s.mos, 4.050403, 5e-7);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_EQ(s.estimated, 100u);
    EXPECT_EQ(s.lossRate, 0.0);
    EXPECT_EQ(s.burstSize, 1.0);
    EXPECT_EQ(s.jitter, 0u);
    EXPECT_EQ(s.testId, 4u);
    EXPECT_EQ(s.startSec, static_cast<unsigned>(kT0));
    EXPECT_EQ(s.startUsec, 10000u);
    EXPECT_EQ(s.elapsedSec, 2 + i);
    EXPECT_EQ(s.elapsedUsec, 0u);
  }
}

TEST(QosCalcTest, WarmUpLastsWindowOverInterval) {
  Simulation sim(10000, 5000, 30000);
  sim.AddStream(0, 1000);
  sim.AddEndOfStream(20005, 1000);
  sim.Run();
  // Ticks every 5 s: two warm-up ticks, samples at 10 and 15 s, end at 20 s.
  ASSERT_EQ(sim.samples.size(), 2u);
  EXPECT_EQ(sim.samples[0].elapsedSec, 10u);
  EXPECT_EQ(sim.samples[0].estimated, 500u);
}

TEST(QosCalcTest, RegularLossIsCountedAndScored) {
  Simulation sim(2000, 1000, 5000);
  sim.AddStream(0, 250, 50);  // every 50th packet lost
  sim.AddEndOfStream(5005, 250);
  sim.Run();
  ASSERT_EQ(sim.samples.size(), 3u);
  for (const Sample& s : sim.samples) {
    EXPECT_EQ(s.lost, 2u);
    EXPECT_EQ(s.burstSize, 1.0);
    EXPECT_DOUBLE_EQ(s.lossRate, 2.0 / 100);
    EXPECT_LT(s.mos, 4.05);
    EXPECT_GT(s.mos, 1.0);
  }
}

TEST(QosCalcTest, NoPacketWithinTheTimeout) {
  Simulation sim(2000, 1000, 500);
  sim.Run();
  EXPECT_EQ(sim.status.load(), -1);
  EXPECT_EQ(sim.state.load(), kQosEnded);
  EXPECT_TRUE(sim.samples.empty());
  EXPECT_EQ(sim.clock.TotalNappedMicros(), 51 * 10000);
}

TEST(QosCalcTest, StoppedServerEndsTheTaskWithoutStatus) {
  Simulation sim(2000, 1000, 500);
  sim.running.store(0);
  sim.Run();
  EXPECT_EQ(sim.state.load(), kQosEnded);
  EXPECT_EQ(sim.status.load(), 0);
  EXPECT_EQ(sim.clock.TotalNappedMicros(), 0);
}

TEST(QosCalcTest, StreamThatStopsWithoutEndOfStreamTimesOut) {
  Simulation sim(2000, 1000, 3000);
  sim.AddStream(0, 150);  // 3 s, then silence
  sim.Run();
  EXPECT_EQ(sim.status.load(), -1);
  // Samples at 2.01, 3.01 and 4.01 s; then the window is empty (no sample),
  // the map empties one pass later, and the fourth empty pass (more than
  // 3000 / 1000) ends the task at 9.01 s.
  ASSERT_EQ(sim.samples.size(), 3u);
  EXPECT_EQ(sim.samples[2].estimated, 100u);
  EXPECT_DOUBLE_EQ(sim.samples[2].lossRate, 1.0 - 49.0 / 100);
  EXPECT_NEAR(sim.clock.NowSeconds() - kT0, 9.01, 1e-6);
  EXPECT_TRUE(sim.map.empty());
}

// Every window is the last `windowSize` ms before its tick, whatever the
// sampling interval, for every setting the command line accepts. The
// expectation comes from the stream's own schedule: a packet is in the
// window of tick T when it was received in [T - windowSize, T], and a lost
// packet is counted in the window that holds the next packet received after
// it (the gap shows only then).
TEST(QosCalcTest, EveryWindowIsExactlyTheWindowSizeForEverySetting) {
  for (uint8_t interval : {20, 30}) {
    for (uint16_t ws = 2; ws <= 20; ++ws) {
      for (uint16_t sai = 1; sai < ws && sai <= 10; ++sai) {
        for (bool lossy : {false, true}) {
          SCOPED_TRACE(testing::Message() << "interval " << int{interval} << " ms, ws " << ws
                                          << " s, sai " << sai << " s, lossy " << lossy);
          const int64_t streamMs = (ws + 3 * sai) * 1000;
          const uint32_t count = static_cast<uint32_t>(streamMs / interval);
          std::set<uint32_t> drops;
          if (lossy) {
            for (uint32_t seq = 24; seq < count; seq += 25) drops.insert(seq);
            for (uint32_t seq = count / 2; seq < count / 2 + 5; ++seq) drops.insert(seq);
          }
          Simulation sim(ws * 1000, sai * 1000, 5000);
          sim.AddStream(0, count, interval, drops);
          sim.AddEndOfStream(streamMs + 5, count);
          sim.Run();
          ASSERT_EQ(sim.status.load(), 0);

          // Receive times in µs after kT0; the lost packets, each with the
          // receive time of the packet that reveals it and its burst.
          std::vector<int64_t> received;
          std::vector<std::pair<int64_t, uint32_t>> revealed;
          uint32_t burst = 0;
          for (uint32_t seq = 0; seq < count; ++seq) {
            if (drops.count(seq) != 0) continue;
            const int64_t at = int64_t{seq} * interval * 1000 + 5000;
            received.push_back(at);
            if (seq > 0 && drops.count(seq - 1) != 0) {
              burst++;
              for (uint32_t d = seq; d > 0 && drops.count(d - 1) != 0; --d) {
                revealed.push_back({at, burst});
              }
            }
          }

          // The first tick comes at the 10 ms wait step that sees the first
          // packet; the first sample once a whole window has passed.
          const uint32_t warmUp = (ws + sai - 1) / sai;
          ASSERT_GE(sim.samples.size(), 2u);
          for (size_t i = 0; i < sim.samples.size(); ++i) {
            const Sample& s = sim.samples[i];
            ASSERT_EQ(s.elapsedSec, warmUp * sai + i * sai);
            ASSERT_EQ(s.elapsedUsec, 0u);
            const int64_t tick = 10000 + int64_t{s.elapsedSec} * 1000000;
            const int64_t windowStart = tick - ws * 1000000;
            auto inWindow = [&](int64_t at) { return at >= windowStart && at <= tick; };
            uint32_t expectReceived = 0, expectLost = 0;
            std::set<uint32_t> bursts;
            for (int64_t at : received) expectReceived += inWindow(at);
            for (const auto& lost : revealed) {
              if (!inWindow(lost.first)) continue;
              expectLost++;
              bursts.insert(lost.second);
            }
            ASSERT_EQ(s.estimated, ws * 1000u / interval);
            ASSERT_EQ(s.lost, expectLost);
            if (expectLost == 0) {
              ASSERT_EQ(s.lossRate, 0.0);
              ASSERT_EQ(s.burstSize, 1.0);
              ASSERT_DOUBLE_EQ(s.mos, estimateMos(0, 0, 0, 0.0, 1.0, interval / 80.0));
            } else {
              ASSERT_DOUBLE_EQ(s.lossRate, double(expectLost) / (expectReceived + expectLost));
              ASSERT_DOUBLE_EQ(s.burstSize, double(expectLost) / bursts.size());
            }
          }
        }
      }
    }
  }
}

}  // namespace
