#include "log_line.h"

#include <sstream>

std::string formatLogTimestamp(const std::tm& t) {
  char buffer[80];
  // "%D %T - " spelt out: older C runtimes (msvcrt) know neither %D nor %T.
  size_t n = std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S - ", &t);
  return std::string(buffer, n);
}

std::string formatLogBody(int level, const std::string& message, const char* sourceFile,
                          int sourceLine) {
  std::ostringstream out;
  out << level << " MOS: " << message << " (" << sourceFile << ", " << sourceLine << ")\n";
  return out.str();
}
