#ifndef TESK_SERVER_H
#define TESK_SERVER_H

// The receiving server: binds the UDP socket, starts the QoS calculation on
// the task pool, and stores every received test packet in the shared
// PayloadMap until the calculation has met the end of the stream. Runs on
// the calling thread.

#include <cstdint>

#include "qos_calc.h"
#include "test_config.h"
#include "udp_socket.h"

// What the server needs from outside: the task pool, the socket and the
// stop request. startServer uses the system's; tests script one, on the
// test clock, to run the server deterministically.
class ServerEnvironment {
 public:
  enum class Wait { Readable, TimedOut, Failed, StopRequested };

  virtual ~ServerEnvironment() = default;
  // Starts `task(arg)`, which runs `calc`, in the background; negative
  // when it cannot.
  virtual int startCalculation(unsigned long (*task)(void*), void* arg, ReceiveCalculation* calc,
                               unsigned short threadCount) = 0;
  // Opens the receive socket: 0, or the socket layer's error code.
  virtual int openSocket(unsigned long threadId, const char* address, unsigned short port) = 0;
  // Waits up to `timeoutMs` (any 32-bit value, in full) for a datagram,
  // waking at once on a stop request.
  virtual Wait waitForDatagram(uint32_t timeoutMs) = 0;
  // One datagram with its sender and arrival time: its length, or -1.
  virtual long receive(uint8_t* buffer, size_t capacity, SocketAddress* from,
                       TimeOfDay* arrival) = 0;
  virtual void closeSocket() = 0;
};

// Runs a whole receive test. Returns 0 at a normal end; TIMEOUT_ERROR when
// no packet came for `timeout` ms or the calculation gave up;
// SOCKET_ERROR or PARAMETER_ERROR from the socket layer; THREAD_ERROR when
// the calculation could not be started or did not end in time.
int startServer(const ReceiveConfig& config, SampleSink sink);
// The same in a given environment.
int runServer(const ReceiveConfig& config, SampleSink sink, ServerEnvironment& env);

// How long the server waits for the calculation to end once it has asked:
// the calculation looks at the request at least once per sampling interval,
// or every 10 ms while it waits for its first packet.
uint32_t serverStopWaitMillis(uint32_t timeoutMs, uint16_t sampleIntervalMs);

#endif  // TESK_SERVER_H
