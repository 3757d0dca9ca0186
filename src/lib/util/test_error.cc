#include "test_error.h"

namespace {
std::mutex lastMutex;
std::string lastReason;
}  // namespace

void FailureNote::note(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex);
  if (noted) return;
  noted = true;
  first = message.substr(0, message.find_last_not_of(" \r\n") + 1);
}

std::string FailureNote::text() const {
  std::lock_guard<std::mutex> lock(mutex);
  return first;
}

TestOutcome outcomeOf(int code, const FailureNote& failure) {
  return TestOutcome{code, code != 0 ? failure.text() : std::string()};
}

void setLastTestError(const std::string& reason) {
  std::lock_guard<std::mutex> lock(lastMutex);
  lastReason = reason;
}

std::string lastTestError() {
  std::lock_guard<std::mutex> lock(lastMutex);
  return lastReason;
}

bool parametersAccepted(const std::vector<std::string>& errors, FailureNote& failure,
                        const char* sourceFile, int sourceLine) {
  if (errors.empty()) return true;
  failure.note(errors.front());
  if (mosLog.IsEnabled()) {
    for (const std::string& message : errors) {
      mosLog.WriteLine(7, message, logSourceName(sourceFile), sourceLine);
    }
  }
  return false;
}
