#ifndef TESK_LOG_H
#define TESK_LOG_H

// The process-wide library log. It opens (or appends to) the dated file
// "TeskLog.<yyyy-mm-dd>.txt" in the working directory when the program starts,
// writes nothing until it is enabled, and removes the file at exit if the file
// is still empty.
//
// Thread safety: lines come from the caller's thread and from the calculation
// thread; each line is written under one lock, so lines never interleave.

#include <atomic>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "log_line.h"
#include "log_sink.h"

class TeskLog : public std::ofstream {
 public:
  TeskLog();
  // Opens the log in `directory` instead of the working directory.
  explicit TeskLog(const std::string& directory);
  virtual ~TeskLog();

  void OpenFile();
  void MakeFileName(std::string& name);
  void LocalTime(std::tm* t);
  TeskLog& Timestamp(TeskLog& stream);
  TeskLog& Timestamp();

  // Switches on only if the file is open, and writes the opened line each time.
  void Enable();
  void Disable();
  bool IsEnabled() const { return enabled.load(std::memory_order_relaxed); }

  // Writes one complete line: timestamp, level and the message with its source.
  void WriteLine(int level, const std::string& message, const char* sourceFile, int sourceLine);

  const std::string& FileName() const { return fileName; }

 private:
  std::string directory;
  std::string baseName = "TeskLog";
  std::string openedMessage = "Log file opened.\n";
  std::string fileName;
  std::atomic<bool> enabled{false};
  std::mutex lineMutex;
};

extern TeskLog mosLog;

// The library log as the measuring core's sink: the same lines, with the
// writer's source file and line, whenever the log is enabled.
LogSink& fileLogSink();

// Logs one message built with stream insertions, for example
//   TESK_LOG(7, "Timeout is " << timeout);
// Nothing is formatted while the log is off.
#define TESK_LOG(level, parts)                                                     \
  do {                                                                             \
    if (mosLog.IsEnabled()) {                                                      \
      std::ostringstream tesk_log_text_;                                           \
      tesk_log_text_ << parts;                                                     \
      mosLog.WriteLine((level), tesk_log_text_.str(), logSourceName(__FILE__), __LINE__); \
    }                                                                              \
  } while (0)

#endif  // TESK_LOG_H
