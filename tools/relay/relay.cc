#include "relay.h"

#include "test_error.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "datagram_batch.h"
#include "sleep_utils.h"

namespace {

int64_t nowMicros() {
  const TimeOfDay t = platformTimeOfDay();
  return t.sec * 1000000 + t.usec;
}

const char* KindOf(const Decision& d) {
  return d.dataPacket ? "data" : (d.endOfStream ? "eos" : "other");
}

}  // namespace

Relay::Relay(const RelayOptions& relayOptions)
    : options(relayOptions),
      out(relayOptions.impairment, relayOptions.recordPath, relayOptions.recordJson),
      buffer(65536) {
  out.to = &forwardTo;
  if (options.twoWay) {
    back = std::make_unique<Way>(options.back, options.backRecordPath, options.recordJson);
    back->to = &lastClient;
  }
}

Relay::~Relay() {
  if (socketFd >= 0) closeSocket(socketFd);
}

bool Relay::Open(std::string& error) {
  if (!out.truth.ok()) {
    error = "cannot write " + options.recordPath;
    return false;
  }
  if (back != nullptr && !back->truth.ok()) {
    error = "cannot write " + options.backRecordPath;
    return false;
  }
  FailureNote failure;
  if (startUdpSocketComm(0, options.listenAddress.c_str(),
                         static_cast<unsigned short>(options.listenPort), socketFd,
                         &failure) != 0) {
    socketFd = -1;
    error = "cannot listen on " + options.listenAddress + ":" + std::to_string(options.listenPort);
    if (!failure.text().empty()) error += ": " + failure.text();
    return false;
  }
  enableArrivalTimestamps(socketFd);
  // A path keeps each packet's class and TTL: the relay is no router that
  // re-marks or counts as a hop.
  reportIpMarks(socketFd);
  // One socket receives and forwards, so both sides are of one family.
  if (!makeSocketAddress(options.forwardAddress.c_str(),
                         static_cast<uint16_t>(options.forwardPort), &forwardTo) ||
      isIPv6Text(options.forwardAddress.c_str()) != isIPv6Text(options.listenAddress.c_str())) {
    error = "invalid forward address " + options.forwardAddress;
    return false;
  }
  return true;
}

void Relay::Run(const std::atomic<bool>& stopping) {
  started = nowMicros();
  while (!stopping) {
    const int64_t now = nowMicros();
    if (Finished(now)) break;
    SendDue(out, now);
    if (back != nullptr) SendDue(*back, now);
    const int64_t wait = WaitMicros(now);
    if (wait > 0 && wait < 1000) {
      // Less than the poll's millisecond: sleep it off for a precise departure.
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
      continue;
    }
    ReceiveOne(static_cast<int>(std::max<int64_t>(wait, 0) / 1000));
  }
  Flush(out);
  if (back != nullptr) Flush(*back);
}

bool Relay::Finished(int64_t now) const {
  if (options.durationSeconds > 0 && now - started >= options.durationSeconds * 1e6) return true;
  return options.idleExitSeconds > 0 && lastArrival != 0 && out.queue.empty() &&
         (back == nullptr || back->queue.empty()) &&
         now - lastArrival >= options.idleExitSeconds * 1e6;
}

void Relay::SendDue(Way& way, int64_t now) {
  while (!way.queue.empty() && way.queue.begin()->first <= now) {
    Send(way, way.queue.begin()->second, now);
    way.queue.erase(way.queue.begin());
  }
  Departure release;
  if (way.impairment.HeldDeadline() != 0 && way.impairment.HeldDeadline() <= now &&
      way.impairment.ReleaseHeld(now, &release)) {
    way.held.row.action = release.action;
    Send(way, way.held, now);
  }
}

int64_t Relay::WaitMicros(int64_t now) const {
  int64_t wait = 100000;
  for (const Way* way : {static_cast<const Way*>(&out), static_cast<const Way*>(back.get())}) {
    if (way == nullptr) continue;
    if (!way->queue.empty()) wait = std::min(wait, way->queue.begin()->first - now);
    const int64_t deadline = way->impairment.HeldDeadline();
    if (deadline != 0) wait = std::min(wait, deadline - now);
  }
  return wait;
}

void Relay::ReceiveOne(int timeoutMs) {
  if (waitReadable(socketFd, timeoutMs) <= 0) return;
  SocketAddress from;
  TimeOfDay arrival;
  IpMarks marks;
  const long length =
      receiveDatagram(socketFd, buffer.data(), buffer.size(), &from, &arrival, &marks);
  if (length < 0) return;
  if (sameEndpoint(from, forwardTo)) {
    // A reply from the far side goes back to whoever sent last.
    if (!haveClient) return;
    if (back != nullptr) {
      Impair(*back, length, arrival, marks);
    } else {
      SendAsCame(buffer.data(), static_cast<size_t>(length), lastClient, marks);
    }
    return;
  }
  lastClient = from;
  haveClient = true;
  lastArrival = nowMicros();
  Impair(out, length, arrival, marks);
}

void Relay::SendAsCame(const uint8_t* data, size_t length, const SocketAddress& to,
                       const IpMarks& marks) {
  Datagram d;
  d.data = const_cast<uint8_t*>(data);
  d.capacity = d.length = length;
  d.peer = to;
  d.marks = marks;
  sendDatagrams(socketFd, &d, 1);
}

void Relay::Impair(Way& way, long length, const TimeOfDay& arrival, const IpMarks& marks) {
  const int64_t arrivedAt = nowMicros();
  const Decision d = way.impairment.Decide(buffer.data(), static_cast<size_t>(length), arrivedAt);
  const TruthRow row{way.index++, arrival.sec * 1000000 + arrival.usec,
                     static_cast<size_t>(length), d.sequence, KindOf(d), RelayAction::Drop, 0, 0};
  if (d.dropped) {
    way.truth.Write(row);
    return;
  }
  if (d.held) {
    way.held.bytes.assign(buffer.begin(), buffer.begin() + length);
    way.held.row = row;
    way.held.marks = marks;
  }
  for (const Departure& departure : d.departures) {
    Pending p;
    if (departure.action == RelayAction::Swap) {
      p = way.held;
    } else {
      p.bytes.assign(buffer.begin(), buffer.begin() + length);
      p.row = row;
      p.marks = marks;
    }
    p.bytes.resize(std::min(p.bytes.size(), departure.length));
    p.row.action = departure.action;
    p.row.outLength = p.bytes.size();
    way.queue.emplace(departure.atMicros, std::move(p));
  }
}

void Relay::Send(Way& way, Pending& pending, int64_t at) {
  SendAsCame(pending.bytes.data(), pending.bytes.size(), *way.to, pending.marks);
  pending.row.departureMicros = at;
  way.truth.Write(pending.row);
}

// What is still queued goes out now, so nothing is lost silently.
void Relay::Flush(Way& way) {
  for (auto& entry : way.queue) Send(way, entry.second, nowMicros());
  way.queue.clear();
}
