#ifndef TESK_SEND_START_H
#define TESK_SEND_START_H

// The library's send entry point: validation, then the generator.

#include <string>
#include <vector>

#include "trafgen.h"

struct SenderSettings {
  unsigned int testDuration;  // ms
  unsigned char codec;
  unsigned char fec;
  unsigned char streamInterval;  // ms
  unsigned short packetSize;     // bytes of the IP datagram
  unsigned short sampleInterval;  // ms
  unsigned short localPort;
  unsigned short remotePort;
  std::string remoteAddress;
  std::string localAddress;
  bool hasCallback;  // both the callback and its context are set
};

// The messages of every rule the settings break, in rule order; empty when
// they are valid.
std::vector<std::string> senderParameterErrors(const SenderSettings& settings);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR)
// and then runs the whole send test on the calling thread.
int runSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
              unsigned char streamInterval, unsigned short packetSize,
              unsigned short sampleInterval, unsigned short localPort, unsigned short remotePort,
              std::string remoteAddress, std::string localAddress, unsigned int testId,
              int generatorOption, SenderSampleCallback callback, void* context);

#endif  // TESK_SEND_START_H
