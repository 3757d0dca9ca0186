#include "threadpool.h"

#include <cstdlib>
#include <new>

namespace {

void ringClear(threadpool_ring& ring) {
  ring.head = ring.tail = ring.count = 0;
  for (auto& slot : ring.slots) slot = nullptr;
}

// False when the ring is full or its tail slot is unexpectedly occupied.
bool ringPush(threadpool_ring& ring, threadpool_task* task) {
  if (ring.count >= kThreadpoolCapacity || ring.slots[ring.tail] != nullptr) return false;
  ring.slots[ring.tail] = task;
  ring.count++;
  ring.tail = (ring.tail + 1) % kThreadpoolCapacity;
  return true;
}

threadpool_task* ringPop(threadpool_ring& ring) {
  threadpool_task* task = ring.slots[ring.head];
  ring.slots[ring.head] = nullptr;
  ring.count--;
  if (ring.count == 0) {
    ring.head = ring.tail = 0;
  } else {
    ring.head = (ring.head + 1) % kThreadpoolCapacity;
  }
  return task;
}

void* worker_thr_routine(void* arg) {
  threadpool* pool = static_cast<threadpool*>(arg);
  for (;;) {
    if (pool->stop_flag.load()) return nullptr;
    if (pthread_mutex_lock(&pool->task_mutex) != 0) return nullptr;
    while (pool->tasks.count == 0) {
      if (pool->stop_flag.load() || pthread_cond_wait(&pool->task_cond, &pool->task_mutex) != 0) {
        pthread_mutex_unlock(&pool->task_mutex);
        return nullptr;
      }
    }
    if (pool->stop_flag.load()) {
      pthread_mutex_unlock(&pool->task_mutex);
      return nullptr;
    }
    threadpool_task* task = ringPop(pool->tasks);
    if (pthread_mutex_unlock(&pool->task_mutex) != 0 || task == nullptr) return nullptr;

    if (task->routine != nullptr) {
      task->routine(task->data);
    }
    task->routine = nullptr;
    task->data = nullptr;

    if (pthread_mutex_lock(&pool->free_mutex) != 0) return nullptr;
    if (!ringPush(pool->free, task)) {
      pthread_mutex_unlock(&pool->free_mutex);
      return nullptr;
    }
    if (pool->free.count == 1 && pthread_cond_broadcast(&pool->free_cond) != 0) {
      pthread_mutex_unlock(&pool->free_mutex);
      return nullptr;
    }
    if (pthread_mutex_unlock(&pool->free_mutex) != 0) return nullptr;
  }
}

void stopAndRelease(threadpool* pool) {
  pool->stop_flag.store(1);
  if (pthread_mutex_lock(&pool->task_mutex) != 0) return;
  if (pthread_cond_broadcast(&pool->task_cond) != 0) {
    pthread_mutex_unlock(&pool->task_mutex);
    return;
  }
  if (pthread_mutex_unlock(&pool->task_mutex) != 0) return;
  for (uint16_t i = 0; i < pool->thread_count; ++i) pthread_join(pool->threads[i], nullptr);
  std::free(pool->threads);
  delete pool;
}

void* stop_worker_thr_routines_cb(void* arg) {
  stopAndRelease(static_cast<threadpool*>(arg));
  return nullptr;
}

}  // namespace

threadpool* threadpool_init(int threadCount) {
  threadpool* pool = new (std::nothrow) threadpool;
  if (pool == nullptr) return nullptr;
  pool->stop_flag.store(0);
  pool->threads = nullptr;
  pool->thread_count = 0;
  if (pthread_mutex_init(&pool->free_mutex, nullptr) != 0 ||
      pthread_mutex_init(&pool->task_mutex, nullptr) != 0 ||
      pthread_cond_init(&pool->free_cond, nullptr) != 0 ||
      pthread_cond_init(&pool->task_cond, nullptr) != 0) {
    delete pool;
    return nullptr;
  }
  ringClear(pool->tasks);
  ringClear(pool->free);
  for (auto& record : pool->records) {
    record = threadpool_task{nullptr, nullptr};
    if (!ringPush(pool->free, &record)) {
      delete pool;
      return nullptr;
    }
  }
  size_t slots = threadCount > 0 ? static_cast<size_t>(threadCount) : 1;
  pool->threads = static_cast<pthread_t*>(std::calloc(slots, sizeof(pthread_t)));
  if (pool->threads == nullptr) {
    delete pool;
    return nullptr;
  }
  while (pool->thread_count < threadCount) {
    if (pthread_create(&pool->threads[pool->thread_count], nullptr, worker_thr_routine, pool) != 0) {
      threadpool_free(pool, 0);
      return nullptr;
    }
    pool->thread_count++;
  }
  return pool;
}

int threadpool_add_task(threadpool* pool, TeskTaskRoutine routine, void* data, int blocking) {
  if (pool == nullptr) return -1;
  if (pthread_mutex_lock(&pool->free_mutex) != 0) return -1;
  while (pool->free.count == 0) {
    if (!blocking) return pthread_mutex_unlock(&pool->free_mutex) != 0 ? -1 : -2;
    if (pthread_cond_wait(&pool->free_cond, &pool->free_mutex) != 0) {
      pthread_mutex_unlock(&pool->free_mutex);
      return -1;
    }
  }
  threadpool_task* task = ringPop(pool->free);
  if (task == nullptr) {
    pthread_mutex_unlock(&pool->free_mutex);
    return -1;
  }
  if (pthread_mutex_unlock(&pool->free_mutex) != 0) return -1;

  task->routine = routine;
  task->data = data;

  if (pthread_mutex_lock(&pool->task_mutex) != 0) return -1;
  if (!ringPush(pool->tasks, task)) {
    pthread_mutex_unlock(&pool->task_mutex);
    return -1;
  }
  if (pool->tasks.count == 1 && pthread_cond_broadcast(&pool->task_cond) != 0) {
    pthread_mutex_unlock(&pool->task_mutex);
    return -1;
  }
  return pthread_mutex_unlock(&pool->task_mutex) != 0 ? -1 : 0;
}

void threadpool_free(threadpool* pool, int blocking) {
  if (pool == nullptr) return;
  if (blocking) {
    stopAndRelease(pool);
    return;
  }
  pthread_t stopper;
  if (pthread_create(&stopper, nullptr, stop_worker_thr_routines_cb, pool) == 0) {
    pthread_detach(stopper);
  } else {
    pool->stop_flag.store(1);
  }
}
