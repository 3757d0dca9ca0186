#include "server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "recv_start.h"
#include "sleep_utils.h"
#include "tesk_errors.h"
#include "test_util.h"

namespace {

struct Collected {
  std::mutex mutex;
  std::vector<unsigned> lost;
  std::vector<double> mos;
  static void Record(void* self, double mos, unsigned, unsigned, unsigned, unsigned, unsigned lost,
                     unsigned, double, double, unsigned, unsigned) {
    auto* c = static_cast<Collected*>(self);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->lost.push_back(lost);
    c->mos.push_back(mos);
  }
};

double Now() { return platformTimeOfDay().seconds(); }

// Runs a receive test on its own thread; Result() waits for it.
class Receiver {
 public:
  Receiver(uint16_t port, uint16_t windowMs, uint16_t sampleMs, uint32_t timeoutMs)
      : thread([=] {
          started = Now();
          result = runReceiver("127.0.0.1", port, windowMs, sampleMs, 120, timeoutMs, 1,
                               &Collected::Record, &samples, 1);
          ended = Now();
        }) {}
  ~Receiver() {
    if (thread.joinable()) thread.join();
  }
  int Result() {
    thread.join();
    return result;
  }
  Collected samples;
  double started = 0, ended = 0;

 private:
  int result = 1;
  std::thread thread;
};

// Sends a 20 ms stream of `count` packets to `port`, then end-of-stream
// packets for `eosMs`. A non-zero `everyOther` also sends that many junk
// bytes between packets.
void SendStream(UdpPeer& from, uint16_t port, uint32_t count, int eosMs, size_t junkBytes = 0) {
  for (uint32_t seq = 0; seq < count; ++seq) {
    TimeOfDay t = platformTimeOfDay();
    from.SendTo(port, MakePacket(seq, static_cast<uint32_t>(t.sec), static_cast<uint32_t>(t.usec)));
    if (junkBytes != 0) from.SendTo(port, std::vector<uint8_t>(junkBytes, 0x71));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (int elapsed = 0; elapsed < eosMs; elapsed += 20) {
    from.SendTo(port, MakePacket(count, 0, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(ServerTest, NormalStreamEndsWithSuccessAfterTheDrain) {
  const uint16_t port = FreeUdpPort();
  Receiver receiver(port, 1500, 500, 2000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  UdpPeer sender;
  SendStream(sender, port, 150, 1000, /*junkBytes=*/14);
  const double lastPacket = Now();
  EXPECT_EQ(receiver.Result(), 0);
  // One second of silence after the last end-of-stream packet.
  EXPECT_GT(receiver.ended - lastPacket, 0.8);
  EXPECT_LT(receiver.ended - lastPacket, 2.5);
  std::lock_guard<std::mutex> lock(receiver.samples.mutex);
  ASSERT_GE(receiver.samples.lost.size(), 2u);
  for (unsigned lost : receiver.samples.lost) EXPECT_EQ(lost, 0u);  // short datagrams ignored
  for (double mos : receiver.samples.mos) EXPECT_NEAR(mos, 4.050403, 5e-7);
}

TEST(ServerTest, NoSenderTimesOut) {
  const uint16_t port = FreeUdpPort();
  Receiver receiver(port, 1500, 500, 300);
  EXPECT_EQ(receiver.Result(), TIMEOUT_ERROR);
  EXPECT_GT(receiver.ended - receiver.started, 0.25);
  EXPECT_LT(receiver.ended - receiver.started, 2.0);
  EXPECT_TRUE(receiver.samples.lost.empty());
}

TEST(ServerTest, SenderThatStopsWithoutEndOfStreamTimesOut) {
  const uint16_t port = FreeUdpPort();
  Receiver receiver(port, 1500, 500, 700);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  UdpPeer sender;
  SendStream(sender, port, 50, 0);
  const double lastPacket = Now();
  EXPECT_EQ(receiver.Result(), TIMEOUT_ERROR);
  EXPECT_GT(receiver.ended - lastPacket, 0.6);
  EXPECT_LT(receiver.ended - lastPacket, 2.0);
}

TEST(ServerTest, PortInUseIsASocketError) {
  UdpPeer occupant;
  Collected samples;
  EXPECT_EQ(runReceiver("127.0.0.1", occupant.port(), 1500, 500, 120, 1000, 1, &Collected::Record,
                        &samples, 1),
            SOCKET_ERROR);
  EXPECT_EQ(runReceiver("1.2.3.4.5", occupant.port(), 1500, 500, 120, 1000, 1, &Collected::Record,
                        &samples, 1),
            PARAMETER_ERROR);
}

TEST(ServerTest, StopWaitIsBoundedByTimeoutAndTwoIntervals) {
  EXPECT_EQ(serverStopWaitMillis(30000, 1000), 35000u);
  EXPECT_EQ(serverStopWaitMillis(1000, 10000), 24000u);
  EXPECT_EQ(serverStopWaitMillis(UINT32_MAX - 10, 1000), UINT32_MAX);
}

// Time-outs count elapsed time: any 32-bit time-out is waited in full, and a
// step of the time of day neither ends a wait early nor stretches it.
TEST(ServerTest, TimeOutsMeasureElapsedTime) {
  {
    const uint16_t port = FreeUdpPort();
    Receiver receiver(port, 1500, 500, 0x80000000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    UdpPeer sender;
    SendStream(sender, port, 100, 1000);
    EXPECT_EQ(receiver.Result(), 0);
    EXPECT_FALSE(receiver.samples.lost.empty());
  }
  // The time of day jumps an hour ahead 200 ms into a test without sender.
  static const auto begin = std::chrono::steady_clock::now();
  TeskClockHooks stepping = {
      [](void*) {
        TimeOfDay t = platformTimeOfDay();
        if (std::chrono::steady_clock::now() - begin > std::chrono::milliseconds(200)) t.sec += 3600;
        return t;
      },
      [](void*, unsigned int micros) { platformNap(micros); }, nullptr, nullptr};
  setClockHooksForTesting(&stepping);
  Receiver receiver(FreeUdpPort(), 1500, 500, 1000);
  const int result = receiver.Result();
  setClockHooksForTesting(nullptr);
  EXPECT_EQ(result, TIMEOUT_ERROR);
  EXPECT_GT(receiver.ended - receiver.started, 0.9);
}

}  // namespace
