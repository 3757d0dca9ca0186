#include "server.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "packet.h"
#include "server_log.h"
#include "sleep_utils.h"
#include "tesk_errors.h"
#include "test_error.h"

namespace {

constexpr unsigned int kPollStepMicros = 10000;
constexpr uint32_t kEndOfStreamWaitMillis = 1000;
constexpr int64_t kEndOfStreamDrainMicros = 3000000;
constexpr uint32_t kStopWaitSlackMillis = 3000;

unsigned long runCalcTask(void* arg) {
  std::unique_ptr<CalculationTask> task(static_cast<CalculationTask*>(arg));
  return qosCalc(task->calculation.get());
}

class Server {
 public:
  Server(const ReceiveConfig& receiveConfig, SampleSink sink, std::shared_ptr<Environment> shared)
      : config(receiveConfig), env(*shared), serverThreadId(getOwnThreadId()) {
    std::strncpy(address, config.localAddress.c_str(), sizeof address - 1);
    calculation = std::make_shared<ReceiveCalculation>(
        config.window, sink, CalculationLabel{address, config.localPort, serverThreadId},
        std::move(shared));
  }

  int run() {
    SERVER_LOG(serverThreadId, "Invoking the QoS calculation thread");
    CalculationTask* task = new CalculationTask{calculation};
    const int queued =
        env.startBackground(runCalcTask, task, config.threadCount);
    if (queued < 0) {
      delete task;
      SERVER_FAILURE(env.failure(), serverThreadId, "Failed to add QoSCalc task, error " << queued);
      return THREAD_ERROR;
    }
    SERVER_LOG(serverThreadId, "QoS calculation thread invoked");

    const int socketResult = env.openSocket(serverThreadId, address, config.localPort);
    if (socketResult != 0) {
      SERVER_LOG(serverThreadId, "Error starting up UDP socket communications (ip="
                                     << address << ", port=" << config.localPort << "): "
                                     << "Tesk error: " << socketResult
                                     << ", wait QoSCalc to terminate..");
      if (!stopCalculation()) return THREAD_ERROR;
      SERVER_LOG(serverThreadId, "QoSCalc thread terminated");
      return socketResult;
    }
    SERVER_LOG(serverThreadId, "UDP socket communications started.");
    SERVER_LOG(serverThreadId, "Timeout is " << config.window.timeout);
    const int result = receiveLoop();
    env.closeSocket();
    return result;
  }

 private:
  int receiveLoop() {
    uint8_t buffer[kPacketBufferSize];
    bool clientFound = false;
    bool draining = false;
    int64_t eosStartMicros = 0;  // monotonic
    for (;;) {
      if (calculation->hasEnded() && !draining) {
        SERVER_LOG(serverThreadId, "Qos thread exited, reading EOS packets");
        draining = true;
        eosStartMicros = env.monotonicMicros();
      }
      const uint32_t timeoutMs = draining ? kEndOfStreamWaitMillis : config.window.timeout;
      const Environment::Wait wait = env.waitForDatagram(timeoutMs);
      if (wait == Environment::Wait::StopRequested) {
        SERVER_LOG(serverThreadId, "Stop requested, waiting QosCalc to terminate");
        if (!draining && !stopCalculation()) return THREAD_ERROR;
        return 0;
      }
      if (wait != Environment::Wait::Readable) {
        // The designed log line gives the poll's own value: 0 or -1.
        const int pollResult = wait == Environment::Wait::TimedOut ? 0 : -1;
        if (!draining) {
          SERVER_LOG(serverThreadId, "read timeout or error, waiting QosCalc to terminate. Return val "
                                         << pollResult);
          if (!stopCalculation()) return THREAD_ERROR;
          // Noted only now, so that a calculation that gave up first names
          // its own reason.
          env.failure().note("read timeout or error, waiting QosCalc to terminate. Return val " +
                             std::to_string(pollResult));
          SERVER_LOG(serverThreadId, "QoSCalc thread terminated\n");
          return TIMEOUT_ERROR;
        }
        if (pollResult < 0) {
          SERVER_LOG(serverThreadId, "Failed to read EOS packet! Wait QoSCalc to terminate");
        }
        // The line says the calculation is stopped and waited for, as on the
        // other ends; here it has already ended, so nothing is waited for.
        SERVER_LOG(serverThreadId, "QoSCalc thread terminated\n");
        // Its status tells how it ended.
        return calculation->status();
      }

      SocketAddress sender;  // filled by the receive
      TimeOfDay arrival;
      const long length = env.receive(buffer, sizeof buffer, &sender, &arrival);
      if (length < 0) {
        SERVER_FAILURE(env.failure(), serverThreadId, "Error receiving, wait QoSCalc to terminate..");
        if (!stopCalculation()) return THREAD_ERROR;
        SERVER_LOG(serverThreadId, "QoSCalc thread terminated");
        return SOCKET_ERROR;
      }
      if (!clientFound) {
        SERVER_LOG(serverThreadId, "Initial client found: " << formatAddressAndPort(sender));
      }

      if (draining) {
        if (env.monotonicMicros() - eosStartMicros >= kEndOfStreamDrainMicros) {
          return calculation->status();
        }
        clientFound = true;
        continue;
      }

      // A datagram shorter than the header carries no packet.
      Payload payload;
      if (decodePacket(buffer, static_cast<size_t>(length), payload)) {
        calculation->add(arrival.seconds(), payload);
      }

      if (calculation->status() != kQosEndOfStream) {
        if (!waitForCalculationEnd()) return THREAD_ERROR;
        SERVER_LOG(serverThreadId, "Error in QosCalc thread");
        return calculation->status();
      }
      clientFound = true;
    }
  }

  // Asks the calculation to stop, wakes its tick sleep, and waits for it.
  // False when it did not end within the bound.
  bool stopCalculation() {
    calculation->requestStop();
    return waitForCalculationEnd();
  }

  bool waitForCalculationEnd() {
    const uint32_t limitMillis = serverStopWaitMillis(config.window.timeout, config.window.sampleInterval);
    const int64_t deadline = env.monotonicMicros() + static_cast<int64_t>(limitMillis) * 1000;
    while (!calculation->hasEnded()) {
      if (env.monotonicMicros() > deadline) {
        calculation->requestStop();
        SERVER_FAILURE(env.failure(), serverThreadId,
                       "QoSCalc thread did not terminate within " << limitMillis << " ms");
        return false;
      }
      env.sleep(kPollStepMicros);
    }
    return true;
  }

  const ReceiveConfig config;
  Environment& env;
  const unsigned long serverThreadId;
  std::shared_ptr<ReceiveCalculation> calculation;
  char address[kAddressTextBuffer] = {0};
};

}  // namespace

uint32_t serverStopWaitMillis(uint32_t timeoutMs, uint16_t sampleIntervalMs) {
  const uint64_t millis = uint64_t{timeoutMs} + 2u * sampleIntervalMs + kStopWaitSlackMillis;
  return static_cast<uint32_t>(std::min<uint64_t>(millis, UINT32_MAX));
}

int runServer(const ReceiveConfig& config, SampleSink sink, std::shared_ptr<Environment> env) {
  TESK_LOG(7, "Invoking the server thread");
  const int result = Server(config, sink, std::move(env)).run();
  TESK_LOG(7, "Error code: " << result);
  return result;
}

TestOutcome startServer(const ReceiveConfig& config, SampleSink sink) {
  auto env = std::make_shared<SystemEnvironment>();
  const int code = runServer(config, sink, env);
  return outcomeOf(code, env->failure());
}
