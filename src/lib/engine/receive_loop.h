#ifndef TESK_RECEIVE_LOOP_H
#define TESK_RECEIVE_LOOP_H

// The receive test as a core of the event loop, on the receiving thread:
// every test packet goes into the meter as it is read; from the first one
// on the meter is ticked once per sampling interval, each window taken when
// the de-jitter length after its tick has passed, until the tick that meets
// the end of the stream; then the socket is drained of the remaining
// end-of-stream packets (until one second of silence, three seconds at
// most). No packet within the time-out ends the test.

#include <cstdint>
#include <string>

#include "event_loop.h"
#include "meter.h"
#include "tesk_sample.h"

// Where samples go: called on the receiving thread, between two reads.
struct SampleSink {
  void (*deliver)(void* context, const TeskSample& sample) = nullptr;
  void* context = nullptr;
};

// What the log lines name: "Server(id): " and "QoSCalc(id, id): ".
struct ReceiveLabels {
  std::string server;
  std::string calculation;
  std::string localAddress;
  uint16_t localPort = 0;
};

class ReceiveLoop : public LoopCore {
 public:
  ReceiveLoop(const WindowSettings& window, SampleSink sink, ReceiveLabels labels,
              Environment& env);

  LoopWake due(int64_t now, Outbox& out) override;
  void take(Datagram* batch, int count, int64_t now, Outbox& out) override;
  bool receiveFailed() override;

  // The test's result once the loop has ended with `end`: 0 at the end of
  // the stream or a stop request; TIMEOUT_ERROR when nothing (or nothing
  // measurable) came in time; SOCKET_ERROR when a read failed.
  int result(LoopEnd end);

 private:
  enum class Phase { WaitingForFirst, Measuring, Draining, Over };

  void begin(int64_t now);
  void tick(int64_t now);
  // No datagram within the time-out, or a wait that failed.
  void readEnded(int pollResult);
  void finish(int code);
  // The calculation's own line when the server ends it early.
  void logCalculationStopped() const;

  const WindowSettings window;
  const SampleSink sink;
  const ReceiveLabels labels;
  Environment& env;
  Meter meter;

  Phase phase = Phase::WaitingForFirst;
  int code = 0;
  bool clientFound = false;
  int64_t waitingSince = 0;  // monotonic µs, as every time below
  int64_t lastRead = 0;
  int64_t nextTick = 0;
  // A window's tick waits for the de-jitter length before it is taken.
  bool tickHeld = false;
  int64_t heldTickAt = 0;
  TimeOfDay heldTickTime;
  int64_t drainStart = 0;
};

#endif  // TESK_RECEIVE_LOOP_H
