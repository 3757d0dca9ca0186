#include "relay.h"

#include "test_error.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
      truth(relayOptions.recordPath, relayOptions.recordJson),
      impairment(relayOptions.impairment),
      buffer(65536) {}

Relay::~Relay() {
  if (socketFd >= 0) closeSocket(socketFd);
}

bool Relay::Open(std::string& error) {
  if (!truth.ok()) {
    error = "cannot write " + options.recordPath;
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
    SendDue(now);
    const int64_t wait = WaitMicros(now);
    if (wait > 0 && wait < 1000) {
      // Less than the poll's millisecond: sleep it off for a precise departure.
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
      continue;
    }
    ReceiveOne(static_cast<int>(std::max<int64_t>(wait, 0) / 1000));
  }
  Flush();
}

bool Relay::Finished(int64_t now) const {
  if (options.durationSeconds > 0 && now - started >= options.durationSeconds * 1e6) return true;
  return options.idleExitSeconds > 0 && lastArrival != 0 && queue.empty() &&
         now - lastArrival >= options.idleExitSeconds * 1e6;
}

void Relay::SendDue(int64_t now) {
  while (!queue.empty() && queue.begin()->first <= now) {
    Send(queue.begin()->second, now);
    queue.erase(queue.begin());
  }
  Departure release;
  if (impairment.HeldDeadline() != 0 && impairment.HeldDeadline() <= now &&
      impairment.ReleaseHeld(now, &release)) {
    held.row.action = release.action;
    Send(held, now);
  }
}

int64_t Relay::WaitMicros(int64_t now) const {
  int64_t wait = 100000;
  if (!queue.empty()) wait = std::min(wait, queue.begin()->first - now);
  if (impairment.HeldDeadline() != 0) wait = std::min(wait, impairment.HeldDeadline() - now);
  return wait;
}

void Relay::ReceiveOne(int timeoutMs) {
  if (waitReadable(socketFd, timeoutMs) <= 0) return;
  SocketAddress from;
  TimeOfDay arrival;
  const long length = receiveDatagram(socketFd, buffer.data(), buffer.size(), &from, &arrival);
  if (length < 0) return;
  if (sameEndpoint(from, forwardTo)) {
    // A reply from the far side goes back to whoever sent last.
    if (haveClient) sendDatagram(socketFd, buffer.data(), static_cast<size_t>(length), lastClient);
    return;
  }
  lastClient = from;
  haveClient = true;
  Impair(length, arrival);
}

void Relay::Impair(long length, const TimeOfDay& arrival) {
  const int64_t arrivedAt = nowMicros();
  lastArrival = arrivedAt;
  const Decision d = impairment.Decide(buffer.data(), static_cast<size_t>(length), arrivedAt);
  const TruthRow row{index++, arrival.sec * 1000000 + arrival.usec, static_cast<size_t>(length),
                     d.sequence, KindOf(d), RelayAction::Drop, 0, 0};
  if (d.dropped) {
    truth.Write(row);
    return;
  }
  if (d.held) {
    held.bytes.assign(buffer.begin(), buffer.begin() + length);
    held.row = row;
  }
  for (const Departure& out : d.departures) {
    Pending p;
    if (out.action == RelayAction::Swap) {
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

void Relay::Send(Pending& pending, int64_t at) {
  sendDatagram(socketFd, pending.bytes.data(), pending.bytes.size(), forwardTo);
  pending.row.departureMicros = at;
  truth.Write(pending.row);
}

// What is still queued goes out now, so nothing is lost silently.
void Relay::Flush() {
  for (auto& entry : queue) Send(entry.second, nowMicros());
  queue.clear();
}
