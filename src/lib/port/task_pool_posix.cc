// Linux and macOS: the engine's tasks run on the threadpool, created on the
// first task and kept until the process ends.
#include <pthread.h>

#include "task_pool.h"
#include "tesk_log.h"
#include "threadpool.h"

// Static members only: the one pool of the process and the lock that
// serialises its creation.
struct TeskInit {
  static pthread_mutex_t mutex;
  static threadpool* pool;
  static int addTask(TeskTaskRoutine routine, void* arg, unsigned short threadCount);
};

pthread_mutex_t TeskInit::mutex = PTHREAD_MUTEX_INITIALIZER;
threadpool* TeskInit::pool = nullptr;

int TeskInit::addTask(TeskTaskRoutine routine, void* arg, unsigned short threadCount) {
  pthread_mutex_lock(&mutex);
  if (pool == nullptr) {
    TESK_LOG(6, "Initializing MOS receiver threadpool with " << threadCount << " threads");
    pool = threadpool_init(threadCount);
    TESK_LOG(6, "Threadpool initialized");
  }
  threadpool* current = pool;
  pthread_mutex_unlock(&mutex);
  return threadpool_add_task(current, routine, arg, 0);
}

int queueWorkTask(TeskTaskRoutine routine, void* arg, unsigned int threadCount) {
  return TeskInit::addTask(routine, arg, static_cast<unsigned short>(threadCount));
}

int taskPoolWorkerCount() {
  pthread_mutex_lock(&TeskInit::mutex);
  int count = TeskInit::pool != nullptr ? TeskInit::pool->thread_count : -1;
  pthread_mutex_unlock(&TeskInit::mutex);
  return count;
}
