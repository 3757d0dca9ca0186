#ifndef TESK_STOP_REQUEST_H
#define TESK_STOP_REQUEST_H

// A process-wide request to end the running tests early, for example on
// Ctrl-C. Setting it is async-signal-safe. The generator then sends its
// end-of-stream packets and returns; the server stops the calculation and
// returns. Samples already delivered stay delivered.

void requestTestStop();
bool testStopRequested();

// A descriptor that becomes readable, and stays readable, once a stop has
// been requested, so that a wait can include it in its poll set and wake on
// the request itself. -1 where the platform has none (Windows): waits there
// look at testStopRequested() every kStopCheckMillis instead.
int stopRequestWakeFd();
constexpr int kStopCheckMillis = 100;

// The platform part of requestTestStop: makes the wake descriptor readable.
// Async-signal-safe.
void signalStopRequestWake();

#endif  // TESK_STOP_REQUEST_H
