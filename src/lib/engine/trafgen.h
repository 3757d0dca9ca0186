#ifndef TESK_TRAFGEN_H
#define TESK_TRAFGEN_H

// The traffic generator: the sending half of a test. It sends one test
// packet per stream interval for the test duration, then end-of-stream
// packets at the same pace for 2000 ms, and reports the data packets sent so
// far once per sampling interval. It runs on the calling thread.

#include <cstdint>

typedef void (*SenderSampleCallback)(void* context, unsigned int sentPackets, unsigned int testId);

// Validated by runSender before the generator sees it.
struct GeneratorParams {
  uint32_t testDuration;    // ms, more than 1000
  uint8_t codec;            // 0 G711, 1 GSM0610
  uint16_t fec;             // 0 none, 1-3 gsmpiggyback1-3
  uint8_t streamInterval;   // ms, 1-150
  uint16_t packetSize;      // bytes of the IP datagram, 43-1528
  uint16_t sampleInterval;  // ms, not 0, not above testDuration
  uint16_t localPort;
  uint16_t remotePort;
  const char* localAddress;   // dotted IPv4, at most 15 characters; caller's
  const char* remoteAddress;  // likewise
  uint32_t testId;
  SenderSampleCallback callback;
  void* context;
  int32_t generatorOption;  // carried, unused
};

// Runs a whole send test. Returns 0, or SOCKET_ERROR when the remote address
// is unusable, the socket cannot be opened or a send fails.
int startGenerator(GeneratorParams params);

#endif  // TESK_TRAFGEN_H
