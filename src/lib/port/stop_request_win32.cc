// Windows: WSAPoll takes sockets only, so there is no descriptor to wake a
// wait; waits look at the stop flag every kStopCheckMillis.
#include "stop_request.h"

int stopRequestWakeFd() { return -1; }

void signalStopRequestWake() {}
