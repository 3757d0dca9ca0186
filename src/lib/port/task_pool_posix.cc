// Linux and macOS: the pool's creation was logged at level 6.
#include <mutex>

#include "task_pool.h"
#include "tesk_log.h"

void noteReceiveWorkers(unsigned short threadCount) {
  static std::once_flag once;
  std::call_once(once, [threadCount] {
    TESK_LOG(6, "Initializing MOS receiver threadpool with " << threadCount << " threads");
    TESK_LOG(6, "Threadpool initialized");
  });
}
