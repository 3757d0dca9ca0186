#ifndef PULVO_TESTS_FAKE_NETWORK_H
#define PULVO_TESTS_FAKE_NETWORK_H

// A clock and a network of the test's own, for driving the loops in
// milliseconds: time moves only when the code under test waits or naps, and
// each datagram it sends goes to a peer function, which may answer (deliver)
// at any later time. One thread; no socket is opened.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "environment.h"

class FakeNetwork : public Environment {
 public:
  struct Sent {
    int64_t at;  // monotonic µs
    std::vector<uint8_t> bytes;
    SocketAddress to;
    IpMarks marks;
  };
  // The far end, called as each datagram leaves.
  using Peer = std::function<void(FakeNetwork& net, const Sent& datagram)>;

  explicit FakeNetwork(Peer farEnd = nullptr) : peer(std::move(farEnd)) {}

  // A datagram that reaches the socket at `at` (monotonic µs).
  void deliver(const uint8_t* data, size_t length, const SocketAddress& from, int64_t at);
  void stopAt(int64_t at) { stopTime = at; }
  void failSends() { sendsFail = true; }
  void failReceives() { receivesFail = true; }
  // What opening the socket returns (0: it opens).
  void refuseSocket(int code) { openResult = code; }
  // The next nap ends this much late.
  void oversleepOnce(int64_t micros) { oversleep = micros; }
  int64_t now() const { return clock; }
  TimeOfDay timeOfDayAt(int64_t monotonic) const;
  const std::vector<Sent>& sent() const { return sentLog; }

  TimeOfDay timeOfDay() override { return timeOfDayAt(clock); }
  int64_t monotonicMicros() override { return clock; }
  void nap(unsigned int micros) override;
  bool stopRequested() override { return clock >= stopTime; }
  uint32_t random32() override { return 4242; }
  bool clockSynchronized() override { return false; }
  int openSocket(unsigned long, const char*, unsigned short) override { return openResult; }
  Wait waitForDatagram(uint32_t timeoutMs) override;
  uint16_t localPort() override { return 40000; }
  long receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
               TimeOfDay* arrival) override;
  int receiveBatch(Datagram* batch, int count) override;
  int sendBatch(const Datagram* batch, int count) override;
  long send(const uint8_t* data, size_t length, const SocketAddress& to) override;
  std::string lastSendError() override { return sendsFail ? "network is down" : ""; }
  void closeSocket() override {}

 private:
  struct Arrival {
    std::vector<uint8_t> bytes;
    SocketAddress from;
  };

  Peer peer;
  int64_t clock = 1000000;
  int64_t stopTime = INT64_MAX;
  int64_t oversleep = 0;
  bool sendsFail = false;
  bool receivesFail = false;
  int openResult = 0;
  std::multimap<int64_t, Arrival> inbox;  // by arrival time, in order of delivery
  std::vector<Sent> sentLog;
};

#endif  // PULVO_TESTS_FAKE_NETWORK_H
