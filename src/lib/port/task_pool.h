#ifndef TESK_TASK_POOL_H
#define TESK_TASK_POOL_H

// The receive calculation once ran on a process-wide pool of worker threads
// (on Windows, the system's work-item queue). It runs on the receiving
// thread now; the log keeps the lines its readers know, said where and when
// they always were: once per process, on the first receive test, with the
// worker count the caller asked for.
void noteReceiveWorkers(unsigned short threadCount);

#endif  // TESK_TASK_POOL_H
