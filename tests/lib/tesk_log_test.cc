#include "tesk_log.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

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
    EXPECT_TRUE(MatchesWhole(name, kLogFileNamePattern));
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
  const std::string stamp = kLogStampPattern;
  EXPECT_TRUE(MatchesWhole(lines[0], stamp + "Log file opened\\."));
  EXPECT_TRUE(MatchesWhole(lines[1], stamp + "Log file opened\\."));
  EXPECT_TRUE(MatchesWhole(lines[2], stamp + R"(7 MOS: hello \(x\.cc, 12\))"));
}

TEST(TeskLogTest, UnwritableDirectoryLeavesTheLogOff) {
  TeskLog log("/nonexistent-pulvo-dir");
  log.Enable();
  EXPECT_FALSE(log.IsEnabled());
}

}  // namespace
