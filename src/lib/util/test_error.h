#ifndef TESK_TEST_ERROR_H
#define TESK_TEST_ERROR_H

// Why the latest test failed, kept whether or not the log is on, so that a
// caller can tell its user. The first failure noted since the test started
// wins: it is the cause, later ones are its consequences.
//
// Thread safety: the server and the calculation thread may both note.

#include <sstream>
#include <string>
#include <vector>

#include "tesk_log.h"

void clearTestError();
// Trailing blanks and newlines are dropped.
void noteTestError(const std::string& message);
std::string testErrorMessage();

// A test start's verdict on its parameters: false when `errors` (every
// broken rule, in rule order) is not empty; then each is logged and the
// first noted as the test's failure.
bool parametersAccepted(const std::vector<std::string>& errors);

// Logs a message, as TESK_LOG does, behind `prefix` (the component's log
// decoration), and notes the message alone as the test's failure.
#define TESK_LOG_FAILURE(level, prefix, parts)      \
  do {                                              \
    std::ostringstream tesk_failure_text_;          \
    tesk_failure_text_ << parts;                    \
    noteTestError(tesk_failure_text_.str());        \
    TESK_LOG((level), prefix << tesk_failure_text_.str()); \
  } while (0)

#endif  // TESK_TEST_ERROR_H
