#include <algorithm>

#include "environment.h"
#include "stop_request.h"
#include "task_pool.h"

TimeOfDay SystemEnvironment::timeOfDay() { return platformTimeOfDay(); }

int64_t SystemEnvironment::monotonicMicros() { return ::monotonicMicros(); }

void SystemEnvironment::nap(unsigned int micros) { platformNap(micros); }

void SystemEnvironment::sleep(unsigned int micros) { sleepCoarse(micros); }

void SystemEnvironment::sleepUnlessWoken(WakeableSleep& sleeper, unsigned int micros) {
  sleeper.sleepFor(micros);
}

bool SystemEnvironment::stopRequested() { return testStopRequested(); }

int SystemEnvironment::startBackground(unsigned long (*task)(void*), void* arg,
                                       unsigned short threadCount) {
  return queueWorkTask(task, arg, threadCount);
}

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

// The poll set holds the socket and the stop request's descriptor, so a stop
// wakes the wait at once and an idle receiver does not wake at all. Where
// there is no such descriptor, the wait looks every kStopCheckMillis.
Environment::Wait SystemEnvironment::waitForDatagram(uint32_t timeoutMs) {
  const int64_t deadline = monotonicMicros() + static_cast<int64_t>(timeoutMs) * 1000;
  const int wakeFd = stopRequestWakeFd();
  for (;;) {
    if (testStopRequested()) return Wait::StopRequested;
    const int64_t remainingMicros = deadline - monotonicMicros();
    if (remainingMicros <= 0) return Wait::TimedOut;
    int64_t step = (remainingMicros + 999) / 1000;
    step = std::min<int64_t>(step, wakeFd >= 0 ? INT32_MAX : kStopCheckMillis);
    const int ready = waitReadableOrWoken(socketFd, wakeFd, static_cast<int>(step));
    if (ready == kWoken) return Wait::StopRequested;
    if (ready > 0) return Wait::Readable;
    if (ready < 0) return Wait::Failed;
  }
}

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
