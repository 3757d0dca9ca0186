#include "clock_sync.h"

// Where the system does not say, the clock is taken as unsynchronised: one-way
// delays are reported unknown, never wrong.
bool systemClockSynchronized() { return false; }
