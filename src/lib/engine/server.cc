#include "server.h"

#include <string>

#include "event_loop.h"
#include "packet.h"
#include "server_log.h"
#include "sleep_utils.h"
#include "task_pool.h"
#include "tesk_errors.h"
#include "test_error.h"

namespace {

ReceiveLabels labelsOf(const TeskReceiveSettings& config, unsigned long threadId) {
  ReceiveLabels labels;
  const std::string id = std::to_string(threadId);
  labels.server = "Server(" + id + "): ";
  // The calculation runs on the server's own thread.
  labels.calculation = "QoSCalc(" + id + ", " + id + "): ";
  // Copies hold the longest address text of either family; a longer text is
  // cut and then refused as unparsable.
  labels.localAddress = config.localAddress.substr(0, kAddressTextBuffer - 1);
  labels.localPort = config.localPort;
  return labels;
}

int serve(const TeskReceiveSettings& config, SampleSink sink, Environment& env) {
  const unsigned long threadId = getOwnThreadId();
  const ReceiveLabels labels = labelsOf(config, threadId);
  SERVER_LOG(threadId, "Invoking the QoS calculation thread");
  noteReceiveWorkers(config.threadCount);
  SERVER_LOG(threadId, "QoS calculation thread invoked");

  const int socketResult = env.openSocket(threadId, labels.localAddress.c_str(), config.localPort);
  if (socketResult != 0) {
    SERVER_LOG(threadId, "Error starting up UDP socket communications (ip="
                             << labels.localAddress << ", port=" << config.localPort << "): "
                             << "Tesk error: " << socketResult << ", wait QoSCalc to terminate..");
    SERVER_LOG(threadId, "QoSCalc thread terminated");
    return socketResult;
  }
  SERVER_LOG(threadId, "UDP socket communications started.");
  SERVER_LOG(threadId, "Timeout is " << config.window.timeout);

  WindowSettings window(config.window);
  window.networkDelayMs = config.oneWayDelayMs;
  ReceiveLoop receiver(window, sink, labels, env);
  LoopSettings settings;
  settings.batch = 16;
  settings.slotBytes = kPacketBufferSize;
  const int result = receiver.result(runLoop(env, receiver, settings));
  env.closeSocket();
  return result;
}

}  // namespace

int runServer(const TeskReceiveSettings& config, SampleSink sink, Environment& env) {
  TESK_LOG(7, "Invoking the server thread");
  const int result = serve(config, sink, env);
  TESK_LOG(7, "Error code: " << result);
  return result;
}

TestOutcome startServer(const TeskReceiveSettings& config, SampleSink sink) {
  SystemEnvironment env;
  const int code = runServer(config, sink, env);
  return outcomeOf(code, env.failure());
}
