// How fast a stream can be before pulvo recv itself drops packets.
// Runs `pulvo recv -j` and offers it valid packets at fixed rates for a few
// seconds each; prints, per rate, the mean lost packets and loss rate of the
// samples, and the receiver's peak resident memory.
// Usage: flood_bench <path to pulvo> [seconds per rate]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "packet.h"
#include "sleep_utils.h"
#include "test_util.h"

namespace {

struct Result {
  double meanLost = 0, meanLossRate = 0;
  int samples = 0;
  long peakKb = 0;
  double achievedRate = 0;
};

Result runRate(const std::string& pulvo, uint16_t port, double rate, double seconds) {
  BackgroundProcess receiver({pulvo, "-j", "recv:ws=2,sai=1,to=5,lp=" + std::to_string(port)});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<uint8_t> packet(160, 0);
  uint32_t seq = 0;
  Result result;
  const double start = MonotonicSeconds();
  double nextCheck = start;
  while (MonotonicSeconds() - start < seconds) {
    const double due = (MonotonicSeconds() - start) * rate;
    while (seq < due) {
      TimeOfDay t = platformTimeOfDay();
      encodePacketHeader(packet.data(), seq++, static_cast<uint32_t>(t.sec),
                         static_cast<uint32_t>(t.usec), 0x00, 0x20);
      sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    if (MonotonicSeconds() > nextCheck) {
      result.peakKb = std::max(result.peakKb, PeakResidentKb(receiver.Pid()));
      nextCheck += 0.25;
    }
  }
  result.achievedRate = seq / (MonotonicSeconds() - start);
  result.peakKb = std::max(result.peakKb, PeakResidentKb(receiver.Pid()));
  for (int i = 0; i < 30; ++i) {
    encodePacketHeader(packet.data(), seq, 0, 0, 0x00, 0x20);
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  close(fd);

  for (const JsonSample& s : ParseJsonSamples(receiver.Wait(60).out)) {
    result.meanLost += s.lost;
    result.meanLossRate += s.lossRate;
    result.samples++;
  }
  if (result.samples > 0) {
    result.meanLost /= result.samples;
    result.meanLossRate /= result.samples;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <pulvo> [seconds per rate]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 6.0;
  std::printf("%12s %12s %8s %12s %12s %10s\n", "offered/s", "achieved/s", "samples",
              "mean lost", "loss rate", "peak kB");
  uint16_t port = 46000;
  for (double rate : {1000.0, 10000.0, 25000.0, 50000.0, 100000.0, 200000.0, 400000.0}) {
    Result r = runRate(argv[1], port++, rate, seconds);
    std::printf("%12.0f %12.0f %8d %12.1f %12.6f %10ld\n", rate, r.achievedRate, r.samples,
                r.meanLost, r.meanLossRate, r.peakKb);
    std::fflush(stdout);
  }
  return 0;
}
