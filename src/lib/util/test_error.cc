#include "test_error.h"

#include <mutex>

namespace {
std::mutex errorMutex;
std::string firstError;
bool noted = false;
}  // namespace

void clearTestError() {
  std::lock_guard<std::mutex> lock(errorMutex);
  firstError.clear();
  noted = false;
}

void noteTestError(const std::string& message) {
  std::lock_guard<std::mutex> lock(errorMutex);
  if (noted) return;
  noted = true;
  firstError = message.substr(0, message.find_last_not_of(" \r\n") + 1);
}

std::string testErrorMessage() {
  std::lock_guard<std::mutex> lock(errorMutex);
  return firstError;
}

bool parametersAccepted(const std::vector<std::string>& errors) {
  if (errors.empty()) return true;
  noteTestError(errors.front());
  for (const std::string& message : errors) TESK_LOG(7, message);
  return false;
}
