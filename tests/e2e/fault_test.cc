// Faults a measurement host meets: interrupted and killed programs, late
// starts, foreign datagrams on the test port and a flood of packets. Every
// run is short and bounded in time.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "packet.h"
#include "sleep_utils.h"
#include "test_util.h"

namespace {

using std::chrono::milliseconds;

std::string Port(uint16_t port) { return std::to_string(port); }

TEST(FaultTest, InterruptedSenderStillEndsTheStreamCleanly) {
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)});
  ASSERT_TRUE(WaitForUdpPort(port));
  auto sender = StartPulvo({"send:td=30,rp=" + Port(port) + ",lp=" + Port(FreeUdpPort())});
  std::this_thread::sleep_for(milliseconds(3500));
  const double interruptedAt = MonotonicSeconds();
  sender->Signal(SIGINT);
  ProcessResult s = sender->Wait(20);
  // The end-of-stream packets still go out for two seconds.
  EXPECT_EQ(s.exitCode, 130);
  EXPECT_GT(MonotonicSeconds() - interruptedAt, 1.8);
  EXPECT_LT(MonotonicSeconds() - interruptedAt, 4.0);
  ProcessResult r = receiver->Wait(20);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_GE(JsonSampleCount(r.out), 1);
}

TEST(FaultTest, InterruptedReceiverPrintsWhatItMeasured) {
  TempDir dir;
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)}, dir.path());
  ASSERT_TRUE(WaitForUdpPort(port));
  auto sender = StartPulvo({"send:td=30,rp=" + Port(port) + ",lp=" + Port(FreeUdpPort())});
  std::this_thread::sleep_for(milliseconds(4500));
  receiver->Signal(SIGTERM);
  ProcessResult r = receiver->Wait(5);
  EXPECT_EQ(r.exitCode, 143);
  EXPECT_GE(JsonSampleCount(r.out), 1) << r.out;
  EXPECT_TRUE(dir.Files().empty()) << "the unused log file is removed";

  // A second interrupt ends the sender at once, without its end-of-stream phase.
  sender->Signal(SIGINT);
  std::this_thread::sleep_for(milliseconds(100));
  const double secondAt = MonotonicSeconds();
  sender->Signal(SIGINT);
  ProcessResult s = sender->Wait(20);
  EXPECT_EQ(s.exitCode, 130);
  EXPECT_LT(MonotonicSeconds() - secondAt, 1.0);
}

TEST(FaultTest, InterruptBeforeTheFirstPacket) {
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:to=30,lp=" + Port(port)});
  ASSERT_TRUE(WaitForUdpPort(port));
  const double signalledAt = MonotonicSeconds();
  receiver->Signal(SIGINT);
  ProcessResult r = receiver->Wait(5);
  // The wait wakes on the request itself, not at its next look.
  const double answeredIn = MonotonicSeconds() - signalledAt;
  std::cout << "stop request answered in " << answeredIn * 1000 << " ms" << std::endl;
  EXPECT_LT(answeredIn, 0.1 * kSlowBuildFactor + 0.1 + kExitDelaySeconds);
  EXPECT_EQ(r.exitCode, 130);
  EXPECT_EQ(r.out, "[]\n");
}

TEST(FaultTest, KilledSenderEndsTheReceiverAfterItsTimeout) {
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=2,lp=" + Port(port)});
  ASSERT_TRUE(WaitForUdpPort(port));
  auto sender = StartPulvo({"send:td=30,rp=" + Port(port) + ",lp=" + Port(FreeUdpPort())});
  std::this_thread::sleep_for(milliseconds(4000));
  sender->Signal(SIGKILL);
  const double killedAt = MonotonicSeconds();
  sender->Wait(5);
  ProcessResult r = receiver->Wait(20);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_LT(MonotonicSeconds() - killedAt, 2.0 + kSlowBuildFactor);  // time-out plus a second
  EXPECT_GE(JsonSampleCount(r.out), 1) << r.out;
}

TEST(FaultTest, ReceiverStartingAfterTheSender) {
  const uint16_t port = FreeUdpPort();
  auto sender = StartPulvo({"send:td=5,rp=" + Port(port) + ",lp=" + Port(FreeUdpPort())});
  std::this_thread::sleep_for(milliseconds(1500));
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)});
  EXPECT_EQ(sender->Wait(20).exitCode, 0);
  ProcessResult r = receiver->Wait(20);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_GE(JsonSampleCount(r.out), 1);
}

// Random datagrams of every kind on the test port for a while during a test.
// Foreign datagrams of full length are measured like test packets, so the
// windows that hold them are dropped (their jitter is absurd); the receiver
// must come through and go on sampling once they have left the window.
TEST(FaultTest, ForeignDatagramsDoNotDisturbTheTest) {
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)});
  ASSERT_TRUE(WaitForUdpPort(port));
  auto sender = StartPulvo({"send:td=8,rp=" + Port(port) + ",lp=" + Port(FreeUdpPort())});
  std::this_thread::sleep_for(milliseconds(500));
  {
    UdpPeer peer;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    const double until = MonotonicSeconds() + 1.5;
    while (MonotonicSeconds() < until) {
      std::vector<uint8_t> d;
      const unsigned kind = random() % 4;
      if (kind == 0) {  // shorter than a header
        d.resize(random() % kPacketHeaderSize);
      } else if (kind == 1) {  // longer than the receive buffer
        d.resize(1500 + random() % 2000);
      } else {  // full-length garbage
        d.resize(160);
      }
      for (auto& b : d) b = static_cast<uint8_t>(byte(random));
      if (kind == 3) {  // a test packet with a sequence number of its own
        TimeOfDay t = platformTimeOfDay();
        d = MakePacket(random(), static_cast<uint32_t>(t.sec), static_cast<uint32_t>(t.usec));
      }
      // A zero send time would mark the end of the stream.
      if (d.size() >= kPacketHeaderSize) d[12] |= 1;
      peer.SendTo(port, d);
      std::this_thread::sleep_for(milliseconds(2));
    }
  }
  EXPECT_EQ(sender->Wait(30).exitCode, 0);
  ProcessResult r = receiver->Wait(30);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GE(JsonSampleCount(r.out), 2) << r.out;
}


}  // namespace
