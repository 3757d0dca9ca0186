// The receiver under a flood of valid packets, in a process of its own and
// run alone: it takes a core for ten seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "packet.h"
#include "sleep_utils.h"
#include "test_util.h"

namespace {

using std::chrono::milliseconds;

std::string Port(uint16_t port) { return std::to_string(port); }

// Sanitizer builds pay for redzones, shadow memory and a quarantine of freed
// blocks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kAllocatorFactor = 4.0;
constexpr long kAllocatorReserveKb = 512 * 1024;
#else
constexpr double kAllocatorFactor = 1.0;
constexpr long kAllocatorReserveKb = 0;
#endif

// A local sender floods the receiver with valid packets as fast as one core
// allows. The receiver must go on delivering samples, keep its memory to what
// a window holds, and end at the end-of-stream packets.
TEST(FaultTest, FloodOfValidPackets) {
  const uint16_t port = FreeUdpPort();
  auto receiver = StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)});
  ASSERT_TRUE(WaitForUdpPort(port));
  UdpPeer peer;
  std::vector<uint8_t> packet(160, 0);
  uint32_t seq = 0;
  long peakKb = 0;
  const double start = MonotonicSeconds();
  double nextCheck = start;
  while (MonotonicSeconds() - start < 10.0) {
    for (int burst = 0; burst < 256; ++burst) {
      TimeOfDay t = platformTimeOfDay();
      encodePacketHeader(packet.data(), seq++, static_cast<uint32_t>(t.sec),
                         static_cast<uint32_t>(t.usec), 0x00, 0x20);
      peer.SendTo(port, packet);
    }
    if (MonotonicSeconds() > nextCheck) {
      peakKb = std::max(peakKb, PeakResidentKb(receiver->Pid()));
      nextCheck += 0.5;
    }
  }
  const double rate = seq / (MonotonicSeconds() - start);
  // End-of-stream packets for two seconds, as pulvo send does: a receiver
  // still working through the backlog of the flood drops what its full
  // socket buffer cannot take, the first of these included.
  for (int i = 0; i < 100; ++i) {
    peer.SendTo(port, MakePacket(seq, 0, 0));
    std::this_thread::sleep_for(milliseconds(20));
  }
  peakKb = std::max(peakKb, PeakResidentKb(receiver->Pid()));
  ProcessResult r = receiver->Wait(30);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const int samples = JsonSampleCount(r.out);
  std::cout << "flood: " << static_cast<long>(rate) << " packets/s offered, " << samples
            << " samples in 10 s, receiver peak RSS " << peakKb << " kB" << std::endl;
  EXPECT_GE(samples, 6);
  // Two seconds of packets at 200 bytes a map entry, with room to spare.
  EXPECT_LT(peakKb, static_cast<long>(64 * 1024 + kAllocatorReserveKb +
                                      kAllocatorFactor * rate * 2 * 200 / 1024));
}

}  // namespace
