#ifndef TESK_SEND_START_H
#define TESK_SEND_START_H

// The library's send entry point: validation, then the generator.

#include <string>
#include <vector>

#include "trafgen.h"

// The messages of every rule the configuration breaks, in rule order; empty
// when it is valid. `hasSink`: samples have somewhere to go.
std::vector<std::string> senderParameterErrors(const SendConfig& config, bool hasSink);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR
// with the first) and then runs the whole send test on the calling thread.
TestOutcome runSender(const SendConfig& config, SendSink sink);

#endif  // TESK_SEND_START_H
