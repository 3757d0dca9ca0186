#include "log_line.h"

#include <sstream>

std::string formatLogTimestamp(const std::tm& t) {
  char buffer[80];
  size_t n = std::strftime(buffer, sizeof buffer, "%D %T - ", &t);
  return std::string(buffer, n);
}

std::string formatLogBody(int level, const std::string& message, const char* sourceFile,
                          int sourceLine) {
  std::ostringstream out;
  out << level << " MOS: " << message << " (" << sourceFile << ", " << sourceLine << ")\n";
  return out.str();
}
