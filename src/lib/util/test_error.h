#ifndef TESK_TEST_ERROR_H
#define TESK_TEST_ERROR_H

// Why a test failed, in the words of its log line (without the log's
// decoration). Each test keeps its own note and hands it back with its
// result code; the facade keeps the latest for TeskControl.

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tesk_log.h"

// The first note wins: it is the cause, later ones are its consequences.
// Thread safety: a receive test's server and calculation may both note.
class FailureNote {
 public:
  // Trailing blanks and newlines are dropped.
  void note(const std::string& message);
  std::string text() const;

 private:
  mutable std::mutex mutex;
  std::string first;
  bool noted = false;
};

// A test's result code and, when it failed, why.
struct TestOutcome {
  int code = 0;
  std::string reason;
};
// The outcome of a test that ended with `code`: its note is the reason of a
// failure, and a success has none.
TestOutcome outcomeOf(int code, const FailureNote& failure);

// The latest test of the process, for TeskControl::GetLastErrorMessage.
void setLastTestError(const std::string& reason);
std::string lastTestError();

// A test start's verdict on its parameters: true when `errors` (every
// broken rule, in rule order) is empty; otherwise each is logged, naming the
// test start's source as its own log lines do, and the first noted.
#define TESK_PARAMETERS_ACCEPTED(errors, failure) \
  parametersAccepted((errors), (failure), __FILE__, __LINE__)
bool parametersAccepted(const std::vector<std::string>& errors, FailureNote& failure,
                        const char* sourceFile, int sourceLine);

// Logs a message, as TESK_LOG does, behind `prefix` (the component's log
// decoration), and notes the message alone in `failure`.
#define TESK_LOG_FAILURE(failure, level, prefix, parts)      \
  do {                                                       \
    std::ostringstream tesk_failure_text_;                   \
    tesk_failure_text_ << parts;                             \
    (failure).note(tesk_failure_text_.str());                \
    TESK_LOG((level), prefix << tesk_failure_text_.str());   \
  } while (0)

#endif  // TESK_TEST_ERROR_H
