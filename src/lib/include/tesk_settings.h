#ifndef TESK_SETTINGS_H
#define TESK_SETTINGS_H

// The settings of the one-way tests: one type per idea, each with the rules
// that make it usable beside it. The command line fills them and the library
// runs them unchanged; the positional constructors of TeskSender and
// TeskReceiver fill the same types.

#include <cstdint>
#include <string>
#include <vector>

#include "tesk_export.h"

// How a stream is measured: a window of `windowSize` scored every sampling
// interval, each taken when the de-jitter length after its tick has passed;
// no packet for `timeout` ends the test. All in milliseconds.
struct TESK_EXPORT TeskWindowSettings {
  uint16_t windowSize = 4000;      // more than 1000 and more than sampleInterval
  uint16_t sampleInterval = 1000;  // not 0
  uint16_t dejitterLength = 120;
  uint32_t timeout = 30000;  // not 0
  uint32_t testId = 1;

  // Appends what makes these settings unusable, each after `prefix`, in
  // rule order.
  void validate(const std::string& prefix, std::vector<std::string>* errors) const;
};

// One direction of a call, sent: a packet of `packetSize` bytes (the IP
// datagram, 28 header bytes included) every `streamInterval` ms for
// `testDuration` ms, a sample every `sampleInterval` ms.
struct TESK_EXPORT TeskSendSettings {
  std::string localAddress;  // IPv4 or IPv6 text, of the remote address's family
  std::string remoteAddress;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;      // not 0
  uint32_t testDuration = 0;    // more than 1000, not below sampleInterval
  uint16_t sampleInterval = 0;  // not 0
  uint8_t codec = 0;            // 0 G711, 1 GSM0610
  uint8_t fec = 0;              // 0 none, 1-3 gsmpiggyback1-3
  uint8_t streamInterval = 0;   // 1-150
  uint16_t packetSize = 0;      // 43-1528
  uint32_t testId = 0;

  // The messages of every rule these settings break ("Error in sender
  // parameter: ..."), in rule order; empty when they are usable.
  std::vector<std::string> validate() const;
};

// One direction of a call, received on localAddress:localPort and measured
// with `window`. `oneWayDelayMs` is what the E-model's conversational rating
// assumes, since one way cannot measure it; `threadCount` is kept for
// callers that give it and only named in the library log.
struct TESK_EXPORT TeskReceiveSettings {
  std::string localAddress;
  uint16_t localPort = 0;  // not 0
  TeskWindowSettings window;
  double oneWayDelayMs = 0.0;
  uint16_t threadCount = 1;

  // The messages of every rule these settings break ("Error in receiver
  // parameter: ..."), in rule order; empty when they are usable.
  std::vector<std::string> validate() const;
};

#endif  // TESK_SETTINGS_H
