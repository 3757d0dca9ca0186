// pulvo-relay: a UDP relay on loopback that impairs pulvo test streams
// reproducibly and records what it did, for rehearsing a bad network where
// no netem is at hand.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "relay_options.h"
#include "sleep_utils.h"
#include "truth_log.h"
#include "udp_socket.h"

namespace {

std::atomic<bool> stopping{false};
extern "C" void onSignal(int) { stopping = true; }

int64_t nowMicros() {
  TimeOfDay t = platformTimeOfDay();
  return t.sec * 1000000 + t.usec;
}

struct Pending {
  std::vector<uint8_t> bytes;
  TruthRow row;
};

}  // namespace

int main(int argc, char** argv) {
  RelayOptions options;
  std::string error;
  if (!ParseRelayOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "pulvo-relay: %s\n%s", error.c_str(), kRelayUsage);
    return 2;
  }
  TruthLog truth(options.recordPath, options.recordJson);
  if (!truth.ok()) {
    std::fprintf(stderr, "pulvo-relay: cannot write %s\n", options.recordPath.c_str());
    return 2;
  }
  int in = -1;
  if (startUdpSocketComm(0, options.listenAddress.c_str(),
                         static_cast<unsigned short>(options.listenPort), in) != 0) {
    std::fprintf(stderr, "pulvo-relay: cannot listen on %s:%d\n", options.listenAddress.c_str(),
                 options.listenPort);
    return 2;
  }
  enableArrivalTimestamps(in);
  // One socket receives and forwards, so both sides are of one family.
  SocketAddress to;
  if (!makeSocketAddress(options.forwardAddress.c_str(),
                         static_cast<uint16_t>(options.forwardPort), &to) ||
      isIPv6Text(options.forwardAddress.c_str()) != isIPv6Text(options.listenAddress.c_str())) {
    std::fprintf(stderr, "pulvo-relay: invalid forward address %s\n", options.forwardAddress.c_str());
    closeSocket(in);
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  Impairment impairment(options.impairment);
  std::multimap<int64_t, Pending> queue;  // by departure time, arrival order among equals
  Pending held;
  const int64_t started = nowMicros();
  int64_t lastArrival = 0;
  uint64_t index = 0;
  std::vector<uint8_t> buffer(65536);
  SocketAddress lastClient;
  bool haveClient = false;

  auto send = [&](Pending& p, int64_t at) {
    sendDatagram(in, p.bytes.data(), p.bytes.size(), to);
    p.row.departureMicros = at;
    truth.Write(p.row);
  };

  while (!stopping) {
    const int64_t now = nowMicros();
    if (options.durationSeconds > 0 && now - started >= options.durationSeconds * 1e6) break;
    if (options.idleExitSeconds > 0 && lastArrival != 0 && queue.empty() &&
        now - lastArrival >= options.idleExitSeconds * 1e6) {
      break;
    }
    while (!queue.empty() && queue.begin()->first <= now) {
      send(queue.begin()->second, now);
      queue.erase(queue.begin());
    }
    Departure release;
    if (impairment.HeldDeadline() != 0 && impairment.HeldDeadline() <= now &&
        impairment.ReleaseHeld(now, &release)) {
      held.row.action = release.action;
      send(held, now);
    }

    int64_t wait = 100000;
    if (!queue.empty()) wait = std::min(wait, queue.begin()->first - now);
    if (impairment.HeldDeadline() != 0) wait = std::min(wait, impairment.HeldDeadline() - now);
    if (wait > 0 && wait < 1000) {
      // Less than the poll's millisecond: sleep it off for a precise departure.
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
      continue;
    }
    if (waitReadable(in, static_cast<int>(std::max<int64_t>(wait, 0) / 1000)) <= 0) continue;

    SocketAddress from;
    TimeOfDay arrival;
    const long length = receiveDatagram(in, buffer.data(), buffer.size(), &from, &arrival);
    if (length < 0) continue;
    if (sameEndpoint(from, to)) {
      // A reply from the far side goes back to whoever sent last.
      if (haveClient) sendDatagram(in, buffer.data(), static_cast<size_t>(length), lastClient);
      continue;
    }
    lastClient = from;
    haveClient = true;
    const int64_t arrivedAt = nowMicros();
    lastArrival = arrivedAt;
    const int64_t arrivalStamp = arrival.sec * 1000000 + arrival.usec;
    Decision d = impairment.Decide(buffer.data(), static_cast<size_t>(length), arrivedAt);
    TruthRow row{index++, arrivalStamp, static_cast<size_t>(length), d.sequence,
                 d.dataPacket ? "data" : (d.endOfStream ? "eos" : "other"), "drop", 0, 0};
    if (d.dropped) {
      truth.Write(row);
      continue;
    }
    if (d.held) {
      held.bytes.assign(buffer.begin(), buffer.begin() + length);
      held.row = row;
    }
    for (const Departure& out : d.departures) {
      Pending p;
      if (out.action == "swap") {
        p = held;
      } else {
        p.bytes.assign(buffer.begin(), buffer.begin() + length);
        p.row = row;
      }
      p.bytes.resize(std::min(p.bytes.size(), out.length));
      p.row.action = out.action;
      p.row.outLength = p.bytes.size();
      queue.emplace(out.atMicros, std::move(p));
    }
  }
  // What is still queued goes out now, so nothing is lost silently.
  for (auto& entry : queue) send(entry.second, nowMicros());
  closeSocket(in);
  return 0;
}
