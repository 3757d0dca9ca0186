#include "meter.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "mos_model.h"
#include "qos_window.h"
#include "test_util.h"

namespace {

constexpr int64_t kT0 = kTestEpoch;

struct MeterRun {
  std::vector<TeskSample> samples;
  Meter::Tick end = Meter::Tick::WarmUp;
  double endedAt = 0;  // seconds after kT0
  size_t held = 0;     // packets still held at the end
};

TimeOfDay TimeAfterEpoch(int64_t us);

// Runs a meter as the receive test runs it: it starts at `startMs` (the
// receive test's 10 ms wait step that sees the first packet) and ticks once
// per sampling interval until it ends; each packet enters before the first
// tick at or after its arrival.
MeterRun RunMeter(const WindowSettings& w, const Arrivals& arrivals, int64_t startMs = 10) {
  const uint16_t sampleMs = w.sampleInterval;
  Meter meter(w, "", nullptr);
  MeterRun run;
  size_t next = 0;
  int64_t nowUs = startMs * 1000;
  auto feed = [&] {
    for (; next < arrivals.size() && arrivals[next].first <= TimeAfterEpoch(nowUs).seconds(); ++next) {
      meter.add(arrivals[next].first, arrivals[next].second);
    }
  };
  feed();
  meter.begin(TimeAfterEpoch(nowUs));
  for (int ticks = 0; ticks < 100000; ++ticks, nowUs += sampleMs * 1000) {
    feed();
    TeskSample sample;
    run.end = meter.tick(TimeAfterEpoch(nowUs), &sample);
    if (run.end == Meter::Tick::Sample) run.samples.push_back(sample);
    if (run.end == Meter::Tick::EndOfStream || run.end == Meter::Tick::GaveUp) break;
  }
  run.endedAt = nowUs / 1e6;
  run.held = meter.heldPackets();
  return run;
}

MeterRun RunMeter(uint16_t windowMs, uint16_t sampleMs, uint32_t timeoutMs,
                  const Arrivals& arrivals, int64_t startMs = 10) {
  WindowSettings w;
  w.windowSize = windowMs;
  w.sampleInterval = sampleMs;
  w.timeout = timeoutMs;
  w.testId = 4;
  return RunMeter(w, arrivals, startMs);
}

TimeOfDay TimeAfterEpoch(int64_t us) { return TimeOfDay{kT0 + us / 1000000, us % 1000000}; }

TEST(MeterTest, CleanStreamGivesOneSamplePerTickAfterTheWarmUp) {
  Arrivals arrivals;
  AddTestStream(arrivals, 0, 250);  // 5 s of packets
  AddTestEndOfStream(arrivals, 5005, 250);
  const MeterRun run = RunMeter(2000, 1000, 5000, arrivals);
  EXPECT_EQ(run.end, Meter::Tick::EndOfStream);
  // Ticks at 0.01, 1.01, ... s: two warm-up ticks, samples at 2.01, 3.01 and
  // 4.01; the tick at 5.01 meets the end-of-stream packet.
  ASSERT_EQ(run.samples.size(), 3u);
  for (size_t i = 0; i < run.samples.size(); ++i) {
    const TeskSample& s = run.samples[i];
    EXPECT_NEAR(s.mos, 4.050403, 5e-7);
    EXPECT_EQ(s.lostPackets, 0u);
    EXPECT_EQ(s.estimatedPackets, 100u);
    EXPECT_EQ(s.lossRate, 0.0);
    EXPECT_EQ(s.averageBurstSize, 1.0);
    EXPECT_EQ(s.avgJitter, 0u);
    EXPECT_EQ(s.testId, 4u);
    EXPECT_EQ(s.startSeconds, static_cast<unsigned>(kT0));
    EXPECT_EQ(s.startMicroseconds, 10000u);
    EXPECT_EQ(s.elapsedSeconds, 2 + i);
    EXPECT_EQ(s.elapsedMicroseconds, 0u);
  }
}

TEST(MeterTest, WarmUpLastsWindowOverInterval) {
  Arrivals arrivals;
  AddTestStream(arrivals, 0, 1000);
  AddTestEndOfStream(arrivals, 20005, 1000);
  const MeterRun run = RunMeter(10000, 5000, 30000, arrivals);
  // Ticks every 5 s: two warm-up ticks, samples at 10 and 15 s, end at 20 s.
  ASSERT_EQ(run.samples.size(), 2u);
  EXPECT_EQ(run.samples[0].elapsedSeconds, 10u);
  EXPECT_EQ(run.samples[0].estimatedPackets, 500u);
}

TEST(MeterTest, RegularLossIsCountedAndScored) {
  Arrivals arrivals;
  std::set<uint32_t> drops;
  for (uint32_t seq = 49; seq < 250; seq += 50) drops.insert(seq);  // every 50th packet lost
  AddTestStream(arrivals, 0, 250, 20, drops);
  AddTestEndOfStream(arrivals, 5005, 250);
  const MeterRun run = RunMeter(2000, 1000, 5000, arrivals);
  ASSERT_EQ(run.samples.size(), 3u);
  for (const TeskSample& s : run.samples) {
    EXPECT_EQ(s.lostPackets, 2u);
    EXPECT_EQ(s.averageBurstSize, 1.0);
    EXPECT_DOUBLE_EQ(s.lossRate, 2.0 / 100);
    EXPECT_LT(s.mos, 4.05);
    EXPECT_GT(s.mos, 1.0);
  }
}

// Packets that share one arrival time (a burst released after a stall, a
// capture stamped coarsely) are all counted. Random streams with random
// drops, in which runs of 2 to 50 received packets arrive at one time: the
// time the run's last packet would have arrived, or exactly a tick (the
// edge between two windows). Every window then counts exactly the drops
// revealed in it and the packets received in it, and the windows that tile
// the stream count every drop once.
TEST(MeterTest, PacketsOfOneArrivalAreAllCounted) {
  constexpr uint32_t kCount = 1500;  // 30 s at 20 ms
  constexpr int64_t kStartUs = 10000, kTickUs = 1000000, kWindowUs = 2000000;
  std::mt19937 random(34);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    std::set<uint32_t> drops;
    for (uint32_t seq = 10; seq < kCount - 10; ++seq) {
      if (random() % 30 == 0) drops.insert(seq);
    }
    Arrivals arrivals;
    AddTestStream(arrivals, 0, kCount, 20, drops);
    for (size_t at = random() % 40; at + 50 < arrivals.size(); at += 2 + random() % 200) {
      const size_t length = 2 + random() % 49;
      const double first = arrivals[at].first, last = arrivals[at + length - 1].first;
      double shared = last;
      const int64_t edgeUs = ((static_cast<int64_t>((last - kT0) * 1e6) - kStartUs) / kTickUs) *
                                 kTickUs + kStartUs;
      if (random() % 2 == 0 && TimeAfterEpoch(edgeUs).seconds() >= first) {
        shared = TimeAfterEpoch(edgeUs).seconds();
      }
      for (size_t k = at; k < at + length; ++k) arrivals[k].first = shared;
      at += length;
    }
    AddTestEndOfStream(arrivals, kCount * 20 + 5, kCount);
    WindowSettings w;
    w.windowSize = kWindowUs / 1000;
    w.sampleInterval = kTickUs / 1000;
    w.dejitterLength = 2000;  // a run's wait is not lateness here
    const MeterRun run = RunMeter(w, arrivals);
    ASSERT_EQ(run.end, Meter::Tick::EndOfStream);

    // Each drop is revealed by the next packet received after it.
    std::vector<double> revealedAt;
    for (size_t i = 1; i < arrivals.size(); ++i) {
      const uint32_t step = arrivals[i].second.seqNum - arrivals[i - 1].second.seqNum;
      for (uint32_t missing = 1; missing < step; ++missing) revealedAt.push_back(arrivals[i].first);
    }
    ASSERT_EQ(revealedAt.size(), drops.size());
    uint32_t tiledLost = 0;
    for (size_t i = 0; i < run.samples.size(); ++i) {
      const TeskSample& s = run.samples[i];
      const int64_t tickUs = kStartUs + int64_t{s.elapsedSeconds} * kTickUs;
      const double end = TimeAfterEpoch(tickUs).seconds();
      const double start = TimeAfterEpoch(tickUs - kWindowUs).seconds();
      auto inWindow = [&](double at) { return at >= start && at < end; };
      uint32_t lost = 0, received = 0;
      for (double at : revealedAt) lost += inWindow(at);
      for (const auto& a : arrivals) received += inWindow(a.first) && !a.second.isEndOfStream();
      ASSERT_EQ(s.lostPackets, lost) << "window ending " << s.elapsedSeconds << " s";
      ASSERT_DOUBLE_EQ(s.lossRate, qosLossRate(received, lost, 100));
      if (s.elapsedSeconds % 2 == 0) tiledLost += s.lostPackets;
    }
    // Tiles from 2 s to the last even tick hold every drop revealed in them.
    uint32_t dropsInTiles = 0;
    const int64_t lastTiledUs =
        kStartUs + int64_t{run.samples.back().elapsedSeconds / 2 * 2} * kTickUs;
    for (double at : revealedAt) {
      dropsInTiles += at >= TimeAfterEpoch(kStartUs).seconds() &&
                      at < TimeAfterEpoch(lastTiledUs).seconds();
    }
    EXPECT_EQ(tiledLost, dropsInTiles);
  }
}

TEST(MeterTest, StreamThatStopsWithoutEndOfStreamTimesOut) {
  Arrivals arrivals;
  AddTestStream(arrivals, 0, 150);  // 3 s, then silence
  const MeterRun run = RunMeter(2000, 1000, 3000, arrivals);
  EXPECT_EQ(run.end, Meter::Tick::GaveUp);
  // Samples at 2.01, 3.01 and 4.01 s; then the window is empty (no sample),
  // the map empties one pass later, and the fourth empty pass (more than
  // 3000 / 1000) ends the task at 9.01 s.
  ASSERT_EQ(run.samples.size(), 3u);
  EXPECT_EQ(run.samples[2].estimatedPackets, 100u);
  EXPECT_DOUBLE_EQ(run.samples[2].lossRate, 1.0 - 49.0 / 100);
  EXPECT_NEAR(run.endedAt, 9.01, 1e-6);
  EXPECT_EQ(run.held, 0u);
}

// Every window is the last `windowSize` ms before its tick, whatever the
// sampling interval, for every setting the command line accepts. The
// expectation comes from the stream's own schedule: a packet is in the
// window of tick T when it was received in [T - windowSize, T], and a lost
// packet is counted in the window that holds the next packet received after
// it (the gap shows only then).
TEST(MeterTest, EveryWindowIsExactlyTheWindowSizeForEverySetting) {
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
          Arrivals arrivals;
          AddTestStream(arrivals, 0, count, interval, drops);
          AddTestEndOfStream(arrivals, streamMs + 5, count);
          const MeterRun run = RunMeter(ws * 1000, sai * 1000, 5000, arrivals);
          ASSERT_EQ(run.end, Meter::Tick::EndOfStream);

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
          ASSERT_GE(run.samples.size(), 2u);
          for (size_t i = 0; i < run.samples.size(); ++i) {
            const TeskSample& s = run.samples[i];
            ASSERT_EQ(s.elapsedSeconds, warmUp * sai + i * sai);
            ASSERT_EQ(s.elapsedMicroseconds, 0u);
            const int64_t tick = 10000 + int64_t{s.elapsedSeconds} * 1000000;
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
            ASSERT_EQ(s.estimatedPackets, ws * 1000u / interval);
            ASSERT_EQ(s.lostPackets, expectLost);
            if (expectLost == 0) {
              ASSERT_EQ(s.lossRate, 0.0);
              ASSERT_EQ(s.averageBurstSize, 1.0);
              ASSERT_DOUBLE_EQ(s.mos, estimateMos(0, 0, 0, 0.0, 1.0, interval / 80.0));
            } else {
              ASSERT_DOUBLE_EQ(s.lossRate, double(expectLost) / (expectReceived + expectLost));
              ASSERT_DOUBLE_EQ(s.averageBurstSize, double(expectLost) / bursts.size());
            }
          }
        }
      }
    }
  }
}

}  // namespace
