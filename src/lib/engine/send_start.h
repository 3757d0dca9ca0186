#ifndef TESK_SEND_START_H
#define TESK_SEND_START_H

// The library's send entry point: validation, then the generator.

#include <string>
#include <vector>

#include "trafgen.h"

// The settings' broken rules (validate) and, last, a missing sink (samples
// with nowhere to go), in rule order; empty when the test can run.
std::vector<std::string> senderParameterErrors(const TeskSendSettings& config, bool hasSink);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR
// with the first) and then runs the whole send test on the calling thread.
TestOutcome runSender(const TeskSendSettings& config, SendSink sink);

#endif  // TESK_SEND_START_H
