#include <gtest/gtest.h>

#include <regex>

#include "log_line.h"
#include "tesk_log.h"
#include "test_util.h"

namespace {

TEST(LogLineTest, FormatsTimestampAndBody) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 9;
  t.tm_min = 52;
  t.tm_sec = 52;
  EXPECT_EQ(formatLogTimestamp(t), "12/06/26 09:52:52 - ");
  EXPECT_EQ(formatLogBody(7, "Error in sender parameter: invalid FEC setting", "send_start.cc", 31),
            "7 MOS: Error in sender parameter: invalid FEC setting (send_start.cc, 31)\n");
}

TEST(LogLineTest, SourceNameIsTheBareFileName) {
  EXPECT_STREQ(logSourceName("/a/b/server.cc"), "server.cc");
  EXPECT_STREQ(logSourceName("server.cc"), "server.cc");
}

TEST(TeskLogTest, EmptyFileIsRemovedAtTheEnd) {
  TempDir dir;
  { TeskLog log(dir.path()); }
  EXPECT_TRUE(dir.Files().empty());
}

TEST(TeskLogTest, EnabledLogWritesOpenedLineAndMessagesAndAppends) {
  TempDir dir;
  std::string name;
  {
    TeskLog log(dir.path());
    name = log.FileName().substr(dir.path().size() + 1);
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(TeskLog\.\d{4}-\d{2}-\d{2}\.txt)")));
    EXPECT_FALSE(log.IsEnabled());
    log.Enable();
    log.Enable();
    EXPECT_TRUE(log.IsEnabled());
    log.WriteLine(7, "hello", "x.cc", 12);
    log.Disable();
    EXPECT_FALSE(log.IsEnabled());
  }
  { TeskLog log(dir.path()); }  // a second run of the same day appends
  std::vector<std::string> lines = Lines(dir.ReadFile(name));
  ASSERT_EQ(lines.size(), 3u);
  const std::string stamp = R"(\d{2}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} - )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "Log file opened\\.")));
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + "Log file opened\\.")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + R"(7 MOS: hello \(x\.cc, 12\))")));
}

TEST(TeskLogTest, UnwritableDirectoryLeavesTheLogOff) {
  TeskLog log("/nonexistent-pulvo-dir");
  log.Enable();
  EXPECT_FALSE(log.IsEnabled());
}

}  // namespace
