#include "trafgen.h"

#include <gtest/gtest.h>

#include <vector>

#include "packet.h"
#include "tesk_errors.h"
#include "test_util.h"

namespace {

struct Samples {
  std::vector<unsigned int> counts;
  static void Record(void* self, unsigned int sent, unsigned int testId) {
    auto* samples = static_cast<Samples*>(self);
    samples->counts.push_back(sent);
    samples->testIds.push_back(testId);
  }
  std::vector<unsigned int> testIds;
};

SendConfig Params(uint32_t durationMs, uint16_t sampleMs, uint16_t remotePort) {
  SendConfig p = DefaultSendConfig();
  p.testDuration = durationMs;
  p.codec = 1;
  p.fec = 2;
  p.sampleInterval = sampleMs;
  p.localPort = FreeUdpPort();
  p.remotePort = remotePort;
  p.testId = 7;
  return p;
}

std::vector<std::vector<uint8_t>> Drain(UdpPeer& peer) {
  std::vector<std::vector<uint8_t>> datagrams;
  for (;;) {
    std::vector<uint8_t> d = peer.Receive(200);
    if (d.empty()) return datagrams;
    datagrams.push_back(d);
  }
}

// With a clock that moves only when the generator naps, the stream is exact:
// a 2000 ms test at 20 ms sends 101 data packets (the turn that passes the
// duration still sends data) and then 100 end-of-stream packets.
TEST(TrafgenTest, SendsThePacedStreamThenEndOfStreamPackets) {
  UdpPeer receiver;
  Samples samples;
  FakeClock clock(1700000000, 0);
  ASSERT_EQ(runGenerator(Params(2000, 1000, receiver.port()), SendSink{&Samples::Record, &samples},
                         clock),
            0);

  std::vector<std::vector<uint8_t>> datagrams = Drain(receiver);
  ASSERT_EQ(datagrams.size(), 201u);
  for (size_t i = 0; i < datagrams.size(); ++i) {
    ASSERT_EQ(datagrams[i].size(), 160u);
    Payload p;
    ASSERT_TRUE(decodePacket(datagrams[i].data(), datagrams[i].size(), p));
    EXPECT_EQ(datagrams[i][0], kPacketMarker);
    EXPECT_EQ(datagrams[i][13], 0x12);
    EXPECT_EQ(datagrams[i][14], 0x20);
    for (size_t b = kPacketHeaderSize; b < datagrams[i].size(); ++b) ASSERT_EQ(datagrams[i][b], 0);
    if (i < 101) {
      const uint64_t sentAtMicros = 1700000000ull * 1000000 + i * 20000;
      EXPECT_EQ(p.seqNum, i);
      EXPECT_EQ(p.sendSec, sentAtMicros / 1000000);
      EXPECT_EQ(p.sendUsec, sentAtMicros % 1000000);
    } else {
      EXPECT_EQ(p.seqNum, 101u);
      EXPECT_TRUE(p.isEndOfStream());
    }
  }
  // No sample during the end-of-stream phase.
  EXPECT_EQ(samples.counts, (std::vector<unsigned int>{50, 100}));
  EXPECT_EQ(samples.testIds, (std::vector<unsigned int>{7, 7}));
}

TEST(TrafgenTest, OversleepIsNotMadeUp) {
  UdpPeer receiver;
  Samples samples;
  FakeClock clock;
  clock.OnNap([](FakeClock& c) { c.Advance(5000); });  // every pause runs 5 ms long
  ASSERT_EQ(runGenerator(Params(2000, 1000, receiver.port()), SendSink{&Samples::Record, &samples},
                         clock),
            0);
  std::vector<std::vector<uint8_t>> datagrams = Drain(receiver);
  size_t data = 0;
  for (const auto& d : datagrams) {
    Payload p;
    ASSERT_TRUE(decodePacket(d.data(), d.size(), p));
    if (!p.isEndOfStream()) data++;
  }
  EXPECT_EQ(data, 81u);  // 25 ms per turn: 2000 / 25 + 1
}

TEST(TrafgenTest, UnusableAddressesAndPortsFailWithSocketError) {
  Samples samples;
  UdpPeer receiver;
  SendConfig p = Params(2000, 1000, receiver.port());
  p.remoteAddress = "abc";
  EXPECT_EQ(startGenerator(p, SendSink{&Samples::Record, &samples}), SOCKET_ERROR);

  p = Params(2000, 1000, receiver.port());
  p.localPort = 0;
  EXPECT_EQ(startGenerator(p, SendSink{&Samples::Record, &samples}), SOCKET_ERROR);

  UdpPeer occupant;
  p = Params(2000, 1000, receiver.port());
  p.localPort = occupant.port();
  EXPECT_EQ(startGenerator(p, SendSink{&Samples::Record, &samples}), SOCKET_ERROR);
  EXPECT_TRUE(samples.counts.empty());
  EXPECT_TRUE(receiver.Receive(50).empty());
}

}  // namespace
