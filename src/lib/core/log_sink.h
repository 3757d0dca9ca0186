#ifndef TESK_LOG_SINK_H
#define TESK_LOG_SINK_H

// Where the measuring core's progress lines go: a sink that whoever drives
// the core owns (the library's file log, or nothing), so that the core
// holds no file, lock or clock of its own.

#include <sstream>
#include <string>

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Whether lines are wanted now: nothing is formatted otherwise.
  virtual bool enabled() const = 0;
  // One line; `sourceFile` is the writer's __FILE__, as the compiler gave it.
  virtual void line(int level, const std::string& message, const char* sourceFile,
                    int sourceLine) = 0;
};

// Logs one message built with stream insertions to `sink` (which may be
// null), for example CORE_LOG(log, 7, "Lost packets: " << lost).
#define CORE_LOG(sink, level, parts)                                      \
  do {                                                                    \
    LogSink* core_log_sink_ = (sink);                                     \
    if (core_log_sink_ != nullptr && core_log_sink_->enabled()) {         \
      std::ostringstream core_log_text_;                                  \
      core_log_text_ << parts;                                            \
      core_log_sink_->line((level), core_log_text_.str(), __FILE__, __LINE__); \
    }                                                                     \
  } while (0)

#endif  // TESK_LOG_SINK_H
