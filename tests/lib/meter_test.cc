#include "meter.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "mos_model.h"
#include "test_util.h"

namespace {

constexpr int64_t kT0 = kTestEpoch;

struct MeterRun {
  std::vector<TeskSample> samples;
  Meter::Tick end = Meter::Tick::WarmUp;
  double endedAt = 0;  // seconds after kT0
  size_t held = 0;     // packets still held at the end
};

// Runs a meter as the receive test runs it: it starts at `startMs` (the
// receive test's 10 ms wait step that sees the first packet) and ticks once
// per sampling interval until it ends; each packet enters before the first
// tick at or after its arrival.
MeterRun RunMeter(uint16_t windowMs, uint16_t sampleMs, uint32_t timeoutMs,
                  const Arrivals& arrivals, int64_t startMs = 10) {
  WindowSettings w;
  w.windowSize = windowMs;
  w.sampleInterval = sampleMs;
  w.timeout = timeoutMs;
  w.testId = 4;
  Meter meter(w, "");
  MeterRun run;
  size_t next = 0;
  int64_t nowUs = startMs * 1000;
  auto timeOf = [](int64_t us) { return TimeOfDay{kT0 + us / 1000000, us % 1000000}; };
  auto feed = [&] {
    for (; next < arrivals.size() && arrivals[next].first <= timeOf(nowUs).seconds(); ++next) {
      meter.add(arrivals[next].first, arrivals[next].second);
    }
  };
  feed();
  meter.begin(timeOf(nowUs));
  for (int ticks = 0; ticks < 100000; ++ticks, nowUs += sampleMs * 1000) {
    feed();
    TeskSample sample;
    run.end = meter.tick(timeOf(nowUs), &sample);
    if (run.end == Meter::Tick::Sample) run.samples.push_back(sample);
    if (run.end == Meter::Tick::EndOfStream || run.end == Meter::Tick::GaveUp) break;
  }
  run.endedAt = nowUs / 1e6;
  run.held = meter.heldPackets();
  return run;
}

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

// Two datagrams stamped with the same microsecond are one arrival.
TEST(MeterTest, SameMicrosecondIsOneArrival) {
  Meter meter(WindowSettings{}, "");
  Payload first, second;
  second.seqNum = 2;
  meter.add(1700000000.000001, first);
  meter.add(1700000000.000001, second);
  meter.add(1700000000.000002, second);
  EXPECT_EQ(meter.heldPackets(), 2u);
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
