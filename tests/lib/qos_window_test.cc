#include "qos_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr double kT0 = 1700000000.0;

struct Packet {
  uint32_t seq;
  double sent;      // seconds after kT0
  double received;  // seconds after kT0
  uint8_t interval = 20;
};

Payload MakePayload(uint32_t seq, double sentAt, uint8_t interval) {
  Payload p;
  p.seqNum = seq;
  const double micros = std::round(sentAt * 1e6);
  p.sendSec = static_cast<uint32_t>(micros / 1e6);
  p.sendUsec = static_cast<uint32_t>(micros - p.sendSec * 1e6);
  p.packetInterval = interval;
  return p;
}

// Packets sent every 20 ms and received 50 ms later, in the order given.
PayloadMap MapOf(const std::vector<Packet>& packets) {
  PayloadMap map;
  for (const Packet& p : packets) {
    map.add(kT0 + p.received, MakePayload(p.seq, kT0 + p.sent, p.interval));
  }
  return map;
}

std::vector<Packet> Arrivals(const std::vector<uint32_t>& order, double transit = 0.05) {
  std::vector<Packet> packets;
  for (size_t i = 0; i < order.size(); ++i) {
    packets.push_back({order[i], order[i] * 0.02, i * 0.02 + transit + 1.0});
  }
  return packets;
}

QosWindowConfig Config(uint16_t windowMs = 4000, uint16_t dejitterMs = 120) {
  QosWindowConfig c;
  c.windowSize = windowMs;
  c.dejitterLength = dejitterMs;
  return c;
}

std::vector<uint32_t> Sequences(const PayloadMap& map) {
  std::vector<uint32_t> seqs;
  for (const auto& entry : map) seqs.push_back(entry.second.seqNum);
  return seqs;
}

TEST(QosWindowTest, DisorderedPacketsUndoTheirLoss) {
  PayloadMap map = MapOf(Arrivals({1, 2, 5, 3, 4}));
  QosRunningState st;
  QosSampleCounts c;
  ASSERT_EQ(qosSamplePass(map, kT0, Config(), st, c), QosPassResult::Sample);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.bursts, 0);
  EXPECT_EQ(c.disordered, 2u);
  EXPECT_EQ(c.received, 5u);
  EXPECT_EQ(qosAverageBurstSize(c.lost, c.bursts), 1.0);
  EXPECT_EQ(st.prevSeq, 5u);  // disordered packets leave it where it was
  EXPECT_EQ(st.estimatedPackets, 200u);
  EXPECT_EQ(map.size(), 5u);  // packets in the window stay for later passes
}

TEST(QosWindowTest, SequenceGapsAreLossBursts) {
  PayloadMap map = MapOf(Arrivals({1, 2, 5, 6, 7, 9}));
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0, Config(), st, c);
  EXPECT_EQ(c.lost, 3u);
  EXPECT_EQ(c.bursts, 2);
  EXPECT_EQ(c.received, 6u);
  EXPECT_EQ(c.disordered, 0u);
  EXPECT_DOUBLE_EQ(qosAverageBurstSize(c.lost, c.bursts), 1.5);
  EXPECT_EQ(st.highestSeq, 9u);
  EXPECT_EQ(st.totPackets, 6u);
}

TEST(QosWindowTest, APacketWhoseTransitGrewBeyondTheDejitterBufferIsLost) {
  std::vector<Packet> packets = Arrivals({1, 2, 3, 4, 5});
  packets[2].received += 0.13;  // 3 arrives 130 ms late: more than 120 ms
  packets[3].received += 0.26;  // 4 later still, relative to 3 it grew 130 ms
  packets[4].received += 0.26;  // 5 keeps 4's transit: in time
  PayloadMap map = MapOf(packets);
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0, Config(), st, c);
  EXPECT_EQ(c.lost, 2u);
  EXPECT_EQ(c.bursts, 1);  // consecutive late packets make one burst
  EXPECT_EQ(c.received, 3u);
  EXPECT_FALSE(st.prevLate);

  // With a larger buffer nothing is late.
  map = MapOf(packets);
  st = QosRunningState();
  qosSamplePass(map, kT0, Config(4000, 200), st, c);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.received, 5u);
}

TEST(QosWindowTest, JitterIsTheMeanTransitDifference) {
  std::vector<Packet> packets = Arrivals({1, 2, 3, 4, 5, 6, 7});
  for (size_t i = 1; i < packets.size(); i += 2) packets[i].received += 0.010;
  PayloadMap map = MapOf(packets);
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0, Config(), st, c);
  uint32_t jitter = 0;
  ASSERT_TRUE(qosAverageJitterMillis(c.jitterSum, c.received, &jitter));
  // Six steps of 10 ms over seven packets (the first has no step).
  EXPECT_EQ(jitter, 9u);
  EXPECT_NEAR(c.jitterSum, 0.060, 1e-6);
}

TEST(QosWindowTest, PacketsBeforeTheWindowOnlyMovePreviousSequence) {
  PayloadMap map = MapOf(Arrivals({1, 2, 3, 4, 5}));
  QosRunningState st;
  QosSampleCounts c;
  const double windowStart = kT0 + 1.0 + 0.05 + 0.03;  // 1, 2 before; 3, 4, 5 inside
  qosSamplePass(map, windowStart, Config(), st, c);
  EXPECT_EQ(c.received, 3u);
  EXPECT_EQ(c.lost, 0u);
  // The newest packet before the window stays for the next pass.
  EXPECT_EQ(Sequences(map), (std::vector<uint32_t>{2, 3, 4, 5}));

  // Next pass: 2 is met again first and goes; 3 newly left the window and
  // stays as the new leftover.
  qosSamplePass(map, windowStart + 0.02, Config(), st, c);
  EXPECT_EQ(Sequences(map), (std::vector<uint32_t>{3, 4, 5}));
  EXPECT_EQ(c.received, 2u);
}

TEST(QosWindowTest, WhenPacketsStopTheMapEmptiesOnePassLater) {
  PayloadMap map = MapOf(Arrivals({1, 2, 3}));
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0 + 10.0, Config(), st, c);
  EXPECT_EQ(Sequences(map), (std::vector<uint32_t>{3}));
  EXPECT_EQ(st.prevSeq, 3u);
  EXPECT_EQ(c.received, 0u);
  qosSamplePass(map, kT0 + 11.0, Config(), st, c);
  EXPECT_TRUE(map.empty());
}

TEST(QosWindowTest, EndOfStreamStopsThePassWherever) {
  for (size_t position : {0, 2, 4}) {
    std::vector<Packet> packets = Arrivals({1, 2, 3, 4, 5});
    PayloadMap map = MapOf(packets);
    auto it = std::next(map.begin(), static_cast<long>(position));
    it->second.sendSec = 0;
    it->second.sendUsec = 0;
    QosRunningState st;
    QosSampleCounts c;
    EXPECT_EQ(qosSamplePass(map, kT0, Config(), st, c), QosPassResult::EndOfStream) << position;
    EXPECT_EQ(c.received, position) << "packets before it were counted";
  }
}

TEST(QosWindowTest, FirstPacketOfTheWindowArrivingDisordered) {
  // 5 left the window; 3 is the first in the window but older than 5, and
  // so is 4: their gaps were counted before the window and they count for
  // nothing here. A gap that this window opened (7, behind 8) is still
  // undone when 7 arrives, and so is a gap that is filled only after the
  // tick at 1.11 (10, behind 11), while a copy of 6 undoes nothing.
  std::vector<Packet> packets = {{5, 0.10, 1.00},  {3, 0.06, 1.02},  {4, 0.08, 1.04},
                                 {6, 0.12, 1.06},  {8, 0.16, 1.08},  {7, 0.14, 1.10},
                                 {9, 0.18, 1.105}, {11, 0.22, 1.107}, {6, 0.12, 1.108},
                                 {12, 0.24, 1.12}, {10, 0.20, 1.13}};
  PayloadMap map = MapOf(packets);
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0 + 1.01, Config(), st, c, kT0 + 1.11);
  EXPECT_EQ(c.disordered, 5u);  // 3, 4, 7, the copy of 6, and 10
  EXPECT_EQ(c.received, 6u);    // 6, 8, 7, 9, 11 and 10; 12 waits for the next pass
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(qosAverageBurstSize(c.lost, c.bursts), 1.0);
  EXPECT_EQ(st.prevSeq, 11u);
}

// Whatever the order in which a complete stream arrives, as long as no
// packet is held back for longer than the de-jitter length, a window loses
// nothing; with packets dropped, it loses exactly those of the window.
TEST(QosWindowTest, ReorderingIsNeverLoss) {
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 300; ++trial) {
    const bool withDrops = trial % 2 == 1;
    std::vector<Packet> packets;
    std::set<uint32_t> dropped;
    for (uint32_t seq = 1; seq <= 400; ++seq) {
      if (withDrops && seq > 1 && random() % 25 == 0) {
        dropped.insert(seq);
        continue;
      }
      // Sent every 20 ms, on the way 40 ms plus up to 100 ms more (and a
      // microsecond apart).
      const double delay = 0.04 + (random() % 1000) * 1e-4 + seq * 1e-6;
      packets.push_back({seq, seq * 0.02, seq * 0.02 + delay});
    }
    PayloadMap map;
    for (const Packet& p : packets) {
      map.add(kT0 + p.received, MakePayload(p.seq, kT0 + p.sent, 20));
    }
    // One window of 4 s, ticking at 6 s: the packets of the 120 ms after the
    // tick have arrived, as they have when the meter takes a window.
    QosRunningState st;
    QosSampleCounts c;
    const double tick = kT0 + 6.0, windowStart = tick - 4.0;
    PayloadMap held;
    for (const auto& entry : map) {
      if (entry.first <= tick + 0.12) held.add(entry.first, entry.second);
    }
    qosSamplePass(held, windowStart, Config(), st, c, tick);
    // The window counts the numbers above the newest one that arrived before
    // it, up to the newest that arrived in it.
    uint32_t floor = 0, top = 0;
    for (const Packet& p : packets) {
      if (kT0 + p.received < windowStart) floor = std::max(floor, p.seq);
      if (kT0 + p.received >= windowStart && kT0 + p.received < tick) top = std::max(top, p.seq);
    }
    uint32_t drops = 0;
    for (uint32_t seq : dropped) drops += seq > floor && seq < top;
    ASSERT_EQ(c.lost, drops) << "trial " << trial;
    EXPECT_EQ(c.received, top - floor - drops) << "trial " << trial;
  }
}

TEST(QosWindowTest, ZeroIntervalKeepsThePreviousEstimate) {
  std::vector<Packet> packets = Arrivals({1, 2, 3});
  packets[2].interval = 0;
  PayloadMap map = MapOf(packets);
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0, Config(2000), st, c);
  EXPECT_EQ(st.estimatedPackets, 100u);
  EXPECT_EQ(st.packetInterval, 0);
}

TEST(QosWindowTest, SequenceWrapAndHugeJumpsStayFinite) {
  std::vector<Packet> packets = {
      {0xFFFFFFFFu, 0.0, 1.0}, {0, 0.02, 1.02}, {4000000000u, 0.04, 1.04}, {7, 0.06, 1.06}};
  PayloadMap map = MapOf(packets);
  QosRunningState st;
  QosSampleCounts c;
  qosSamplePass(map, kT0, Config(), st, c);
  // The first packet of a test is judged against sequence 0: the jump counts
  // as loss. Everything after it is older than it; 4000000000 and 7 fill
  // that gap, 0 lies at its floor.
  EXPECT_EQ(c.lost, 0xFFFFFFFCu);
  EXPECT_EQ(c.received, 3u);
  EXPECT_EQ(c.disordered, 3u);
  const double loss = qosLossRate(c.received, c.lost, st.estimatedPackets);
  EXPECT_DOUBLE_EQ(loss, 4294967292.0 / 4294967295.0);
  EXPECT_TRUE(std::isfinite(qosAverageBurstSize(c.lost, c.bursts)));
}

TEST(QosWindowTest, LossRateUsesTheEstimateWhenFewerThanEightyPercentAreAccountedFor) {
  EXPECT_EQ(qosLossRate(0, 0, 200), 1.0);
  EXPECT_DOUBLE_EQ(qosLossRate(50, 10, 100), 0.5);     // 60 < 80: 1 - 50/100
  EXPECT_DOUBLE_EQ(qosLossRate(90, 5, 100), 5.0 / 95);  // 95 >= 80
  EXPECT_DOUBLE_EQ(qosLossRate(79, 1, 100), 1.0 / 80);  // exactly 80 % accounted for
  EXPECT_EQ(qosLossRate(100, 0, 100), 0.0);
}

TEST(QosWindowTest, BurstSizeNeverDividesByZero) {
  EXPECT_EQ(qosAverageBurstSize(0, 0), 1.0);
  EXPECT_EQ(qosAverageBurstSize(4, 2), 2.0);
  EXPECT_EQ(qosAverageBurstSize(3, 0), 3.0);
  EXPECT_EQ(qosAverageBurstSize(3, -1), 3.0);
  EXPECT_EQ(qosAverageBurstSize(0, 2), 1.0);  // corrections left bursts without loss
}

TEST(QosWindowTest, AverageJitterIsRoundedAndBounded) {
  uint32_t ms = 0;
  ASSERT_TRUE(qosAverageJitterMillis(0.0025, 1, &ms));
  EXPECT_EQ(ms, 3u);  // halves away from zero
  ASSERT_TRUE(qosAverageJitterMillis(60.0, 1, &ms));
  EXPECT_EQ(ms, 60000u);
  EXPECT_FALSE(qosAverageJitterMillis(60.001, 1, &ms));
  EXPECT_FALSE(qosAverageJitterMillis(0.0, 0, &ms));
}

TEST(QosWindowTest, AHighScoreWithLossIsImplausible) {
  EXPECT_EQ(qosPlausibleMos(4.05, 1), 0.0);
  EXPECT_EQ(qosPlausibleMos(4.0504, 0), 4.0504);
  EXPECT_EQ(qosPlausibleMos(4.0499, 3), 4.0499);
}

}  // namespace
