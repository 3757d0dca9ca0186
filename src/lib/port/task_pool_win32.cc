// Windows: the system's own work-item queue runs the engine's tasks.
#include <windows.h>

#include "task_pool.h"

int queueWorkTask(TeskTaskRoutine routine, void* arg, unsigned int threadCount) {
  // The thread count is handed over as the flags word; the result is the
  // system's (non-zero when queued), never negative.
  return QueueUserWorkItem(reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine)),
                           arg, threadCount);
}

int taskPoolWorkerCount() { return -1; }
