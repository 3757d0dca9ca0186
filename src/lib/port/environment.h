#ifndef TESK_ENVIRONMENT_H
#define TESK_ENVIRONMENT_H

// What a test asks of the operating system: the clocks and sleeps, its one
// UDP socket (and a control connection's TCP sockets), randomness and the
// stop request. Every test runs on these alone, so that a test of the code
// can run it on a clock and a network of its own.
//
// Thread safety: one test, one thread; only the stop request comes from
// elsewhere (a signal).

#include <cstddef>
#include <cstdint>

#include "datagram_batch.h"
#include "sleep_utils.h"
#include "test_error.h"
#include "time_of_day.h"
#include "udp_socket.h"

class Environment {
 public:
  enum class Wait { Readable, TimedOut, Failed, StopRequested };

  virtual ~Environment() = default;

  // The time of day, for everything that goes into packets and samples:
  // send times cross hosts and are compared with receive times.
  virtual TimeOfDay timeOfDay() = 0;
  // A clock that only moves forward, for waits and time-outs, so that a
  // step of the time of day neither ends a wait early nor stretches it.
  virtual int64_t monotonicMicros() = 0;
  // A sleep that ends as close to its end as the platform allows: pacing.
  virtual void nap(unsigned int micros) = 0;
  // Whether the process has asked its tests to end early.
  virtual bool stopRequested() = 0;
  // A number no one can guess, for identifiers that must differ from run
  // to run (a session's).
  virtual uint32_t random32() = 0;
  // Whether the system says its clock is synchronised (NTP or PTP): what
  // the time stamps' S bit tells the far end.
  virtual bool clockSynchronized() = 0;

  // Opens the test's socket bound to address:port: 0, or the socket
  // layer's error code with nothing left open.
  virtual int openSocket(unsigned long threadId, const char* address, unsigned short port) = 0;
  // The same on a port that the system chooses; with `dualStack`, "::"
  // reaches IPv4 peers too (as mapped addresses).
  virtual int openSocketOnAnyPort(unsigned long threadId, const char* address,
                                  bool dualStack = false) {
    return dualStack ? openDualStackSocket(threadId, address, 0) : openSocket(threadId, address, 0);
  }
  // The same, but "::" takes IPv4 callers too (as mapped addresses).
  virtual int openDualStackSocket(unsigned long threadId, const char* address,
                                  unsigned short port) {
    return openSocket(threadId, address, port);
  }
  // Waits up to `timeoutMs` (any 32-bit value, in full) for a datagram,
  // waking at once on a stop request.
  virtual Wait waitForDatagram(uint32_t timeoutMs) = 0;
  // As waitForDatagram, watching `others` too (the test's TCP sockets, each
  // with the events it waits for): Readable when the test socket or one of
  // them is ready, their revents filled in and *datagram saying whether the
  // test socket is.
  virtual Wait waitForAny(pollfd* others, size_t count, uint32_t timeoutMs, bool* datagram) {
    for (size_t i = 0; i < count; ++i) others[i].revents = 0;
    *datagram = true;
    return waitForDatagram(timeoutMs);
  }
  // The test socket's port (host byte order); 0 when unknown.
  virtual uint16_t localPort() { return 0; }
  // A control connection's TCP sockets, as tcp_socket.h has them; refused
  // where the environment has no TCP.
  virtual int openTcpListener(const SocketAddress& /*local*/, std::string* error) {
    *error = "no TCP here";
    return -1;
  }
  virtual int acceptTcp(int /*listenFd*/, SocketAddress* /*peer*/) { return -1; }
  virtual int startTcpConnect(const SocketAddress& /*to*/, std::string* error) {
    *error = "no TCP here";
    return -1;
  }
  virtual bool tcpConnected(int /*fd*/, std::string* error) {
    *error = "no TCP here";
    return false;
  }
  virtual long readTcp(int /*fd*/, uint8_t* /*buffer*/, size_t /*capacity*/) { return -2; }
  virtual long writeTcp(int /*fd*/, const uint8_t* /*data*/, size_t /*length*/) { return -2; }
  virtual void closeTcp(int /*fd*/) {}

  // One datagram with its sender and arrival time: its length, or -1.
  virtual long receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
                       TimeOfDay* arrival) = 0;
  // The datagrams waiting once the socket is readable, up to `count`: how
  // many, or -1. One at a time unless the system takes many per call.
  virtual int receiveBatch(Datagram* batch, int count) {
    if (count <= 0) return 0;
    const long length = receive(batch[0].data, batch[0].capacity, &batch[0].peer, &batch[0].arrival);
    if (length < 0) return -1;
    batch[0].length = static_cast<size_t>(length);
    return 1;
  }
  // Sends `count` datagrams: how many went, or -1 when none could.
  virtual int sendBatch(const Datagram* batch, int count) {
    int went = 0;
    for (int i = 0; i < count; ++i) {
      if (send(batch[i].data, batch[i].length, batch[i].peer) >= 0) went++;
    }
    return count == 0 || went > 0 ? went : -1;
  }
  // Sends one datagram: its length, or -1.
  virtual long send(const uint8_t* data, size_t length, const SocketAddress& to) = 0;
  // A receive buffer of `bytes` for a socket that takes many streams at once.
  virtual void enlargeReceiveBuffer(int /*bytes*/) {}
  // Received datagrams say the class and TTL they arrived with (the
  // batches' marks): false where the system cannot tell.
  virtual bool reportIpMarks() { return false; }
  // The class and TTL the socket sends with (a field of -1 left as it is).
  virtual bool setIpMarks(const IpMarks& /*marks*/) { return false; }
  // The system's reason for the last send that failed; empty if unknown.
  virtual std::string lastSendError() { return ""; }
  virtual void closeSocket() = 0;

  // Why the test failed: every part of it notes here, and the test hands
  // the note back with its result.
  FailureNote& failure() { return failureNote; }

 private:
  FailureNote failureNote;
};

// The operating system's environment. Each test has one: it holds the
// test's socket, and closes it when it goes.
class SystemEnvironment : public Environment {
 public:
  ~SystemEnvironment() override { SystemEnvironment::closeSocket(); }

  TimeOfDay timeOfDay() override;
  int64_t monotonicMicros() override;
  void nap(unsigned int micros) override;
  bool stopRequested() override;
  uint32_t random32() override;
  bool clockSynchronized() override;
  int openSocket(unsigned long threadId, const char* address, unsigned short port) override;
  int openSocketOnAnyPort(unsigned long threadId, const char* address,
                          bool dualStack = false) override;
  int openDualStackSocket(unsigned long threadId, const char* address,
                          unsigned short port) override;
  Wait waitForDatagram(uint32_t timeoutMs) override;
  Wait waitForAny(pollfd* others, size_t count, uint32_t timeoutMs, bool* datagram) override;
  uint16_t localPort() override;
  int openTcpListener(const SocketAddress& local, std::string* error) override;
  int acceptTcp(int listenFd, SocketAddress* peer) override;
  int startTcpConnect(const SocketAddress& to, std::string* error) override;
  bool tcpConnected(int fd, std::string* error) override;
  long readTcp(int fd, uint8_t* buffer, size_t capacity) override;
  long writeTcp(int fd, const uint8_t* data, size_t length) override;
  void closeTcp(int fd) override;
  long receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
               TimeOfDay* arrival) override;
  long send(const uint8_t* data, size_t length, const SocketAddress& to) override;
  int receiveBatch(Datagram* batch, int count) override;
  int sendBatch(const Datagram* batch, int count) override;
  void enlargeReceiveBuffer(int bytes) override { ::enlargeReceiveBuffer(socketFd, bytes); }
  bool reportIpMarks() override { return ::reportIpMarks(socketFd); }
  bool setIpMarks(const IpMarks& marks) override { return ::setIpMarks(socketFd, marks); }
  std::string lastSendError() override { return sendError; }
  void closeSocket() override;

 private:
  int openBound(unsigned long threadId, const char* address, unsigned short port, bool ipv6Only);

  int socketFd = -1;
  std::string sendError;
};

#endif  // TESK_ENVIRONMENT_H
