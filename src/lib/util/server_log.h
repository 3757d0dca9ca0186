#ifndef TESK_SERVER_LOG_H
#define TESK_SERVER_LOG_H

// The receiving server's and the socket layer's log lines, all behind
// "Server(<thread id>): ". SERVER_FAILURE also notes the message in the
// test's FailureNote (test_error.h).

#include "tesk_log.h"
#include "test_error.h"

#define SERVER_LOG(threadId, parts) TESK_LOG(7, "Server(" << (threadId) << "): " << parts)
#define SERVER_FAILURE(failure, threadId, parts) \
  TESK_LOG_FAILURE(failure, 7, "Server(" << (threadId) << "): ", parts)

#endif  // TESK_SERVER_LOG_H
