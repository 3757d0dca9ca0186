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

typedef void (*ReceiverSampleCallback)(void* context, double mos, unsigned int startSeconds,
                                       unsigned int startMicroseconds, unsigned int elapsedSeconds,
                                       unsigned int elapsedMicroseconds, unsigned int lostPackets,
                                       unsigned int estimatedPackets, double lossRate,
                                       double averageBurstSize, unsigned int avgJitter,
                                       unsigned int testId);

constexpr uint8_t kQosRunning = 1;
constexpr uint8_t kQosEnded = 2;

struct QosCalcParams {
  PayloadMap* payloadMap;
  std::mutex* mapMutex;
  uint16_t windowSize;      // ms
  uint16_t sampleInterval;  // ms
  uint16_t dejitterLength;  // ms
  uint32_t timeout;         // ms
  uint32_t testId;
  std::atomic<int16_t>* qosStatus;     // 0 end of stream, -1 gave up for want of packets
  std::atomic<uint8_t>* serverRunning; // 1 go on, 0 stop
  std::atomic<uint8_t>* qosState;      // kQosRunning, then kQosEnded on every way out
  ReceiverSampleCallback callback;
  void* context;
  char localAddress[64];  // only logged; holds any address text of either family
  uint16_t localPort;     // only logged
  uint64_t serverThreadId;
};

// The task body, as the pool runs it; `params` points to a QosCalcParams
// that must stay valid until *qosState is kQosEnded. Always returns 0.
unsigned long qosCalc(void* params);

#endif  // TESK_QOS_CALC_H
