// Windows: the system's queue logged nothing.
#include "task_pool.h"

void noteReceiveWorkers(unsigned short) {}
