#include <gtest/gtest.h>

#include "log_line.h"

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

TEST(LogLineTest, SourceNameIsTheBareFileNameExceptOnWindows) {
#if defined(_WIN32)
  EXPECT_STREQ(logSourceName("/a/b/server.cc"), "/a/b/server.cc");
#else
  EXPECT_STREQ(logSourceName("/a/b/server.cc"), "server.cc");
  EXPECT_STREQ(logSourceName("server.cc"), "server.cc");
#endif
}

}  // namespace
