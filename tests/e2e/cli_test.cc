// The command line as a user meets it: the built program, run in a scratch
// directory, with its output and exit code.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>

#include "input_checks.h"
#include "commands.h"
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

  // The usage text names send and recv alone: one line on standard error
  // points to the full help.
  const std::string pointer =
      "pulvo: analyze, call, reflect and probe too: pulvo --help lists every command\n";
  r = Pulvo({"-x", "-h"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Invalid option [x], ignored\n" + pointer);
  EXPECT_EQ(r.out, UsageText());

  r = Pulvo({"-help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, UsageText());

  for (const char* help : {"--help", "recv:lp=1"}) {
    r = Pulvo({"--help", help});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, FullHelpText());
  }
  // help before a command shows it, and runs nothing; help alone shows all.
  r = Pulvo({"help", "call:td=1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, CommandHelp(*FindCommand("call")));
  r = Pulvo({"help"});
  EXPECT_EQ(r.out, FullHelpText());
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
  EXPECT_TRUE(MatchesWhole(files[0], kLogFileNamePattern));
  std::vector<std::string> lines = Lines(dir.ReadFile(files[0]));
  ASSERT_EQ(lines.size(), 2u);
  const std::string stamp = kLogStampPattern;
  EXPECT_TRUE(MatchesWhole(lines[0], stamp + R"(Log file opened\.)"));
  EXPECT_TRUE(MatchesWhole(lines[1], stamp + R"(7 MOS: Error in sender parameter: invalid packetization )"
                                             R"(interval settings \(send_start\.cc, \d+\))"));

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

namespace {

// Every input that the front end reads otherwise than it was written is said
// on standard error; with --strict it is a parameter error before any test.
TEST(CliTest, ReinterpretedInputsAreSaidAndRefusedWhenStrict) {
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"recv:to=61"}, "timeout 61 is outside its range 1 - 60"},
      {{"recv:dj=500"}, "dejitterlength 500 is outside its range 10 - 200"},
      {{"recv:lp=70000"}, "localport 70000 is outside its range 10000 - 65535: the port used is 4464"},
      {{"send:td=5"}, "testduration 5 is outside its range 10 - 600"},
      {{"send:td=601"}, "testduration 601 is outside its range 10 - 600"},
      {{"send:sti=10"}, "streaminterval 10 is outside its range 20 - 30"},
      {{"send:co=G729"}, "codec G729 is unknown: G711 is used"},
      {{"send:fe=maybe"}, "fec maybe is unknown: none is used"},
      {{"recv:to=1.9"}, "timeout 1.9 is not a whole number: it is read as 1"},
      {{"recv:to=1s"}, "timeout 1s is not a whole number: it is read as 1"},
      {{"send:td=10x"}, "testduration 10x is not a whole number: it is read as 10"},
      {{"send:co=,td=10"}, "co has an empty value: the next pair \"td=10\" becomes its value"},
      {{"recv:foo"}, "\"foo\" is not name=value: it is not used as a parameter"},
      {{"recv:to=5;ws=4"}, "\"to=5;ws=4\": parameters are separated by ',' only"},
      {{"-jv", "recv"}, "-jv: only -j applies; give each option on its own"},
      {{"recv", "--json-lines"}, "--json-lines needs a file name: nothing is written"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--strict");
    const ProcessResult r = Pulvo(args);
    EXPECT_EQ(r.exitCode, 4) << c.line;
    EXPECT_NE(r.err.find(std::string("pulvo: PARAMETER_ERROR: ") + c.line + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "") << c.line;
  }
  // Without --strict the line is a warning and the test runs as ever (here
  // to its time-out).
  const ProcessResult r = Pulvo({"recv:to=1,dj=500,lp=" + std::to_string(FreeUdpPort())});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.find("pulvo: warning: dejitterlength 500 is outside its range 10 - 200\n"), 0u)
      << r.err;
  // What the library refuses keeps its own line alone.
  EXPECT_EQ(Pulvo({"send:sti=0,td=5", "--strict"}).err,
            "pulvo: PARAMETER_ERROR: Error in sender parameter: invalid packetization interval "
            "settings\n");
}

TEST(CliTest, TosTextsAndInterfaceNames) {
  int tos = -1;
  EXPECT_TRUE(ReadTosText("184", &tos) && tos == 184);
  EXPECT_TRUE(ReadTosText("0xb8", &tos) && tos == 184);
  EXPECT_TRUE(ReadTosText("0", &tos) && tos == 0);
  for (const char* bad : {"", "abc", "300", "0x", "0x1g", "-1", "18 4"}) {
    EXPECT_FALSE(ReadTosText(bad, &tos)) << bad;
  }
  EXPECT_TRUE(NetworkInterfaceExists("lo"));
  EXPECT_FALSE(NetworkInterfaceExists("nosuch0"));
}

}  // namespace

namespace {

// The reflector answers a STAMP packet in kind over IPv4 on "::", ends with
// its duration and prints its counts; a bad prefix is a parameter error.
TEST(CliTest, ReflectorAnswersAndCounts) {
  const uint16_t port = FreeUdpPort(true);
  auto reflector = StartPulvo({"-j", "reflect:la=::,lp=" + std::to_string(port) + ",du=2"});
  ASSERT_TRUE(WaitForUdpPort(port));
  UdpPeer caller;
  std::vector<uint8_t> request(60, 0);
  request[3] = 42;   // sequence number
  request[15] = 3;   // session identifier
  caller.SendTo(port, request);  // over IPv4, to the reflector on ::
  const std::vector<uint8_t> answer = caller.Receive(2000);
  ASSERT_EQ(answer.size(), request.size());
  EXPECT_EQ(answer[27], 42);  // the sender's sequence number, echoed
  EXPECT_EQ(answer[15], 3);
  const ProcessResult r = reflector->Wait(30);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("\"Reflected\":1,\"Received\":1,"), std::string::npos) << r.out;

  const ProcessResult bad = Pulvo({"reflect:du=1,al=10.0.0.0/99"});
  EXPECT_EQ(bad.exitCode, 4);
  EXPECT_EQ(bad.err, "pulvo: PARAMETER_ERROR: allow: 10.0.0.0/99 is not an address prefix\n");
  // A reflector that never started has nothing to count.
  const ProcessResult keyless = Pulvo({"reflect:du=1,kf=/nonexistent/key"});
  EXPECT_EQ(keyless.exitCode, 4);
  EXPECT_EQ(keyless.out, "");
  EXPECT_NE(keyless.err.find("PARAMETER_ERROR"), std::string::npos) << keyless.err;
}

}  // namespace

namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

// pulvo call against pulvo reflect, over IPv6 and IPv4 to one reflector on
// "::": each tick scores both directions, clean on loopback, with the round
// trip; the live outputs label each direction. A caller without a reflector
// and bad values are errors.
TEST(CliTest, CallScoresBothDirectionsAgainstTheReflector) {
  const uint16_t port = FreeUdpPort(true);
  auto reflector = StartPulvo({"reflect:la=::,lp=" + std::to_string(port) + ",du=20"});
  ASSERT_TRUE(WaitForUdpPort(port));
  const TempDir dir;
  const std::string lines = dir.path() + "/call.jsonl", metrics = dir.path() + "/call.prom";
  const ProcessResult v6 =
      Pulvo({"-v", "-j", "--json-lines", lines, "--metrics", metrics,
             "call:ra=::1,rp=" + std::to_string(port) + ",td=6"});
  EXPECT_EQ(v6.exitCode, 0) << v6.err;
  // -v speaks on standard error: standard output is the JSON document alone.
  EXPECT_EQ(v6.out.rfind("[{\"Direction\":\"forward\"", 0), 0u) << v6.out;
  EXPECT_NE(v6.err.find("Beginning Call test"), std::string::npos) << v6.err;
  EXPECT_EQ(Count(v6.out, "{\"Direction\":\"forward\",\"TestId\":1,\"MOS\":"), 3u) << v6.out;
  EXPECT_EQ(Count(v6.out, "{\"Direction\":\"reverse\",\"TestId\":1,\"MOS\":"), 3u) << v6.out;
  // A loaded machine may wake late and send a window's packet fewer (a late
  // send is not made up), so the count is 200 or a little under; none lost.
  EXPECT_EQ(Count(v6.out, "\"LostPackets\":0,\"EstimatedPackets\":"), 6u) << v6.out;
  EXPECT_EQ(Count(v6.out, "\"LossRate\":0.0,"), 6u) << v6.out;
  EXPECT_EQ(Count(v6.out, "\"OneWayDelay\":"), 6u);
  EXPECT_EQ(Count(v6.out, "\"RoundTripMean\":null"), 0u);
  // The verdict closes the array: loopback's delay is the packet and the
  // de-jitter buffer, 140 ms, with half a round trip of next to nothing.
  EXPECT_TRUE(MatchesWhole(
      v6.out.substr(v6.out.rfind(",{\"Direction\":\"verdict\"")),
      R"re(,\{"Direction":"verdict","Directions":\[\{"Direction":"forward","Satisfaction":"satisfied",)re"
      R"re("ConversationalR":89\.8[0-9]*,"ConversationalMOS":4\.33[0-9]*,"WorstConversationalR":)re"
      R"re(89\.8[0-9]*,"ListeningR":93\.2,"Windows":3,"MouthToEarDelay":140\.[0-9]*,)re"
      R"re("NetworkDelay":0\.[0-9]*,"DelaySource":"half-round-trip","Wideband":false\},)re"
      R"re(\{"Direction":"reverse",[^\]]*\],"Call":\{"Direction":"(forward|reverse)",)re"
      R"re("Satisfaction":"satisfied","ConversationalR":89\.8[0-9]*,"ConversationalMOS":4\.33[0-9]*\}\}\]\n)re"))
      << v6.out;
  const std::string jsonLines = dir.ReadFile("call.jsonl");
  EXPECT_EQ(Count(jsonLines, "\"Event\":\"sample\",\"Time\":"), 6u) << jsonLines;
  EXPECT_EQ(Count(jsonLines, "\"Command\":\"call\",\"Direction\":\"reverse\""), 3u);
  const std::string prom = dir.ReadFile("call.prom");
  EXPECT_NE(prom.find("pulvo_loss_ratio{command=\"call\",test_id=\"1\",local=\"[::]:0\",remote=\"[::1]:" +
                      std::to_string(port) + "\",codec=\"G711\",direction=\"reverse\"} 0\n"),
            std::string::npos)
      << prom;
  EXPECT_NE(prom.find("# TYPE pulvo_round_trip_mean_seconds gauge\n"), std::string::npos);

  const ProcessResult v4 = Pulvo({"call:ra=127.0.0.1,rp=" + std::to_string(port) + ",td=5"});
  EXPECT_EQ(v4.exitCode, 0) << v4.err;
  const std::vector<std::string> text = Lines(v4.out);
  ASSERT_EQ(text.size(), 7u) << v4.out;
  EXPECT_EQ(text[0].rfind("forward: test id = 1   mos = ", 0), 0u) << text[0];
  EXPECT_EQ(text[1].rfind("reverse: test id = 1   mos = ", 0), 0u) << text[1];
  EXPECT_NE(text[1].find("  one-way delay = "), std::string::npos);
  EXPECT_EQ(text[4].rfind("verdict forward: satisfied  conversational R = 89.8", 0), 0u) << text[4];
  EXPECT_EQ(text[6].rfind("verdict call: satisfied (the worse direction: ", 0), 0u) << text[6];

  // A key on the caller's side alone: every answer comes back and none is
  // scored, which is said with its reason rather than as silence.
  const std::string key = dir.path() + "/key";
  std::ofstream(key) << "00112233445566778899aabbccddeeff\n";
  chmod(key.c_str(), 0600);
  const ProcessResult keyed =
      Pulvo({"call:ra=127.0.0.1,rp=" + std::to_string(port) + ",td=4,kf=" + key});
  EXPECT_EQ(keyed.exitCode, 6) << keyed.err;
  EXPECT_TRUE(MatchesWhole(keyed.err, "pulvo: ANSWER_ERROR: Call: answers came back but none could "
                                      "be scored: [0-9]+ unauthenticated, to authenticated requests\n"))
      << keyed.err;
  reflector->Signal(SIGINT);
  EXPECT_EQ(reflector->Wait(30).exitCode, 0);

  // The time-out counts from the start when nothing answers.
  const auto before = std::chrono::steady_clock::now();
  const ProcessResult silent =
      Pulvo({"call:rp=" + std::to_string(FreeUdpPort()) + ",td=10,to=2"});
  EXPECT_EQ(silent.exitCode, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(6));
  EXPECT_NE(silent.err.find("no answer from the reflector"), std::string::npos) << silent.err;
  const struct {
    const char* parameters;
    const char* error;
  } bad[] = {
      {"call:co=G729", "pulvo: PARAMETER_ERROR: codec G729 is neither G711 nor GSM0610\n"},
      {"call:ws=2,sai=2", "pulvo: PARAMETER_ERROR: the window must be longer than the sampling interval\n"},
      {"call:td=3", "pulvo: PARAMETER_ERROR: the test must last a window at least, or no window is scored\n"},
      {"call:ra=999.1.1.1", "remote_address 999.1.1.1 is not a valid IP address"},
      {"call:rp=0", "remoteport 0 is out of its range"},
      {"call:mo=owamp", "pulvo: PARAMETER_ERROR: mode owamp is neither stamp nor twamp\n"},
      {"call:ds=64", "dscp 64 is out of its range"},
  };
  for (const auto& b : bad) {
    const ProcessResult r = Pulvo({b.parameters});
    EXPECT_EQ(r.exitCode, 4) << b.parameters;
    EXPECT_NE(r.err.find(b.error), std::string::npos) << r.err;
  }
}

}  // namespace
