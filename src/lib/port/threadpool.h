#ifndef TESK_THREADPOOL_H
#define TESK_THREADPOOL_H

// A fixed-capacity pool of POSIX worker threads. Tasks live in 1000
// preallocated records that cycle between a free ring and a task ring, so
// queueing never allocates; a producer that outruns the workers is refused
// (-1 task ring full, -2 no free record) instead of growing memory.
//
// Thread safety: the free ring and the task ring each have their own mutex
// and condition; the two mutexes are never held together.

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "task_pool.h"

constexpr uint32_t kThreadpoolCapacity = 1000;

struct threadpool_task {
  TeskTaskRoutine routine;
  void* data;
};

struct threadpool_ring {
  uint32_t head, tail, count;
  threadpool_task* slots[kThreadpoolCapacity];
};

struct threadpool {
  threadpool_ring tasks;
  threadpool_ring free;
  threadpool_task records[kThreadpoolCapacity];
  pthread_t* threads;
  uint16_t thread_count;
  std::atomic<uint16_t> stop_flag;
  pthread_mutex_t free_mutex, task_mutex;
  pthread_cond_t free_cond, task_cond;
};

// Builds a pool with `threadCount` workers; a count below 1 gives a pool
// whose tasks are accepted and never run. Null on failure.
threadpool* threadpool_init(int threadCount);

// 0 when queued; -1 on a failure or a full task ring; -2 when no record is
// free and `blocking` is 0 (with `blocking` set it waits for one).
int threadpool_add_task(threadpool* pool, TeskTaskRoutine routine, void* data, int blocking);

// Stops the workers after their current task and frees the pool, now
// (`blocking` set) or from a separate stopping thread.
void threadpool_free(threadpool* pool, int blocking);

#endif  // TESK_THREADPOOL_H
