// The receiver under a flood of valid packets, in a process of its own and
// run alone: it takes a core for ten seconds.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

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

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

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

int JsonSampleCount(const std::string& out) {
  rapidjson::Document doc;
  doc.Parse(out.c_str());
  return doc.HasParseError() || !doc.IsArray() ? -1 : static_cast<int>(doc.Size());
}

long PeakResidentKb(pid_t pid) {
  if (pid <= 0) return -1;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A local sender floods the receiver with valid packets as fast as one core
// allows. The receiver must go on delivering samples, keep its memory to what
// a window holds, and end at the end-of-stream packets.
TEST(FaultTest, FloodOfValidPackets) {
  const uint16_t port = FreeUdpPort();
  auto receiver = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{PulvoBinary(), "-j", "recv:ws=2,sai=1,to=5,lp=" + Port(port)});
  std::this_thread::sleep_for(milliseconds(200));
  UdpPeer peer;
  std::vector<uint8_t> packet(160, 0);
  uint32_t seq = 0;
  long peakKb = 0;
  const double start = Seconds();
  double nextCheck = start;
  while (Seconds() - start < 10.0) {
    for (int burst = 0; burst < 256; ++burst) {
      TimeOfDay t = platformTimeOfDay();
      encodePacketHeader(packet.data(), seq++, static_cast<uint32_t>(t.sec),
                         static_cast<uint32_t>(t.usec), 0x00, 0x20);
      peer.SendTo(port, packet);
    }
    if (Seconds() > nextCheck) {
      peakKb = std::max(peakKb, PeakResidentKb(receiver->Pid()));
      nextCheck += 0.5;
    }
  }
  const double rate = seq / (Seconds() - start);
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
