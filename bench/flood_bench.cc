// How fast a stream can be before pulvo recv itself drops packets.
// Runs `pulvo recv -j` and offers it valid packets at fixed rates for a few
// seconds each; prints, per rate, the mean lost packets and loss rate of the
// samples, and the receiver's peak resident memory.
// Usage: flood_bench <path to pulvo> [seconds per rate]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "packet.h"
#include "sleep_utils.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

long peakKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

struct Result {
  double meanLost = 0, meanLossRate = 0;
  int samples = 0;
  long peakKb = 0;
  double achievedRate = 0;
};

Result runRate(const std::string& pulvo, uint16_t port, double rate, double seconds) {
  int out[2];
  if (pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    std::string arg = "recv:ws=2,sai=1,to=5,lp=" + std::to_string(port);
    execl(pulvo.c_str(), pulvo.c_str(), "-j", arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<uint8_t> packet(160, 0);
  uint32_t seq = 0;
  Result result;
  const double start = now();
  double nextCheck = start;
  while (now() - start < seconds) {
    const double due = (now() - start) * rate;
    while (seq < due) {
      TimeOfDay t = platformTimeOfDay();
      encodePacketHeader(packet.data(), seq++, static_cast<uint32_t>(t.sec),
                         static_cast<uint32_t>(t.usec), 0x00, 0x20);
      sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    if (now() > nextCheck) {
      result.peakKb = std::max(result.peakKb, peakKb(pid));
      nextCheck += 0.25;
    }
  }
  result.achievedRate = seq / (now() - start);
  result.peakKb = std::max(result.peakKb, peakKb(pid));
  for (int i = 0; i < 30; ++i) {
    encodePacketHeader(packet.data(), seq, 0, 0, 0x00, 0x20);
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  close(fd);

  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  if (!doc.HasParseError() && doc.IsArray()) {
    for (const auto& s : doc.GetArray()) {
      result.meanLost += s["LostPackets"].GetUint();
      result.meanLossRate += s["LossRate"].GetDouble();
      result.samples++;
    }
    if (result.samples > 0) {
      result.meanLost /= result.samples;
      result.meanLossRate /= result.samples;
    }
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
