#ifndef TESK_RECV_START_H
#define TESK_RECV_START_H

// The library's receive entry point: validation, then the server.

#include <string>
#include <vector>

#include "receive_loop.h"
#include "test_config.h"
#include "test_error.h"

// The messages of every rule the configuration breaks, in rule order; empty
// when it is valid. `hasSink`: samples have somewhere to go.
std::vector<std::string> receiverParameterErrors(const ReceiveConfig& config, bool hasSink);

// Validates (logging one line per broken rule and returning PARAMETER_ERROR
// with the first) and then runs the whole receive test; samples arrive on the
// calling thread.
TestOutcome runReceiver(const ReceiveConfig& config, SampleSink sink);

#endif  // TESK_RECV_START_H
