#include "trafgen.h"

#include <gtest/gtest.h>

#include <vector>

#include "packet.h"
#include "tesk_errors.h"
#include "test_util.h"

namespace {

struct Samples {
  std::vector<unsigned int> counts;
  std::vector<unsigned int> testIds;
  static void Record(void* self, unsigned int sent, unsigned int testId) {
    auto* samples = static_cast<Samples*>(self);
    samples->counts.push_back(sent);
    samples->testIds.push_back(testId);
  }
};

// The generator on the virtual clock with a socket that keeps what it is
// given: what it opens, where it sends, and each datagram.
class RecordingEnvironment : public FakeClock {
 public:
  int openSocket(unsigned long, const char* address, unsigned short port) override {
    openedAddress = address;
    openedPort = port;
    return openResult;
  }
  long send(const uint8_t* data, size_t length, const SocketAddress& to) override {
    if (sendFailsAt == sent.size()) return -1;
    destinationPort = to.port();
    sent.emplace_back(data, data + length);
    return static_cast<long>(length);
  }
  // One datagram at a time through send() above, not the system's batch.
  int sendBatch(const Datagram* batch, int count) override {
    return Environment::sendBatch(batch, count);
  }
  void closeSocket() override { closed++; }

  int openResult = 0;
  size_t sendFailsAt = SIZE_MAX;
  std::string openedAddress;
  unsigned short openedPort = 0;
  uint16_t destinationPort = 0;
  std::vector<std::vector<uint8_t>> sent;
  int closed = 0;
};

TeskSendSettings TwoSeconds() {
  TeskSendSettings p = DefaultSendConfig();
  p.testDuration = 2000;
  p.sampleInterval = 1000;
  p.codec = 1;
  p.fec = 2;
  p.testId = 7;
  return p;
}

// With a clock that moves only when the generator naps, the stream is exact:
// a 2000 ms test at 20 ms sends 100 data packets, one every 20 ms, and then
// 100 end-of-stream packets.
TEST(TrafgenTest, SendsThePacedStreamThenEndOfStreamPackets) {
  RecordingEnvironment env;
  Samples samples;
  ASSERT_EQ(runGenerator(TwoSeconds(), SendSink{&Samples::Record, &samples}, env), 0);
  EXPECT_EQ(env.openedAddress, "127.0.0.1");
  EXPECT_EQ(env.openedPort, 49999);
  EXPECT_EQ(env.destinationPort, 50000);
  EXPECT_EQ(env.closed, 1);

  ASSERT_EQ(env.sent.size(), 200u);
  for (size_t i = 0; i < env.sent.size(); ++i) {
    const std::vector<uint8_t>& d = env.sent[i];
    ASSERT_EQ(d.size(), 160u);
    Payload p;
    ASSERT_TRUE(decodePacket(d.data(), d.size(), p));
    EXPECT_EQ(d[0], kPacketMarker);
    EXPECT_EQ(d[13], 0x12);
    EXPECT_EQ(d[14], 0x20);
    for (size_t b = kPacketHeaderSize; b < d.size(); ++b) ASSERT_EQ(d[b], 0);
    if (i < 100) {
      const uint64_t sentAtMicros = 1700000000ull * 1000000 + i * 20000;
      EXPECT_EQ(p.seqNum, i);
      EXPECT_EQ(p.sendSec, sentAtMicros / 1000000);
      EXPECT_EQ(p.sendUsec, sentAtMicros % 1000000);
    } else {
      EXPECT_EQ(p.seqNum, 100u);
      EXPECT_TRUE(p.isEndOfStream());
    }
  }
  // No sample during the end-of-stream phase.
  EXPECT_EQ(samples.counts, (std::vector<unsigned int>{50, 100}));
  EXPECT_EQ(samples.testIds, (std::vector<unsigned int>{7, 7}));
}

// Sends keep to slots one interval apart: a pause that runs late shortens
// the next, so the rate holds; a turn later than half an interval is not
// made up with a burst.
TEST(TrafgenTest, APauseThatRunsLateShortensTheNextOne) {
  for (const int64_t lateMicros : {int64_t{5000}, int64_t{15000}}) {
    SCOPED_TRACE(lateMicros);
    RecordingEnvironment env;
    env.OnNap([lateMicros](FakeClock& c) { c.Advance(lateMicros); });
    Samples samples;
    ASSERT_EQ(runGenerator(TwoSeconds(), SendSink{&Samples::Record, &samples}, env), 0);
    std::vector<int64_t> sentAt;
    for (const auto& d : env.sent) {
      Payload p;
      ASSERT_TRUE(decodePacket(d.data(), d.size(), p));
      if (!p.isEndOfStream()) sentAt.push_back(int64_t{p.sendSec} * 1000000 + p.sendUsec);
    }
    // 5 ms late: every send 5 ms after its slot, all 100 of them. 15 ms late:
    // each wake is 15 ms past its slot, the next one goes 10 ms after it at
    // the earliest, so turns come every 25 ms.
    const int64_t gap = lateMicros == 5000 ? 20000 : 25000;
    ASSERT_EQ(sentAt.size(), lateMicros == 5000 ? 100u : 81u);
    for (size_t i = 2; i < sentAt.size(); ++i) ASSERT_EQ(sentAt[i] - sentAt[i - 1], gap) << i;
  }
}

TEST(TrafgenTest, SamplesEverySampleIntervalOrEveryTenPackets) {
  EXPECT_EQ(trafgenPacketsPerCallback(5000, 20), 250u);
  EXPECT_EQ(trafgenPacketsPerCallback(20, 30), 10u);
  EXPECT_EQ(trafgenPacketsPerCallback(1000, 0), 10u);
}

// Every socket failure ends the test with SOCKET_ERROR, the socket closed
// where it was opened, and no sample.
TEST(TrafgenTest, SocketFailuresAreSocketErrors) {
  const struct {
    const char* name;
    const char* remote;
    int openResult;
    size_t sendFailsAt;
    size_t sent;
    int closed;
  } cases[] = {
      {"unusable remote address", "abc", 0, SIZE_MAX, 0, 0},
      {"socket cannot open", "127.0.0.1", SOCKET_ERROR, SIZE_MAX, 0, 0},
      {"first send fails", "127.0.0.1", 0, 0, 0, 1},
      {"send fails mid-test", "127.0.0.1", 0, 30, 30, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEnvironment env;
    env.openResult = c.openResult;
    env.sendFailsAt = c.sendFailsAt;
    TeskSendSettings config = TwoSeconds();
    config.remoteAddress = c.remote;
    Samples samples;
    EXPECT_EQ(runGenerator(config, SendSink{&Samples::Record, &samples}, env), SOCKET_ERROR);
    EXPECT_EQ(env.sent.size(), c.sent);
    EXPECT_EQ(env.closed, c.closed);
    EXPECT_TRUE(samples.counts.empty());
  }
}

}  // namespace
