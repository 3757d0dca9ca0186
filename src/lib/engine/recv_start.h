#ifndef TESK_RECV_START_H
#define TESK_RECV_START_H

// The library's receive entry point: validation, then the server.

#include <string>
#include <vector>

#include "receive_loop.h"
#include "tesk_settings.h"
#include "test_error.h"

// The settings' broken rules (validate) and, last, a missing sink (samples
// with nowhere to go), in rule order; empty when the test can run.
std::vector<std::string> receiverParameterErrors(const TeskReceiveSettings& config, bool hasSink);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR
// with the first) and then runs the whole receive test; samples arrive on the
// calling thread.
TestOutcome runReceiver(const TeskReceiveSettings& config, SampleSink sink);

#endif  // TESK_RECV_START_H
