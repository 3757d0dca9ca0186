// The command line as a user meets it: the built program, run in a scratch
// directory, with its output and exit code.
#include <gtest/gtest.h>

#include <regex>

#include "pulvo_main.h"
#include "tesk_version.h"
#include "test_util.h"

namespace {

ProcessResult Pulvo(std::vector<std::string> args, const std::string& dir = "") {
  return RunPulvo(std::move(args), dir, 30.0);
}

TEST(CliTest, UsageAndVersion) {
  ProcessResult r = Pulvo({});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, UsageText());

  r = Pulvo({"-V"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "MOS Library Version: " TESK_VERSION "\n");

  r = Pulvo({"-x", "-h"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Invalid option [x], ignored\n");
  EXPECT_EQ(r.out, UsageText());

  r = Pulvo({"-help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, UsageText());

  for (const char* help : {"--help", "recv:lp=1"}) {
    r = Pulvo({"--help", help});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, UsageText());
  }
  r = Pulvo({"-v", "--version", "send:"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "MOS Library Version: " TESK_VERSION "\n");
}

// A test that ends with a library error says why on standard error, in one
// line, whether or not the log is on; standard output stays as designed.
TEST(CliTest, LibraryErrorsGiveTheirReason) {
  UdpPeer occupant;
  const std::string freePort = std::to_string(FreeUdpPort());
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string reason;  // the start of the line
  } cases[] = {
      {{"send:ra=1.2.3.4.5,td=2"}, 4,
       "pulvo: PARAMETER_ERROR: Error in sender parameter: remote_address 1.2.3.4.5 is not a "
       "valid IP address\n"},
      {{"recv:lp=" + std::to_string(occupant.port())}, 2,
       "pulvo: SOCKET_ERROR: Error binding to the socket (ip=127.0.0.1, port=" +
           std::to_string(occupant.port()) + "): Address already in use"},
      {{"-l", "recv:to=1,lp=" + freePort}, 1, "pulvo: TIMEOUT_ERROR: "},
  };
  // Live outputs that cannot be written stop the run before the test.
  ProcessResult r = Pulvo({"--json-lines", "/proc/no/such.jsonl", "recv:lp=" + freePort});
  EXPECT_EQ(r.exitCode, 11);
  EXPECT_EQ(r.err.rfind("pulvo: cannot write /proc/no/such.jsonl: ", 0), 0u) << r.err;
  EXPECT_LT(r.seconds, 2.0);
  r = Pulvo({"send:td=2", "--metrics="});
  EXPECT_EQ(r.exitCode, 11);
  EXPECT_EQ(r.err, "pulvo: --metrics needs a file name\n");

  for (const auto& c : cases) {
    TempDir dir;
    r = Pulvo(c.args, dir.path());
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back();
    const std::vector<std::string> errLines = Lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_EQ(r.err.compare(0, c.reason.size(), c.reason), 0) << r.err;
    EXPECT_GT(errLines[0].size(), std::string("pulvo: TIMEOUT_ERROR: ").size()) << r.err;
  }
}

TEST(CliTest, CommandNames) {
  ProcessResult r = Pulvo({"-V", "-v"});
  EXPECT_EQ(r.exitCode, 10);
  EXPECT_EQ(r.out, "MOS Library Version: " TESK_VERSION "\nPulvo Command Tool\n");
  EXPECT_EQ(r.err, "invalid commmand [-V]\n");

  r = Pulvo({"Send:"});
  EXPECT_EQ(r.exitCode, 10);
  EXPECT_EQ(r.err, "invalid commmand [Send]\n");

  r = Pulvo({":"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out + r.err, "");

  r = Pulvo({"-v", "-l", ":::"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Pulvo Command Tool\nlog is enabled.\n");
}

TEST(CliTest, InvalidValuesEndAtOnceWithExitFour) {
  ProcessResult r = Pulvo({"send:foo=1,td=1"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err,
            "Invalid send parameter [foo]\n"
            "pulvo: PARAMETER_ERROR: Error in sender parameter: invalid duration settings\n");
  EXPECT_EQ(r.out, "\n");
  EXPECT_LT(r.seconds, 2.0);

  r = Pulvo({"-j", "recv:ws=1"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, "[]\n");

  // The last argument without '-' is the command.
  r = Pulvo({"send:la=1.2.3.4", "recv:ws=1", "-t"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err,
            "Invalid option [t], ignored\npulvo: PARAMETER_ERROR: Error in receiver parameter: "
            "invalid window size or sampling interval size\n");

  r = Pulvo({"recv:la=1.2.3.4.5"});
  EXPECT_EQ(r.exitCode, 4);
}

TEST(CliTest, CommandArgumentIsCutAt255Characters) {
  // The cut falls between "td=1" and its last digit: the test asks for one
  // second, which the library refuses at once, instead of twelve.
  UdpPeer sink;
  std::string arg = "send:rp=" + std::to_string(sink.port()) + ",lp=" +
                    std::to_string(FreeUdpPort());
  while (arg.size() < 251) arg += ",la=127.0.0.1";
  arg = arg.substr(0, 251) + ",td=12";
  if (arg[250] == ',') arg[250] = 'x';
  ASSERT_EQ(arg.find(",td="), 251u);
  ASSERT_EQ(arg.size(), 257u);
  ProcessResult r = Pulvo({arg});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_LT(r.seconds, 2.0);
}

TEST(CliTest, VerboseListsTheParameters) {
  ProcessResult r = Pulvo({"-v", "send:td=1,co=GSM0610"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out,
            "Pulvo Command Tool\n\nBeginning Send test, using the following parameters: \n"
            "codec GSM0610\nfec 0\nlocaladdr 127.0.0.1\nlocalport 49999\nremoteaddr 127.0.0.1\n"
            "remoteport 50000\nsampleinterval 5\nstreaminterval 20\ntestduration 1\ntestid 1\n"
            "\n\n");
}

TEST(CliTest, PortInUseIsExitTwo) {
  UdpPeer occupant;
  const std::string port = std::to_string(occupant.port());
  ProcessResult r = Pulvo({"send:td=11,lp=" + port + ",rp=9"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_LT(r.seconds, 2.0);
  r = Pulvo({"recv:lp=" + port});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_LT(r.seconds, 2.0);
}

TEST(CliTest, LogFileOnlyWithTheLogOption) {
  TempDir dir;
  ProcessResult r = Pulvo({"send:sti=0"}, dir.path());
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_TRUE(dir.Files().empty());

  r = Pulvo({"-l", "send:sti=0"}, dir.path());
  EXPECT_EQ(r.exitCode, 4);
  std::vector<std::string> files = dir.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(TeskLog\.\d{4}-\d{2}-\d{2}\.txt)")));
  std::vector<std::string> lines = Lines(dir.ReadFile(files[0]));
  ASSERT_EQ(lines.size(), 2u);
  const std::string stamp = R"(\d{2}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} - )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(Log file opened\.)")));
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(stamp + R"(7 MOS: Error in sender parameter: invalid packetization )"
                                   R"(interval settings \(send_start\.cc, \d+\))")));

  // A second run of the day appends to the same file.
  Pulvo({"-l", "send:sti=0"}, dir.path());
  EXPECT_EQ(Lines(dir.ReadFile(files[0])).size(), 4u);
}

TEST(CliTest, UnwritableDirectoryLeavesTheLogOff) {
  // Nobody, root included, can create a file in /proc.
  ProcessResult r = Pulvo({"-l", "send:sti=0"}, "/proc");
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(r.err,
            "pulvo: PARAMETER_ERROR: Error in sender parameter: invalid packetization interval "
            "settings\n");
}

}  // namespace
