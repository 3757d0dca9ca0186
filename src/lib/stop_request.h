#ifndef TESK_STOP_REQUEST_H
#define TESK_STOP_REQUEST_H

// A process-wide request to end the running tests early, for example on
// Ctrl-C. Setting it is async-signal-safe. The generator then sends its
// end-of-stream packets and returns; the server stops the calculation and
// returns. Samples already delivered stay delivered.

void requestTestStop();
bool testStopRequested();

#endif  // TESK_STOP_REQUEST_H
