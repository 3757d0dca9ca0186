#include "tesk_log.h"

#include <cstdio>

#include "sleep_utils.h"

TeskLog mosLog;

TeskLog::TeskLog() { OpenFile(); }

TeskLog::TeskLog(const std::string& dir) : directory(dir) { OpenFile(); }

TeskLog::~TeskLog() {
  if (!is_open()) return;
  seekp(0, std::ios_base::end);
  std::streamoff position = tellp();
  close();
  // An empty file means nothing was logged in this run or an earlier one of
  // the same day: leave nothing behind.
  if (position == 0) std::remove(fileName.c_str());
}

void TeskLog::OpenFile() {
  MakeFileName(fileName);
  open(fileName, std::ios_base::out | std::ios_base::app);
  if (is_open()) clear();
}

void TeskLog::MakeFileName(std::string& name) {
  std::tm t{};
  LocalTime(&t);
  char date[32];
  size_t n = std::strftime(date, sizeof date, "%Y-%m-%d", &t);
  name = (directory.empty() ? std::string() : directory + "/") + baseName + "." +
         std::string(date, n) + ".txt";
}

void TeskLog::LocalTime(std::tm* t) { localTimeNow(t); }

TeskLog& TeskLog::Timestamp(TeskLog& stream) {
  std::tm t{};
  LocalTime(&t);
  stream << formatLogTimestamp(t);
  return stream;
}

TeskLog& TeskLog::Timestamp() { return Timestamp(*this); }

void TeskLog::Enable() {
  if (!is_open()) return;
  {
    std::lock_guard<std::mutex> lock(lineMutex);
    Timestamp() << openedMessage;
    flush();
  }
  enabled.store(true, std::memory_order_relaxed);
}

void TeskLog::Disable() { enabled.store(false, std::memory_order_relaxed); }

void TeskLog::WriteLine(int level, const std::string& message, const char* sourceFile,
                        int sourceLine) {
  std::string body = formatLogBody(level, message, sourceFile, sourceLine);
  std::lock_guard<std::mutex> lock(lineMutex);
  Timestamp() << body;
  flush();
}

namespace {

class FileLogSink : public LogSink {
 public:
  bool enabled() const override { return mosLog.IsEnabled(); }
  void line(int level, const std::string& message, const char* sourceFile,
            int sourceLine) override {
    mosLog.WriteLine(level, message, logSourceName(sourceFile), sourceLine);
  }
};

}  // namespace

LogSink& fileLogSink() {
  static FileLogSink sink;
  return sink;
}
