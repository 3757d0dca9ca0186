#ifndef TESK_SERVER_H
#define TESK_SERVER_H

// The receiving server: binds the UDP socket, starts the QoS calculation on
// the task pool, and stores every received test packet in the shared
// PayloadMap until the calculation has met the end of the stream. Runs on
// the calling thread.

#include <cstdint>

#include "qos_calc.h"

// Validated by runReceiver before the server sees it.
struct ServerParams {
  uint16_t localPort;
  uint16_t windowSize;        // ms, more than 1000 and more than sampleInterval
  const char* localAddress;   // dotted IPv4 or an IPv6 literal; caller's
  uint16_t sampleInterval;    // ms, not 0
  uint16_t dejitterLength;    // ms
  uint32_t timeout;           // ms, not 0
  uint32_t testId;
  ReceiverSampleCallback callback;
  void* context;
};

// Runs a whole receive test. Returns 0 at a normal end; TIMEOUT_ERROR when
// no packet came for `timeout` ms or the calculation gave up;
// SOCKET_ERROR or PARAMETER_ERROR from the socket layer; THREAD_ERROR when
// the calculation could not be started or did not end in time.
int startServer(ServerParams params, unsigned short threadCount);

// How long the server waits for the calculation to end once it has asked:
// the calculation looks at the request at least once per sampling interval,
// or every 10 ms while it waits for its first packet.
uint32_t serverStopWaitMillis(uint32_t timeoutMs, uint16_t sampleIntervalMs);

#endif  // TESK_SERVER_H
