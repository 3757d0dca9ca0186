#ifndef TESK_TASK_POOL_H
#define TESK_TASK_POOL_H

// Background execution for the engine: the receiving server runs the QoS
// calculation through queueWorkTask while it keeps receiving.

typedef unsigned long (*TeskTaskRoutine)(void* arg);

// Queues `routine(arg)` on the process-wide pool, creating the pool with
// `threadCount` workers on the first call (later calls reuse it whatever they
// pass). Never blocks. Returns 0 when queued, negative when not.
int queueWorkTask(TeskTaskRoutine routine, void* arg, unsigned int threadCount);

// Workers of the process-wide pool; -1 while it does not exist (or where the
// operating system runs the tasks).
int taskPoolWorkerCount();

#endif  // TESK_TASK_POOL_H
