#ifndef TESK_SERVER_H
#define TESK_SERVER_H

// The receiving server: binds the UDP socket and runs the receive test on
// the calling thread, the meter ticking between reads (receive_loop.h).

#include "environment.h"
#include "receive_loop.h"
#include "tesk_settings.h"

// Runs a whole receive test. Returns 0 at a normal end or a stop request;
// TIMEOUT_ERROR when no packet came for `timeout` ms or the meter gave up;
// SOCKET_ERROR or PARAMETER_ERROR from the socket layer.
TestOutcome startServer(const TeskReceiveSettings& config, SampleSink sink);
// The same in a given environment, whose failure note holds the reason.
int runServer(const TeskReceiveSettings& config, SampleSink sink, Environment& env);

#endif  // TESK_SERVER_H
