#ifndef TESK_SERVER_H
#define TESK_SERVER_H

// The receiving server: binds the UDP socket, starts the receive
// calculation in the background, and hands it every received test packet
// until the calculation has met the end of the stream. Runs on the calling
// thread.

#include <cstdint>
#include <memory>

#include "environment.h"
#include "qos_calc.h"
#include "test_config.h"

// What the server hands its one background task: the calculation, shared so
// that it stays valid for a task that starts or ends after the server has
// given up waiting for it. The task owns (and deletes) the record.
struct CalculationTask {
  std::shared_ptr<ReceiveCalculation> calculation;
};

// Runs a whole receive test. Returns 0 at a normal end; TIMEOUT_ERROR when
// no packet came for `timeout` ms or the calculation gave up;
// SOCKET_ERROR or PARAMETER_ERROR from the socket layer; THREAD_ERROR when
// the calculation could not be started or did not end in time.
TestOutcome startServer(const ReceiveConfig& config, SampleSink sink);
// The same in a given environment, whose failure note holds the reason. The
// calculation shares it, and may outlive the server when it did not end in
// time.
int runServer(const ReceiveConfig& config, SampleSink sink, std::shared_ptr<Environment> env);

// How long the server waits for the calculation to end once it has asked:
// the calculation looks at the request at least once per sampling interval,
// or every 10 ms while it waits for its first packet.
uint32_t serverStopWaitMillis(uint32_t timeoutMs, uint16_t sampleIntervalMs);

#endif  // TESK_SERVER_H
