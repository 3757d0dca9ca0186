#ifndef TESK_LOG_LINE_H
#define TESK_LOG_LINE_H

// Pure formatting of library log lines, kept apart from the file so that the
// line shape can be checked without a clock or a file.

#include <ctime>
#include <string>

// "%D %T - ", for example "12/06/26 09:52:52 - ".
std::string formatLogTimestamp(const std::tm& t);

// The text after the timestamp: level, a blank, "MOS: ", the message and the
// source location, ended by a newline.
std::string formatLogBody(int level, const std::string& message, const char* sourceFile,
                          int sourceLine);

// The name a log line shows for a source file: the bare file name, or on
// Windows the path as the compiler was given it.
constexpr const char* logSourceName(const char* path) {
#if defined(_WIN32)
  return path;
#endif
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/') name = p + 1;
  }
  return name;
}

#endif  // TESK_LOG_LINE_H
