// Load on a STAMP reflector: N sessions of one packet per 20 ms each (the
// sessions spread over 16 sockets, told apart by their session identifiers),
// paced over the 20 ms so that 1000 sessions offer 50 packets every
// millisecond. Prints what was sent and answered and the residence time
// T3 - T2 of the answers (p50, p99, max), in µs.
// Usage: stamp_load PORT SESSIONS SECONDS
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "datagram_batch.h"
#include "stamp_packet.h"
#include "udp_socket.h"

namespace {

constexpr int kSockets = 16;
constexpr size_t kPacket = 160;  // G.711's packet less its headers

struct Endpoint {
  int fd = -1;
  std::vector<uint32_t> nextSequence;  // per session on this socket
};

int64_t micros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: stamp_load PORT SESSIONS SECONDS\n");
    return 2;
  }
  const uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
  const int sessions = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  SocketAddress reflector;
  makeSocketAddress("127.0.0.1", port, &reflector);
  std::vector<Endpoint> sockets(kSockets);
  for (Endpoint& e : sockets) {
    if (startUdpSocketCommAnyPort(0, "127.0.0.1", e.fd, nullptr) != 0) return 1;
    enlargeReceiveBuffer(e.fd, 4 << 20);
    enableArrivalTimestamps(e.fd);
  }
  for (int s = 0; s < sessions; ++s) sockets[s % kSockets].nextSequence.push_back(0);

  std::vector<uint8_t> out(64 * kPacket), in(64 * 2048);
  Datagram sendSlots[64], receiveSlots[64];
  for (int i = 0; i < 64; ++i) {
    sendSlots[i] = Datagram{out.data() + i * kPacket, kPacket, kPacket, reflector, {}, {}};
    receiveSlots[i].data = in.data() + i * 2048;
    receiveSlots[i].capacity = 2048;
  }
  std::vector<double> residence;
  residence.reserve(static_cast<size_t>(sessions * 50 * seconds) + 1000);
  uint64_t sent = 0, answered = 0;
  const auto drain = [&]() {
    pollfd fds[kSockets];
    for (int i = 0; i < kSockets; ++i) fds[i] = {sockets[i].fd, POLLIN, 0};
    if (poll(fds, kSockets, 0) <= 0) return;
    for (int i = 0; i < kSockets; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      int n;
      while ((n = receiveDatagrams(sockets[i].fd, receiveSlots, 64)) > 0) {
        for (int k = 0; k < n; ++k) {
          StampReflectorPacket answer;
          if (!decodeStampReflector(receiveSlots[k].data, receiveSlots[k].length, &answer)) continue;
          answered++;
          residence.push_back((ntpSeconds(answer.timestamp) - ntpSeconds(answer.receiveTimestamp)) * 1e6);
        }
        if (n < 64) break;
      }
    }
  };

  // Session s sends in millisecond s % 20 of every 20 ms.
  const int64_t start = micros();
  const int64_t end = start + static_cast<int64_t>(seconds * 1e6);
  for (int64_t tick = 0;; ++tick) {
    const int64_t due = start + tick * 1000;
    if (due >= end) break;
    while (micros() < due) {
      drain();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const int slot = static_cast<int>(tick % 20);
    for (int socketIndex = 0; socketIndex < kSockets; ++socketIndex) {
      Endpoint& e = sockets[socketIndex];
      int batch = 0;
      for (size_t k = 0; k < e.nextSequence.size(); ++k) {
        const int session = static_cast<int>(k) * kSockets + socketIndex;
        if (session % 20 != slot) continue;
        StampSenderPacket p;
        p.sequence = e.nextSequence[k]++;
        p.ssid = static_cast<uint16_t>(session + 1);
        const TimeOfDay now = platformTimeOfDay();
        p.timestamp = ntpFromTimeOfDay(now);
        encodeStampSender(p, kPacket, sendSlots[batch].data);
        if (++batch == 64) {
          sent += static_cast<uint64_t>(std::max(0, sendDatagrams(e.fd, sendSlots, batch)));
          batch = 0;
        }
      }
      if (batch > 0) sent += static_cast<uint64_t>(std::max(0, sendDatagrams(e.fd, sendSlots, batch)));
    }
  }
  const int64_t last = micros();
  while (micros() - last < 1000000) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::sort(residence.begin(), residence.end());
  const auto at = [&](double q) {
    return residence.empty() ? 0.0 : residence[static_cast<size_t>(q * (residence.size() - 1))];
  };
  std::printf("sessions %d  seconds %.0f  sent %llu  answered %llu  lost %llu (%.4f %%)\n", sessions,
              seconds, static_cast<unsigned long long>(sent),
              static_cast<unsigned long long>(answered),
              static_cast<unsigned long long>(sent - std::min(sent, answered)),
              sent == 0 ? 0.0 : 100.0 * (sent - std::min(sent, answered)) / sent);
  std::printf("residence T3-T2 us: p50 %.1f  p99 %.1f  max %.1f\n", at(0.5), at(0.99), at(1.0));
  for (Endpoint& e : sockets) closeSocket(e.fd);
  return 0;
}
