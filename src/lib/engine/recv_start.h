#ifndef TESK_RECV_START_H
#define TESK_RECV_START_H

// The library's receive entry point: validation, then the server.

#include <string>
#include <vector>

#include "qos_calc.h"

struct ReceiverSettings {
  std::string localAddress;
  unsigned short localPort;
  unsigned short windowSize;      // ms
  unsigned short sampleInterval;  // ms
  unsigned int timeout;           // ms
  bool hasCallback;               // both the callback and its context are set
};

// The window's rules, shared with the capture analysis: appends a message
// (behind `prefix`) for each one that the values break, in rule order.
void appendWindowErrors(const std::string& prefix, unsigned short windowSize,
                        unsigned short sampleInterval, unsigned int timeout,
                        std::vector<std::string>& errors);

// The messages of every rule the settings break, in rule order; empty when
// they are valid.
std::vector<std::string> receiverParameterErrors(const ReceiverSettings& settings);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR)
// and then runs the whole receive test; samples arrive on a pool thread.
int runReceiver(std::string localAddress, unsigned short localPort, unsigned short windowSize,
                unsigned short sampleInterval, unsigned short dejitterLength, unsigned int timeout,
                unsigned int testId, ReceiverSampleCallback callback, void* context,
                unsigned short threadCount);

#endif  // TESK_RECV_START_H
