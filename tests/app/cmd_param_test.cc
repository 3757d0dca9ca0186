#include <gtest/gtest.h>

#include <climits>

#include "address_text.h"
#include "cmd_param.h"
#include "cmd_param_sets.h"
#include "commands.h"
#include "plv_exception.h"
#include "pulvo_main.h"
#include "test_util.h"

namespace {

// Two parameters, as a command's descriptors give them.
const std::vector<ParamDescriptor> kTwo = {
    {"localport", "lp", "49999", nullptr, ParamKind::Number, 10000, 65535, "port"},
    {"localaddr", "la", "127.0.0.1", nullptr, ParamKind::Text, 0, 0, "address"},
};

TEST(CmdParamTest, ValueSetUnderOneNameIsSeenUnderTheOther) {
  CmdParamSetBase set("two", kTwo);
  EXPECT_EQ(set.Text("lp"), "49999");
  EXPECT_FALSE(set.WasGiven("localport"));
  set.SetCmdParamInputValue("lp", "40000");
  EXPECT_EQ(set.Text("localport"), "40000");
  EXPECT_TRUE(set.WasGiven("localport"));
  set.SetCmdParamInputValue("localport", "42000");
  EXPECT_EQ(set.Number("lp"), 42000u);
  set.SetCmdParamInputValue("nosuch", "1");  // ignored
  EXPECT_EQ(set.Find("nosuch"), nullptr);
  EXPECT_EQ(set.Find("LP"), nullptr);
  EXPECT_EQ(set.Find("la"), &kTwo[1]);
  EXPECT_THROW(set.Text("nosuch"), PLV_exception);
}

TEST(CmdParamTest, ConversionsFollowAtolAndSaturate) {
  EXPECT_EQ(ParseLongValue("abc"), 0);
  EXPECT_EQ(ParseLongValue("12abc"), 12);
  EXPECT_EQ(ParseLongValue("  -7"), -7);
  EXPECT_EQ(ParseLongValue("99999999999999999999999"), LONG_MAX);
  EXPECT_EQ(ParseLongValue("-99999999999999999999999"), LONG_MIN);

  CmdParamSetBase set("two", kTwo);
  const struct {
    const char* text;
    unsigned long number, milli;
  } cases[] = {{"5", 5, 5000}, {"-5", 0, 0}, {"x", 0, 0},
               {"99999999999999999999", LONG_MAX, LONG_MAX}};
  for (const auto& c : cases) {
    set.SetCmdParamInputValue("lp", c.text);
    EXPECT_EQ(set.Number("lp"), c.number) << c.text;
    EXPECT_EQ(set.Millis("lp"), c.milli) << c.text;
  }
}

// The -v listing keeps the order of a map keyed by both names: reflect's
// controlpersource and maxsessions come again after cps and ms.
TEST(CmdParamTest, PrintAllParamsFollowsTheOrderOfEveryName) {
  EXPECT_EQ(CmdParamSetBase("").PrintAllParams(), "");
  SendCmdParams send;
  EXPECT_EQ(send.PrintAllParams(),
            "codec 0\nfec 0\nlocaladdr 127.0.0.1\nlocalport 49999\nremoteaddr 127.0.0.1\n"
            "remoteport 50000\nsampleinterval 5\nstreaminterval 20\ntestduration 12\ntestid 1\n");
  ReceiveCmdParams receive;
  EXPECT_EQ(receive.PrintAllParams(),
            "dejitterlength 120\nlocaladdr 127.0.0.1\nlocalport 50000\nsampleinterval 1\n"
            "testid 1\ntimeout 30\nwindowsize 4\n");
  send.SetCmdParamInputValue("co", "G711");
  EXPECT_NE(send.PrintAllParams().find("codec G711\n"), std::string::npos);
  std::string names;
  for (const std::string& line : Lines(ReflectCmdParams().PrintAllParams())) {
    names += line.substr(0, line.find(' ')) + " ";
  }
  EXPECT_EQ(names,
            "allow controlconnections controlpersource controlport controlpersource duration idle "
            "keyfile localaddr localport maxsessions metrics mode maxsessions metrics rate refwait "
            "rate refwait servwait ");
}

// A fresh set of every command holds what its own range check takes.
TEST(CmdParamSetsTest, EveryInitialValueIsWithinItsRange) {
  for (const Command& command : Commands()) {
    EXPECT_EQ(command.makeParams()->FirstValueOutOfRange(), "") << command.name;
  }
}

TEST(CmdParamSetsTest, SendAndReceiveDefaults) {
  const TeskSendSettings s = ReadSendSettings(SendCmdParams());
  EXPECT_EQ(s.testDuration, 12000u);
  EXPECT_EQ(s.codec, 0);
  EXPECT_EQ(s.fec, 0);
  EXPECT_EQ(s.streamInterval, 20);
  EXPECT_EQ(s.packetSize, 188);
  EXPECT_EQ(s.sampleInterval, 5000);
  EXPECT_EQ(s.localAddress, "127.0.0.1");
  EXPECT_EQ(s.localPort, 49999);
  EXPECT_EQ(s.remoteAddress, "127.0.0.1");
  EXPECT_EQ(s.remotePort, 50000);
  EXPECT_EQ(s.testId, 1u);

  const TeskReceiveSettings r = ReadReceiveSettings(ReceiveCmdParams());
  EXPECT_EQ(r.localAddress, "127.0.0.1");
  EXPECT_EQ(r.localPort, 50000);
  EXPECT_EQ(r.window.testId, 1u);
  EXPECT_EQ(r.window.timeout, 30000u);
  EXPECT_EQ(r.window.windowSize, 4000);
  EXPECT_EQ(r.window.sampleInterval, 1000);
  EXPECT_EQ(r.window.dejitterLength, 120);
}

TEST(CmdParamSetsTest, CodecFecAndConversions) {
  const struct {
    const char* name;
    const char* value;
    unsigned codec, fec, packetSize;
  } cases[] = {
      {"co", "GSM0610", 1, 0, 48},         {"codec", "gsm0610", 0, 0, 188},
      {"fe", "gsmpiggyback2", 0, 2, 188},  {"fec", "GSMPIGGYBACK2", 0, 0, 188},
      {"fec", "2", 0, 0, 188},
  };
  for (const auto& c : cases) {
    SendCmdParams p;
    p.SetCmdParamInputValue(c.name, c.value);
    const TeskSendSettings s = ReadSendSettings(p);
    EXPECT_EQ(s.codec, c.codec) << c.value;
    EXPECT_EQ(s.fec, c.fec) << c.value;
    EXPECT_EQ(s.packetSize, c.packetSize) << c.value;
  }
  SendCmdParams p;
  for (auto [name, value] : {std::pair<const char*, const char*>{"sti", "25"},
                             {"td", "-5"}, {"tid", "-1"}, {"lp", "70000"}}) {
    p.SetCmdParamInputValue(name, value);
  }
  const TeskSendSettings s = ReadSendSettings(p);
  EXPECT_EQ(s.streamInterval, 25);
  EXPECT_EQ(s.testDuration, 0u);
  EXPECT_EQ(s.testId, 0u);  // clamped
  EXPECT_EQ(s.localPort, 4464);

  ReceiveCmdParams r;
  r.SetCmdParamInputValue("tid", "-1");
  r.SetCmdParamInputValue("sai", "100");
  EXPECT_EQ(ReadReceiveSettings(r).window.testId, 4294967295u);  // wraps
  EXPECT_EQ(ReadReceiveSettings(r).window.sampleInterval, 34464);

  AnalyzeCmdParams a;
  std::string error;
  for (auto [codec, number] : std::vector<std::pair<const char*, int>>{
           {"", -1}, {"G711", 0}, {"GSM0610", 1}, {"gsm0610", -2}}) {
    a.SetCmdParamInputValue("co", codec);
    EXPECT_EQ(ReadAnalyzerValues(a, &error).codec, number) << codec;
  }
}

}  // namespace

namespace {

TEST(AddressTextTest, OnlyIPv6AddressesAreIPv6Literals) {
  for (const char* v6 : {"::1", "::", "2001:db8::5", "fe80::1%eth0", "::ffff:192.0.2.1",
                         "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:192.0.2.1", "1::8", "ABCD::"}) {
    EXPECT_TRUE(IsIPv6Literal(v6)) << v6;
  }
  for (const char* other : {"", "127.0.0.1", "198.51.100.7:5000", "[::1]", "localhost", "1:2",
                            "1:2:3:4:5:6:7:8:9", "1::2::3", "12345::", "::1%", "::g",
                            "1:2:3:4:5:6:7:192.0.2.1", "::1.2.3.256", ":1"}) {
    EXPECT_FALSE(IsIPv6Literal(other)) << other;
  }
  for (const char* self : {"127.0.0.1", "127.9.8.7", "::1", "0:0:0:0:0:0:0:1", "::0:1",
                           "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(IsLoopbackLiteral(self)) << self;
  }
  for (const char* other : {"10.0.0.127", "128.0.0.1", "::", "::2", "1::1", "::ffff:10.0.0.1",
                            "localhost", "127.0.0.1:5000", ""}) {
    EXPECT_FALSE(IsLoopbackLiteral(other)) << other;
  }
}

// Without la=, the sender binds what reaches the receiver: the designed
// loopback default towards this host, the kernel's choice towards others.
TEST(AddressTextTest, SenderLocalAddressFollowsTheReceiver) {
  const struct {
    const char* parameters;
    const char* local;
  } cases[] = {
      {"", "127.0.0.1"},
      {"ra=127.0.0.1", "127.0.0.1"},
      {"ra=127.1.2.3", "127.0.0.1"},
      {"ra=::1", "::1"},
      {"ra=10.200.0.2", "0.0.0.0"},
      {"ra=fd00:200::2", "::"},
      {"ra=fe80::1%eth0", "::"},
      {"ra=198.51.100.7:5000", "127.0.0.1"},  // no address: refused as it is
      {"ra=10.200.0.2,la=10.200.0.1", "10.200.0.1"},
  };
  for (const auto& c : cases) {
    SendCmdParams params;
    PulvoMain front;
    std::string text = c.parameters;
    front.ParseCommandParameters(&params, text.data());
    ChooseSenderLocalAddress(params);
    EXPECT_EQ(params.Text("localaddr"), c.local) << c.parameters;
  }
}

}  // namespace
