#include "fake_network.h"

#include <algorithm>
#include <cstring>

namespace {

// The time of day at the monotonic clock's zero.
constexpr int64_t kEpochMicros = int64_t{1700000000} * 1000000;

}  // namespace

TimeOfDay FakeNetwork::timeOfDayAt(int64_t monotonic) const {
  TimeOfDay t;
  t.sec = (kEpochMicros + monotonic) / 1000000;
  t.usec = (kEpochMicros + monotonic) % 1000000;
  return t;
}

void FakeNetwork::deliver(const uint8_t* data, size_t length, const SocketAddress& from,
                          int64_t at) {
  inbox.emplace(at, Arrival{std::vector<uint8_t>(data, data + length), from});
}

void FakeNetwork::nap(unsigned int micros) {
  clock += micros + oversleep;
  oversleep = 0;
}

Environment::Wait FakeNetwork::waitForDatagram(uint32_t timeoutMs) {
  if (stopRequested()) return Wait::StopRequested;
  const int64_t deadline = clock + int64_t{timeoutMs} * 1000;
  const int64_t next = inbox.empty() ? INT64_MAX : inbox.begin()->first;
  const int64_t until = std::min({deadline, next, stopTime});
  clock = std::max(clock, until);
  if (next <= clock) return Wait::Readable;
  return stopRequested() ? Wait::StopRequested : Wait::TimedOut;
}

long FakeNetwork::receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
                          TimeOfDay* arrival) {
  if (inbox.empty() || inbox.begin()->first > clock) return -1;
  const auto first = inbox.begin();
  const size_t length = std::min(capacity, first->second.bytes.size());
  std::memcpy(buffer, first->second.bytes.data(), length);
  *from = first->second.from;
  *arrival = timeOfDayAt(first->first);
  inbox.erase(first);
  return static_cast<long>(length);
}

int FakeNetwork::receiveBatch(Datagram* batch, int count) {
  if (receivesFail) return -1;
  int taken = 0;
  while (taken < count) {
    Datagram& d = batch[taken];
    const long length = receive(d.data, d.capacity, &d.peer, &d.arrival);
    if (length < 0) break;
    d.length = static_cast<size_t>(length);
    d.marks = IpMarks{};
    taken++;
  }
  return taken;
}

int FakeNetwork::sendBatch(const Datagram* batch, int count) {
  if (sendsFail) return count == 0 ? 0 : -1;
  for (int i = 0; i < count; ++i) {
    sentLog.push_back(Sent{clock, std::vector<uint8_t>(batch[i].data, batch[i].data + batch[i].length),
                           batch[i].peer, batch[i].marks});
    if (peer) peer(*this, sentLog.back());
  }
  return count;
}

long FakeNetwork::send(const uint8_t* data, size_t length, const SocketAddress& to) {
  Datagram d;
  d.data = const_cast<uint8_t*>(data);
  d.length = length;
  d.peer = to;
  return sendBatch(&d, 1) == 1 ? static_cast<long>(length) : -1;
}
