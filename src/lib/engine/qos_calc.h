#ifndef TESK_QOS_CALC_H
#define TESK_QOS_CALC_H

// The QoS calculation task: waits for the first packet, then once per
// sampling interval measures the sliding window over the shared PayloadMap
// and reports a sample with its MOS.
//
// Thread safety: the task runs on a pool thread beside the server. It reads
// and erases the map only under *mapMutex. The three status cells are shared
// without a lock, each with one writer: serverRunning (server -> task: 0
// asks the task to stop), qosStatus and qosState (task -> server: the status
// is written first, then qosState becomes 2, after which the task touches
// nothing shared).

#include <atomic>
#include <cstdint>
#include <mutex>

#include "packet.h"
#include "qos_window.h"
#include "sleep_utils.h"
#include "tesk_errors.h"

typedef void (*ReceiverSampleCallback)(void* context, double mos, unsigned int startSeconds,
                                       unsigned int startMicroseconds, unsigned int elapsedSeconds,
                                       unsigned int elapsedMicroseconds, unsigned int lostPackets,
                                       unsigned int estimatedPackets, double lossRate,
                                       double averageBurstSize, unsigned int avgJitter,
                                       unsigned int testId);

// The qosState cell.
constexpr uint8_t kQosRunning = 1;
constexpr uint8_t kQosEnded = 2;
// The serverRunning cell.
constexpr uint8_t kServerRunning = 1;
constexpr uint8_t kServerStopping = 0;
// The qosStatus cell. The server hands it on as its own result, so a
// calculation that gave up (-1) ends the test with TIMEOUT_ERROR: the value
// is the designed one and equals that code on purpose.
constexpr int16_t kQosEndOfStream = 0;
constexpr int16_t kQosGaveUp = -1;
static_assert(kQosGaveUp == TIMEOUT_ERROR, "a calculation that gave up is a time-out");

struct QosCalcParams {
  PayloadMap* payloadMap;
  std::mutex* mapMutex;
  uint16_t windowSize;      // ms
  uint16_t sampleInterval;  // ms
  uint16_t dejitterLength;  // ms
  uint32_t timeout;         // ms
  uint32_t testId;
  std::atomic<int16_t>* qosStatus;     // kQosEndOfStream or kQosGaveUp
  std::atomic<uint8_t>* serverRunning; // kServerRunning, then kServerStopping
  std::atomic<uint8_t>* qosState;      // kQosRunning, then kQosEnded on every way out
  WakeableSleep* tickSleep;            // the tick's sleep, woken when the server stops; may be null
  const TeskClockHooks* clock = nullptr;  // the task's time of day; null: the process's clock
  ReceiverSampleCallback callback;
  void* context;
  char localAddress[64];  // only logged; holds any address text of either family
  uint16_t localPort;     // only logged
  uint64_t serverThreadId;
};

// The calculation, one tick at a time. qosCalc runs it on the system's
// clock, sleeping between ticks; the capture analysis runs it on capture
// time, calling tick() whenever that time reaches the next tick.
class QosTask {
 public:
  explicit QosTask(const QosCalcParams& params);

  // The whole task: begin(), then ticks and sleeps until it ends.
  void run();

  // Waits for the first packet and fixes the measurement start. False when
  // the task has already ended (*qosState is kQosEnded).
  bool begin();
  // One tick at the clock's current time: a warm-up tick or a sample. False
  // when the task has ended; otherwise `remainingMicros` is how long to the
  // next tick (zero or less when the tick overran).
  bool tick(int32_t* remainingMicros);

 private:
  struct Elapsed {
    int64_t sec;
    int64_t usec;
  };
  static Elapsed timeSince(const TimeOfDay& start, const TimeOfDay& now);

  TimeOfDay now() const;
  void sleepUntilNextTick(uint32_t micros);
  // False when the task must end: the server stopped or no packet came.
  bool waitForFirstPacket();
  bool sample(const Elapsed& elapsed, double windowStart);
  bool finish();  // always false

  const QosCalcParams p;
  QosWindowConfig config;
  QosRunningState state;
  uint32_t emptyCount = 0;
  TimeOfDay start, firstTickStart;
  uint32_t warmUpTicks = 0;
  uint32_t ticks = 0;
  bool firstTick = true;
};

// The task body, as the pool runs it; `params` points to a QosCalcParams
// that must stay valid until *qosState is kQosEnded. Always returns 0.
unsigned long qosCalc(void* params);

#endif  // TESK_QOS_CALC_H
