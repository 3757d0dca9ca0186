#ifndef TESK_QOS_CALC_H
#define TESK_QOS_CALC_H

// The receive test's calculation: one meter on a background task, waiting
// for the first packet and then ticking once per sampling interval on the
// environment's clock, while the server's thread hands it the packets.
//
// Thread safety: the server's thread calls add(), requestStop() and the
// status readers; the task runs run(). Packets cross over through an inbox
// under a lock that is held only to append one packet or to take the whole
// inbox, never during a window pass; the meter is the task's alone. The
// status cells are atomic, each with one writer and values that only move
// forward: the stop request (server), then the status and, last, the end
// (task), after which the task touches nothing shared.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "environment.h"
#include "meter.h"
#include "tesk_errors.h"
#include "tesk_sample.h"

// Where samples go: called on the calculation's thread.
struct SampleSink {
  void (*deliver)(void* context, const TeskSample& sample) = nullptr;
  void* context = nullptr;
};

// The status a calculation ends with. The server hands it on as its own
// result, so one that gave up ends the test with TIMEOUT_ERROR.
constexpr int16_t kQosEndOfStream = 0;
constexpr int16_t kQosGaveUp = -1;
static_assert(kQosGaveUp == TIMEOUT_ERROR, "a calculation that gave up is a time-out");

// What the calculation's log lines name.
struct CalculationLabel {
  std::string localAddress;
  uint16_t localPort = 0;
  unsigned long serverThreadId = 0;
};

class ReceiveCalculation {
 public:
  ReceiveCalculation(const WindowSettings& window, SampleSink sink, CalculationLabel label,
                     std::shared_ptr<Environment> env);

  // The server's side.
  void add(double arrival, const Payload& payload);
  uint64_t storedPackets() const { return stored.load(); }
  // Asks the task to stop and wakes its tick sleep.
  void requestStop();
  bool hasEnded() const { return ended.load(); }
  // How it ended: kQosEndOfStream, or kQosGaveUp when no packet came in time.
  int16_t status() const { return endStatus.load(); }

  // The task's side: waits for the first packet, then ticks until the end
  // of the stream, a time-out or a stop request.
  void run();

  // Ends the calculation with `status`. The run ends itself this way; a
  // stand-in for the task (in tests) may too.
  void end(int16_t status);
  bool stopRequested() const { return stopping.load(); }

 private:
  bool begin(TimeOfDay* firstTick);
  bool waitForFirstPacket();
  // Moves the packets that arrived since the last call into the meter.
  void takeArrivals();
  void sleepUntilNextTick(int32_t remainingMicros);

  const WindowSettings window;
  const SampleSink sink;
  const std::shared_ptr<Environment> env;
  const CalculationLabel label;
  std::string logPrefix;
  Meter meter;

  std::mutex inboxMutex;
  std::vector<std::pair<double, Payload>> inbox;  // guarded by inboxMutex
  std::vector<std::pair<double, Payload>> taken;  // the task's
  std::atomic<uint64_t> stored{0};

  std::atomic<bool> stopping{false};
  std::atomic<int16_t> endStatus{kQosEndOfStream};
  std::atomic<bool> ended{false};
  WakeableSleep tickSleep;
};

// The task body as the pool runs it: `calculation` points to a
// ReceiveCalculation that outlives the run. Always returns 0.
unsigned long qosCalc(void* calculation);

#endif  // TESK_QOS_CALC_H
