#include <algorithm>
#include <random>

#include "clock_sync.h"
#include "environment.h"
#include "stop_request.h"
#include "tcp_socket.h"

TimeOfDay SystemEnvironment::timeOfDay() { return platformTimeOfDay(); }

int64_t SystemEnvironment::monotonicMicros() { return ::monotonicMicros(); }

void SystemEnvironment::nap(unsigned int micros) { platformNap(micros); }

bool SystemEnvironment::stopRequested() { return testStopRequested(); }

uint32_t SystemEnvironment::random32() { return std::random_device()(); }

bool SystemEnvironment::clockSynchronized() { return systemClockSynchronized(); }

int SystemEnvironment::openSocket(unsigned long threadId, const char* address,
                                  unsigned short port) {
  return openBound(threadId, address, port, true);
}

int SystemEnvironment::openSocketOnAnyPort(unsigned long threadId, const char* address,
                                           bool dualStack) {
  const int result =
      startUdpSocketCommAnyPort(threadId, address, socketFd, &failure(), !dualStack);
  if (result != 0) {
    socketFd = -1;
    return result;
  }
  enableArrivalTimestamps(socketFd);
  return 0;
}

int SystemEnvironment::openDualStackSocket(unsigned long threadId, const char* address,
                                           unsigned short port) {
  return openBound(threadId, address, port, false);
}

int SystemEnvironment::openBound(unsigned long threadId, const char* address, unsigned short port,
                                 bool ipv6Only) {
  const int result =
      startUdpSocketComm(threadId, address, port, socketFd, &failure(), ipv6Only);
  if (result != 0) {
    socketFd = -1;
    return result;
  }
  enableArrivalTimestamps(socketFd);
  return 0;
}

namespace {

// Waits with `pollOnce(ms)` (ready > 0, nothing 0, failure < 0, kWoken on a
// stop) until something is ready, the stop request or the deadline; a wait
// of 0 still looks once. Where the stop request has no descriptor to poll,
// each poll lasts kStopCheckMillis at the most.
template <typename PollOnce>
Environment::Wait waitWith(uint32_t timeoutMs, int wakeFd, PollOnce pollOnce) {
  const int64_t deadline = monotonicMicros() + static_cast<int64_t>(timeoutMs) * 1000;
  for (;;) {
    if (testStopRequested()) return Environment::Wait::StopRequested;
    const int64_t remainingMicros = std::max<int64_t>(deadline - monotonicMicros(), 0);
    int64_t step = (remainingMicros + 999) / 1000;
    step = std::min<int64_t>(step, wakeFd >= 0 ? INT32_MAX : kStopCheckMillis);
    const int ready = pollOnce(static_cast<int>(step));
    if (ready == kWoken) return Environment::Wait::StopRequested;
    if (ready > 0) return Environment::Wait::Readable;
    if (ready < 0) return Environment::Wait::Failed;
    if (monotonicMicros() >= deadline) return Environment::Wait::TimedOut;
  }
}

}  // namespace

// The poll set holds the socket and the stop request's descriptor, so a stop
// wakes the wait at once and an idle receiver does not wake at all.
Environment::Wait SystemEnvironment::waitForDatagram(uint32_t timeoutMs) {
  const int wakeFd = stopRequestWakeFd();
  return waitWith(timeoutMs, wakeFd,
                  [&](int ms) { return waitReadableOrWoken(socketFd, wakeFd, ms); });
}

Environment::Wait SystemEnvironment::waitForAny(pollfd* others, size_t count, uint32_t timeoutMs,
                                               bool* datagram) {
  *datagram = true;
  if (count == 0) return waitForDatagram(timeoutMs);
  // The test socket, the stop request's descriptor (skipped when negative),
  // then the others.
  std::vector<pollfd> fds(count + 2);
  fds[0] = pollEntry(socketFd, POLLIN);
  const int wakeFd = stopRequestWakeFd();
  fds[1] = pollEntry(wakeFd, POLLIN);
  for (size_t i = 0; i < count; ++i) fds[i + 2] = others[i];
  const Wait w = waitWith(timeoutMs, wakeFd, [&](int ms) {
    const int ready = pollSockets(fds.data(), static_cast<unsigned long>(fds.size()), ms);
    if (ready <= 0) return ready;
    return fds[1].revents != 0 ? kWoken : 1;
  });
  if (w != Wait::Readable) return w;
  for (size_t i = 0; i < count; ++i) others[i].revents = fds[i + 2].revents;
  *datagram = fds[0].revents != 0;
  return w;
}

uint16_t SystemEnvironment::localPort() {
  SocketAddress local;
  local.length = sizeof local.storage;
  if (socketFd < 0 ||
      getsockname(socketFd, reinterpret_cast<sockaddr*>(&local.storage), &local.length) != 0) {
    return 0;
  }
  return local.port();
}

int SystemEnvironment::openTcpListener(const SocketAddress& local, std::string* error) {
  return ::openTcpListener(local, error);
}
int SystemEnvironment::acceptTcp(int listenFd, SocketAddress* peer) {
  return ::acceptTcp(listenFd, peer);
}
int SystemEnvironment::startTcpConnect(const SocketAddress& to, std::string* error) {
  return ::startTcpConnect(to, error);
}
bool SystemEnvironment::tcpConnected(int fd, std::string* error) {
  return ::tcpConnected(fd, error);
}
long SystemEnvironment::readTcp(int fd, uint8_t* buffer, size_t capacity) {
  return ::readTcp(fd, buffer, capacity);
}
long SystemEnvironment::writeTcp(int fd, const uint8_t* data, size_t length) {
  return ::writeTcp(fd, data, length);
}
void SystemEnvironment::closeTcp(int fd) { ::closeTcp(fd); }

long SystemEnvironment::receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
                                TimeOfDay* arrival) {
  return receiveDatagram(socketFd, buffer, capacity, from, arrival);
}

long SystemEnvironment::send(const uint8_t* data, size_t length, const SocketAddress& to) {
  const long sent = sendDatagram(socketFd, data, length, to);
  if (sent < 0) sendError = lastSocketErrorText();
  return sent;
}

int SystemEnvironment::receiveBatch(Datagram* batch, int count) {
  return receiveDatagrams(socketFd, batch, count);
}

int SystemEnvironment::sendBatch(const Datagram* batch, int count) {
  const int went = sendDatagrams(socketFd, batch, count);
  if (went < count) sendError = lastSocketErrorText();
  return went;
}

void SystemEnvironment::closeSocket() {
  if (socketFd >= 0) ::closeSocket(socketFd);
  socketFd = -1;
}
