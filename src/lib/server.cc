#include "server.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "packet.h"
#include "sleep_utils.h"
#include "stop_request.h"
#include "task_pool.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

#define SERVER_LOG(parts) TESK_LOG(7, "Server(" << serverThreadId << "): " << parts)
#define SERVER_FAILURE(parts) TESK_LOG_FAILURE(7, "Server(" << serverThreadId << "): ", parts)

namespace {

constexpr unsigned int kPollStepMicros = 10000;
constexpr uint32_t kEndOfStreamWaitMillis = 1000;
constexpr int64_t kEndOfStreamDrainMicros = 3000000;
constexpr uint32_t kStopWaitSlackMillis = 3000;
// How often a wait for datagrams looks for a stop request.
constexpr int kStopCheckMillis = 100;
constexpr int kStopRequested = -2;

// What the server and the calculation share. It is reference-counted so that
// it stays valid for a calculation task that starts or ends after the server
// has given up waiting for it.
struct SharedRun {
  PayloadMap map;
  std::mutex mapMutex;
  std::atomic<int16_t> qosStatus{0};
  std::atomic<uint8_t> serverRunning{1};
  std::atomic<uint8_t> qosState{kQosRunning};
  QosCalcParams calcParams;
};

struct CalcTask {
  std::shared_ptr<SharedRun> run;
};

unsigned long runCalcTask(void* arg) {
  std::unique_ptr<CalcTask> task(static_cast<CalcTask*>(arg));
  return qosCalc(&task->run->calcParams);
}

class Server {
 public:
  Server(const ServerParams& params, unsigned short threadCount)
      : p(params), threadCount(threadCount), shared(std::make_shared<SharedRun>()) {
    serverThreadId = getOwnThreadId();
    std::strncpy(address, p.localAddress, sizeof address - 1);
    QosCalcParams& c = shared->calcParams;
    c.payloadMap = &shared->map;
    c.mapMutex = &shared->mapMutex;
    c.windowSize = p.windowSize;
    c.sampleInterval = p.sampleInterval;
    c.dejitterLength = p.dejitterLength;
    c.timeout = p.timeout;
    c.testId = p.testId;
    c.qosStatus = &shared->qosStatus;
    c.serverRunning = &shared->serverRunning;
    c.qosState = &shared->qosState;
    c.callback = p.callback;
    c.context = p.context;
    static_assert(sizeof c.localAddress >= sizeof address, "the calculation's copy must hold any address");
    std::memcpy(c.localAddress, address, sizeof address);
    c.localPort = p.localPort;
    c.serverThreadId = serverThreadId;
  }

  int run() {
    SERVER_LOG("Invoking the QoS calculation thread");
    CalcTask* task = new CalcTask{shared};
    int queued = queueWorkTask(runCalcTask, task, threadCount);
    if (queued < 0) {
      delete task;
      SERVER_FAILURE("Failed to add QoSCalc task, error " << queued);
      return THREAD_ERROR;
    }
    SERVER_LOG("QoS calculation thread invoked");

    int socketFd = -1;
    int socketResult = startUdpSocketComm(serverThreadId, address, p.localPort, socketFd);
    if (socketResult != 0) {
      SERVER_LOG("Error starting up UDP socket communications (ip=" << address << ", port="
                                                                   << p.localPort << "): "
                                                                   << "Tesk error: " << socketResult
                                                                   << ", wait QoSCalc to terminate..");
      if (!stopCalculation()) return THREAD_ERROR;
      SERVER_LOG("QoSCalc thread terminated");
      return socketResult;
    }
    enableArrivalTimestamps(socketFd);
    SERVER_LOG("UDP socket communications started.");
    SERVER_LOG("Timeout is " << p.timeout);
    int result = receiveLoop(socketFd);
    closeSocket(socketFd);
    return result;
  }

 private:
  int receiveLoop(int socketFd) {
    uint8_t buffer[kPacketBufferSize];
    bool clientFound = false;
    bool draining = false;
    int64_t eosStartMicros = 0;  // monotonic
    for (;;) {
      if (shared->qosState.load() == kQosEnded && !draining) {
        SERVER_LOG("Qos thread exited, reading EOS packets");
        draining = true;
        eosStartMicros = monotonicMicros();
      }
      const uint32_t timeoutMs = draining ? kEndOfStreamWaitMillis : p.timeout;
      const int ready = waitForDatagram(socketFd, timeoutMs);
      if (ready == kStopRequested) {
        SERVER_LOG("Stop requested, waiting QosCalc to terminate");
        if (!draining && !stopCalculation()) return THREAD_ERROR;
        return 0;
      }
      if (ready <= 0) {
        if (!draining) {
          SERVER_LOG("read timeout or error, waiting QosCalc to terminate. Return val " << ready);
          if (!stopCalculation()) return THREAD_ERROR;
          // Noted only now, so that a calculation that gave up first names
          // its own reason.
          noteTestError("read timeout or error, waiting QosCalc to terminate. Return val " +
                        std::to_string(ready));
          SERVER_LOG("QoSCalc thread terminated\n");
          return TIMEOUT_ERROR;
        }
        if (ready < 0) SERVER_LOG("Failed to read EOS packet! Wait QoSCalc to terminate");
        SERVER_LOG("QoSCalc thread terminated\n");
        // The calculation has ended; its status tells how (0 at the end of
        // the stream).
        return shared->qosStatus.load();
      }

      SocketAddress sender;
      std::memset(&sender.storage, 0, sizeof sender.storage);
      TimeOfDay arrival;
      const long length = receiveDatagram(socketFd, buffer, sizeof buffer, &sender, &arrival);
      if (length < 0) {
        SERVER_FAILURE("Error receiving, wait QoSCalc to terminate..");
        if (!stopCalculation()) return THREAD_ERROR;
        SERVER_LOG("QoSCalc thread terminated");
        return SOCKET_ERROR;
      }
      if (!clientFound) {
        SERVER_LOG("Initial client found: " << formatAddressAndPort(sender));
      }
      const double receiveTime = arrival.seconds();

      if (draining) {
        if (monotonicMicros() - eosStartMicros >= kEndOfStreamDrainMicros) {
          return shared->qosStatus.load();
        }
        clientFound = true;
        continue;
      }

      // A datagram shorter than the header carries no packet.
      Payload payload;
      if (decodePacket(buffer, static_cast<size_t>(length), payload)) {
        storePayload(shared->map, shared->mapMutex, receiveTime, payload);
      }

      if (shared->qosStatus.load() != 0) {
        if (!waitForCalculationEnd()) return THREAD_ERROR;
        SERVER_LOG("Error in QosCalc thread");
        return shared->qosStatus.load();
      }
      clientFound = true;
    }
  }

  // Waits up to `timeoutMs` for a datagram, as waitReadable does, but looks
  // for a stop request in between: kStopRequested when one came. Any 32-bit
  // time-out is waited in full.
  int waitForDatagram(int socketFd, uint32_t timeoutMs) {
    const int64_t deadline = monotonicMicros() + static_cast<int64_t>(timeoutMs) * 1000;
    for (;;) {
      if (testStopRequested()) return kStopRequested;
      const int64_t remainingMicros = deadline - monotonicMicros();
      if (remainingMicros <= 0) return 0;
      const int64_t remainingMillis = (remainingMicros + 999) / 1000;
      const int ready =
          waitReadable(socketFd, static_cast<int>(std::min<int64_t>(remainingMillis, kStopCheckMillis)));
      if (ready != 0) return ready;
    }
  }

  // Asks the calculation to stop and waits for it. False when it did not
  // end within the bound.
  bool stopCalculation() {
    shared->serverRunning.store(0);
    return waitForCalculationEnd();
  }

  bool waitForCalculationEnd() {
    const uint32_t limitMillis = serverStopWaitMillis(p.timeout, p.sampleInterval);
    const int64_t deadline = monotonicMicros() + static_cast<int64_t>(limitMillis) * 1000;
    while (shared->qosState.load() != kQosEnded) {
      if (monotonicMicros() > deadline) {
        shared->serverRunning.store(0);
        SERVER_FAILURE("QoSCalc thread did not terminate within " << limitMillis << " ms");
        return false;
      }
      nap(kPollStepMicros);
    }
    return true;
  }

  const ServerParams p;
  const unsigned short threadCount;
  std::shared_ptr<SharedRun> shared;
  unsigned long serverThreadId;
  char address[kAddressTextBuffer] = {0};
};

}  // namespace

uint32_t serverStopWaitMillis(uint32_t timeoutMs, uint16_t sampleIntervalMs) {
  const uint64_t millis = uint64_t{timeoutMs} + 2u * sampleIntervalMs + kStopWaitSlackMillis;
  return static_cast<uint32_t>(std::min<uint64_t>(millis, UINT32_MAX));
}

int startServer(ServerParams params, unsigned short threadCount) {
  TESK_LOG(7, "Invoking the server thread");
  int result = Server(params, threadCount).run();
  TESK_LOG(7, "Error code: " << result);
  return result;
}
