#ifndef TESK_TEST_CONFIG_H
#define TESK_TEST_CONFIG_H

// The settings of one test, validated once at the library's entry
// (send_start, recv_start) and then passed whole to the engine.

#include <cstdint>
#include <string>

#include "meter.h"

struct SendConfig {
  std::string localAddress;   // IPv4 or IPv6 text, of the remote address's family
  std::string remoteAddress;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;    // not 0
  uint32_t testDuration = 0;  // ms, more than 1000, not below sampleInterval
  uint16_t sampleInterval = 0;  // ms, not 0
  uint8_t codec = 0;            // 0 G711, 1 GSM0610
  uint8_t fec = 0;              // 0 none, 1-3 gsmpiggyback1-3
  uint8_t streamInterval = 0;   // ms, 1-150
  uint16_t packetSize = 0;      // bytes of the IP datagram, 43-1528
  uint32_t testId = 0;
};

struct ReceiveConfig {
  std::string localAddress;
  uint16_t localPort = 0;  // not 0
  WindowSettings window;
  uint16_t threadCount = 1;  // workers of the process-wide pool, when it is created
};

#endif  // TESK_TEST_CONFIG_H
