#ifndef TESK_TRAFGEN_H
#define TESK_TRAFGEN_H

// The traffic generator: the sending half of a test. It sends one test
// packet per stream interval for the test duration, then end-of-stream
// packets at the same pace for 2000 ms, and reports the data packets sent so
// far once per sampling interval. It runs on the calling thread, as a core of
// the event loop that only sends: its sends keep to slots one interval apart,
// so a late pause shortens the next one rather than slowing the stream.

#include <cstdint>

#include "environment.h"
#include "tesk_settings.h"

typedef void (*SenderSampleCallback)(void* context, unsigned int sentPackets, unsigned int testId);

// Where the sender's samples go: called on the sending thread.
struct SendSink {
  SenderSampleCallback deliver = nullptr;
  void* context = nullptr;
};

// Runs a whole send test with a configuration that runSender has checked.
// Returns 0, or SOCKET_ERROR when the remote address is unusable, the
// socket cannot be opened or a send fails, with the reason.
TestOutcome startGenerator(const TeskSendSettings& config, SendSink sink);
// The same in a given environment, whose failure note holds the reason.
int runGenerator(const TeskSendSettings& config, SendSink sink, Environment& env);

// Samples come every `sampleInterval / streamInterval` data packets, or
// every 10 when the sampling interval is shorter than a packet.
uint32_t trafgenPacketsPerCallback(uint16_t sampleIntervalMs, uint8_t streamIntervalMs);

#endif  // TESK_TRAFGEN_H
