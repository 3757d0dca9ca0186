#include "impairment.h"

#include <gtest/gtest.h>

#include "relay_options.h"
#include "test_util.h"
#include "truth_log.h"

namespace {

std::vector<uint8_t> Data(uint32_t seq) { return MakePacket(seq, 1700000000, seq * 20000 % 1000000 + 1); }

// Runs `count` data packets 20 ms apart through the engine.
std::vector<Decision> Feed(Impairment& engine, uint32_t count) {
  std::vector<Decision> decisions;
  for (uint32_t seq = 0; seq < count; ++seq) {
    std::vector<uint8_t> d = Data(seq);
    decisions.push_back(engine.Decide(d.data(), d.size(), seq * 20000));
  }
  return decisions;
}

TEST(ImpairmentTest, DeterministicLossPatterns) {
  ImpairmentSettings s;
  s.dropEvery = 50;
  s.dropRun = 3;
  s.dropSequences = {5};
  Impairment engine(s);
  std::vector<Decision> d = Feed(engine, 150);
  std::vector<uint32_t> dropped;
  for (const Decision& x : d) {
    if (x.dropped) dropped.push_back(static_cast<uint32_t>(x.sequence));
  }
  EXPECT_EQ(dropped, (std::vector<uint32_t>{5, 47, 48, 49, 97, 98, 99, 147, 148, 149}));
}

// With --rtp, RTP datagrams are numbered by their own sequence numbers;
// without it they are foreign datagrams and pass untouched.
TEST(ImpairmentTest, RtpDatagramsByTheirSequenceNumbers) {
  for (bool rtp : {false, true}) {
    ImpairmentSettings s;
    s.rtp = rtp;
    s.dropSequences = {65535, 2};
    Impairment engine(s);
    std::vector<int64_t> dropped;
    for (uint16_t seq : {65534, 65535, 0, 1, 2, 3}) {
      const std::vector<uint8_t> d = RtpDatagram(0, seq, seq * 160u, 1);
      if (engine.Decide(d.data(), d.size(), seq).dropped) dropped.push_back(seq);
    }
    EXPECT_EQ(dropped, rtp ? (std::vector<int64_t>{65535, 2}) : std::vector<int64_t>());
  }
}

// With --stamp, a STAMP packet is numbered by its first field (the
// sender's or the reflector's sequence).
TEST(ImpairmentTest, StampPacketsByTheirSequenceNumbers) {
  ImpairmentSettings s;
  s.stamp = true;
  s.dropSequences = {70000, 3};
  Impairment engine(s);
  std::vector<int64_t> dropped;
  for (uint32_t seq : {69999u, 70000u, 3u, 4u}) {
    std::vector<uint8_t> d(44, 0);
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
    if (engine.Decide(d.data(), d.size(), seq).dropped) dropped.push_back(seq);
  }
  EXPECT_EQ(dropped, (std::vector<int64_t>{70000, 3}));
}

// Random loss and jitter limited to a range of sequence numbers: none
// outside it (packets 200 and 201 may still queue behind a jittered 199).
TEST(ImpairmentTest, LossAndJitterWithinASequenceRange) {
  ImpairmentSettings s;
  s.seed = 3;
  s.lossProbability = 0.2;
  s.jitterMicros = 30000;
  s.lossFrom = s.jitterFrom = 100;
  s.lossTo = s.jitterTo = 199;
  Impairment engine(s);
  std::vector<Decision> d = Feed(engine, 300);
  uint32_t droppedInside = 0, delayedInside = 0;
  for (uint32_t seq = 0; seq < 300; ++seq) {
    const bool inside = seq >= 100 && seq <= 199;
    if (inside) {
      droppedInside += d[seq].dropped;
      delayedInside += !d[seq].dropped && d[seq].departures.at(0).atMicros != seq * 20000;
    } else {
      ASSERT_FALSE(d[seq].dropped) << seq;
      if (seq < 100 || seq > 201) {
        ASSERT_EQ(d[seq].departures.at(0).atMicros, seq * 20000) << seq;
      }
    }
  }
  EXPECT_GT(droppedInside, 5u);
  EXPECT_GT(delayedInside, 20u);
}

TEST(ImpairmentTest, SameSeedSameFate) {
  ImpairmentSettings s;
  s.seed = 42;
  s.lossProbability = 0.1;
  s.jitterMicros = 15000;
  s.duplicateProbability = 0.05;
  Impairment a(s), b(s);
  std::vector<Decision> x = Feed(a, 500), y = Feed(b, 500);
  size_t drops = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    ASSERT_EQ(x[i].dropped, y[i].dropped);
    ASSERT_EQ(x[i].departures.size(), y[i].departures.size());
    for (size_t k = 0; k < x[i].departures.size(); ++k) {
      ASSERT_EQ(x[i].departures[k].atMicros, y[i].departures[k].atMicros);
    }
    drops += x[i].dropped;
  }
  EXPECT_GT(drops, 25u);
  EXPECT_LT(drops, 80u);
}

TEST(ImpairmentTest, GilbertElliottLossComesInBursts) {
  ImpairmentSettings s;
  s.gilbertElliott = true;
  s.geGoodToBad = 0.01;
  s.geBadToGood = 1.0 / 3;
  Impairment engine(s);
  std::vector<Decision> d = Feed(engine, 50000);
  size_t lost = 0, bursts = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    if (!d[i].dropped) continue;
    lost++;
    if (i == 0 || !d[i - 1].dropped) bursts++;
  }
  ASSERT_GT(bursts, 0u);
  EXPECT_NEAR(static_cast<double>(lost) / bursts, 3.0, 0.3);
  EXPECT_NEAR(static_cast<double>(lost) / d.size(), 0.01 / (0.01 + 1.0 / 3), 0.005);
}

TEST(ImpairmentTest, DelaysKeepOrderUnlessReorderingIsAllowed) {
  ImpairmentSettings s;
  s.jitterMicros = 30000;  // more than the packet spacing
  Impairment ordered(s);
  int64_t last = 0;
  for (const Decision& d : Feed(ordered, 300)) {
    ASSERT_EQ(d.departures.size(), 1u);
    EXPECT_GE(d.departures[0].atMicros, last);
    last = d.departures[0].atMicros;
  }
  s.allowReorder = true;
  Impairment free(s);
  last = 0;
  int overtaken = 0;
  for (const Decision& d : Feed(free, 300)) {
    overtaken += d.departures[0].atMicros < last;
    last = std::max(last, d.departures[0].atMicros);
  }
  EXPECT_GT(overtaken, 10);
}

TEST(ImpairmentTest, AlternatingDelayAndStep) {
  ImpairmentSettings s;
  s.alternatingMicros = {0, 10000};
  s.stepFromSequence = 3;
  s.stepMicros = 200000;
  Impairment engine(s);
  std::vector<Decision> d = Feed(engine, 5);
  std::vector<int64_t> delays;
  for (uint32_t i = 0; i < d.size(); ++i) delays.push_back(d[i].departures[0].atMicros - i * 20000);
  EXPECT_EQ(delays, (std::vector<int64_t>{0, 10000, 0, 210000, 200000}));
}

TEST(ImpairmentTest, SwapDuplicateTruncateAndSparedDatagrams) {
  ImpairmentSettings s;
  s.swapEvery = 10;
  s.truncateLength = 20;
  Impairment engine(s);
  std::vector<Decision> d = Feed(engine, 12);
  EXPECT_TRUE(d[0].held);
  EXPECT_TRUE(d[0].departures.empty());
  ASSERT_EQ(d[1].departures.size(), 2u);
  EXPECT_EQ(d[1].departures[1].action, RelayAction::Swap);
  EXPECT_TRUE(d[10].held);

  ImpairmentSettings shifted;
  shifted.swapEvery = 10;
  shifted.swapOffset = 5;
  Impairment shiftedEngine(shifted);
  std::vector<uint32_t> heldSequences;
  for (const Decision& x : Feed(shiftedEngine, 30)) {
    if (x.held) heldSequences.push_back(static_cast<uint32_t>(x.sequence));
  }
  EXPECT_EQ(heldSequences, (std::vector<uint32_t>{5, 15, 25}));
  EXPECT_EQ(d[2].departures[0].action, RelayAction::Truncate);
  EXPECT_EQ(d[2].departures[0].length, 20u);

  // End-of-stream and foreign datagrams pass untouched by default.
  std::vector<uint8_t> eos = MakePacket(12, 0, 0);
  Decision e = engine.Decide(eos.data(), eos.size(), 300000);
  EXPECT_TRUE(e.endOfStream);
  ASSERT_EQ(e.departures.size(), 1u);
  EXPECT_EQ(e.departures[0].length, eos.size());
  uint8_t junk[3] = {1, 2, 3};
  Decision j = engine.Decide(junk, sizeof junk, 310000);
  EXPECT_EQ(j.sequence, -1);
  EXPECT_EQ(j.departures[0].action, RelayAction::Forward);

  ImpairmentSettings dup;
  dup.duplicateProbability = 1.0;
  Impairment twice(dup);
  EXPECT_EQ(Feed(twice, 1)[0].departures.size(), 2u);
}

TEST(RelayOptionsTest, ParsesEveryImpairment) {
  const char* argv[] = {"pulvo-relay", "--listen", "5000", "--forward", "5001", "--seed", "7",
                        "--loss", "0.01:10-", "--ge", "0.01,0.33,0,1", "--drop-every", "50:3",
                        "--drop-seq", "1,2", "--delay", "5", "--jitter", "15:20-30", "--alternate",
                        "0,10", "--step", "150:200", "--allow-reorder", "--swap-every", "10:5",
                        "--reorder", "0.05:40", "--duplicate", "0.01", "--truncate", "20",
                        "--impair-all", "16", "--record", "x.jsonl", "--format", "jsonl",
                        "--idle-exit", "2"};
  RelayOptions o;
  std::string error;
  ASSERT_TRUE(ParseRelayOptions(sizeof argv / sizeof *argv, argv, o, error)) << error;
  EXPECT_EQ(o.listenPort, 5000);
  EXPECT_EQ(o.impairment.dropRun, 3u);
  EXPECT_EQ(o.impairment.swapOffset, 5u);
  EXPECT_EQ(o.impairment.lossFrom, 10u);
  EXPECT_EQ(o.impairment.lossTo, UINT32_MAX);
  EXPECT_EQ(o.impairment.jitterFrom, 20u);
  EXPECT_EQ(o.impairment.jitterTo, 30u);
  EXPECT_EQ(o.impairment.stepMicros, 200000);
  EXPECT_EQ(o.impairment.reorderHoldMicros, 40000);
  EXPECT_EQ(o.impairment.alternatingMicros, (std::vector<int64_t>{0, 10000}));
  EXPECT_EQ(o.impairment.impairMinLength, 16u);
  EXPECT_TRUE(o.recordJson);
}

// --back-X is X for the way back, with a seed of its own unless given.
TEST(RelayOptionsTest, TwoWayOptions) {
  const char* argv[] = {"r", "--listen", "1", "--forward", "2", "--seed", "4", "--stamp",
                        "--loss", "0.1", "--back-loss", "0.2", "--back-delay", "7",
                        "--back-record", "b.csv"};
  RelayOptions o;
  std::string error;
  ASSERT_TRUE(ParseRelayOptions(sizeof argv / sizeof *argv, argv, o, error)) << error;
  EXPECT_TRUE(o.twoWay && o.impairment.stamp && o.back.stamp);
  EXPECT_EQ(o.impairment.lossProbability, 0.1);
  EXPECT_EQ(o.back.lossProbability, 0.2);
  EXPECT_EQ(o.back.delayMicros, 7000);
  EXPECT_EQ(o.impairment.delayMicros, 0);
  EXPECT_EQ(o.back.seed, 5u);
  EXPECT_EQ(o.backRecordPath, "b.csv");
}

TEST(RelayOptionsTest, RefusesBadArguments) {
  const std::vector<std::vector<const char*>> bad = {
      {"r", "--listen", "5000"},
      {"r", "--listen", "0", "--forward", "1"},
      {"r", "--listen", "1", "--forward", "2", "--loss", "1.5"},
      {"r", "--listen", "1", "--forward", "2", "--loss"},
      {"r", "--listen", "1", "--forward", "2", "--drop-every", "5:9"},
      {"r", "--listen", "1", "--forward", "2", "--swap-every", "10:10"},
      {"r", "--listen", "1", "--forward", "2", "--jitter", "5:30-20"},
      {"r", "--listen", "1", "--forward", "2", "--loss", "0.1:7"},
      {"r", "--listen", "1", "--forward", "2", "--ge", "0.1"},
      {"r", "--listen", "1", "--forward", "2", "--format", "xml"},
      {"r", "--listen", "1", "--forward", "2", "--bogus", "1"},
      {"r", "--listen", "1", "--forward", "2", "--back-listen", "3"},
      {"r", "--listen", "1", "--forward", "2", "--back-loss", "2"},
  };
  for (const auto& args : bad) {
    RelayOptions o;
    std::string error;
    EXPECT_FALSE(ParseRelayOptions(static_cast<int>(args.size()), args.data(), o, error));
    EXPECT_FALSE(error.empty());
  }
}

// --help and --version stand alone, wherever they come: no "missing value".
TEST(RelayOptionsTest, HelpAndVersionAnywhere) {
  const std::vector<std::pair<std::vector<const char*>, RelayOptions::Show>> cases = {
      {{"r", "--help"}, RelayOptions::Show::Usage},
      {{"r", "-h"}, RelayOptions::Show::Usage},
      {{"r", "--listen", "1", "--version"}, RelayOptions::Show::Version},
      {{"r", "--listen", "1", "--forward", "2"}, RelayOptions::Show::Nothing},
  };
  for (const auto& [args, show] : cases) {
    RelayOptions o;
    std::string error;
    EXPECT_TRUE(ParseRelayOptions(static_cast<int>(args.size()), args.data(), o, error)) << error;
    EXPECT_EQ(o.show, show) << args.back();
  }
}

TEST(TruthLogTest, RowFormats) {
  TruthRow row{3, 1700000000123456, 160, 42, "data", RelayAction::Forward, 160, 1700000000133456};
  EXPECT_EQ(FormatTruthCsv(row), "3,1700000000123456,160,42,data,forward,160,1700000000133456");
  EXPECT_EQ(FormatTruthJson(row),
            R"({"index":3,"arrival_us":1700000000123456,"length":160,"seq":42,"kind":"data",)"
            R"("action":"forward","out_length":160,"departure_us":1700000000133456})");
}

}  // namespace
