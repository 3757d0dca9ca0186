#include <gtest/gtest.h>

#include <climits>

#include "address_text.h"
#include "cmd_param.h"
#include "cmd_param_sets.h"
#include "pulvo_main.h"

namespace {

// A set with two parameters, as the front end builds them.
class TwoParamSet : public CmdParamSetBase {
 public:
  TwoParamSet() {
    InitLongValueCmdParam(port, "localport", "lp", 49999, 10000, 65535);
    InitStrValueCmdParam(address, "localaddr", "la", "127.0.0.1");
  }
  CmdParam port, address;
};

void Set(CmdParamSetBase& set, std::string name, const std::string& value) {
  set.SetCmdParamInputValue(name, value);
}

TEST(CmdParamTest, ValueSetUnderOneNameIsSeenUnderTheOther) {
  TwoParamSet set;
  CmdParam out;
  Set(set, "lp", "40000");
  ASSERT_TRUE(set.Find("localport", out));
  EXPECT_EQ(out.GetValueAsString(), "40000");
  Set(set, "localport", "41000");
  Set(set, "localport", "42000");
  ASSERT_TRUE(set.Find("lp", out));
  EXPECT_EQ(out.GetValueAsLong(), 42000);
  Set(set, "nosuch", "1");  // ignored
  EXPECT_FALSE(set.Find("nosuch"));
  EXPECT_FALSE(set.Find("LP"));
}

TEST(CmdParamTest, FindOfAnUnknownNameLeavesTheOutputAlone) {
  TwoParamSet set;
  CmdParam out;
  out.SetInputValue("untouched");
  EXPECT_FALSE(set.Find("xyz", out));
  EXPECT_EQ(out.GetValueAsString(), "untouched");
}

TEST(CmdParamTest, LongDefaultIsItsTextAndTheTextDefaultStaysEmpty) {
  TwoParamSet set;
  CmdParam out;
  ASSERT_TRUE(set.Find("lp", out));
  EXPECT_EQ(out.GetValueAsString(), "49999");
  EXPECT_EQ(out.StringFrom(),
            "long name localport short name lp default value string  default value long 49999 "
            "input value 49999 range high limit 65535 range low limit 10000 usage text ");
}

TEST(CmdParamTest, ConversionsFollowAtolAndSaturate) {
  EXPECT_EQ(ParseLongValue("abc"), 0);
  EXPECT_EQ(ParseLongValue("12abc"), 12);
  EXPECT_EQ(ParseLongValue("  -7"), -7);
  EXPECT_EQ(ParseLongValue("99999999999999999999999"), LONG_MAX);
  EXPECT_EQ(ParseLongValue("-99999999999999999999999"), LONG_MIN);

  TwoParamSet set;
  for (auto [text, milli] : std::vector<std::pair<std::string, long>>{
           {"5", 5000}, {"-5", 0}, {"x", 0}, {"99999999999999999999", LONG_MAX}}) {
    Set(set, "lp", text);
    EXPECT_EQ(set.GetValueAsMilli(set.port), milli) << text;
  }
  EXPECT_EQ(set.LongToULong(-1), 0u);
  EXPECT_EQ(set.LongToULong(7), 7u);
}

TEST(CmdParamTest, PrintAllParamsListsEachParameterOnce) {
  EXPECT_EQ(CmdParamSetBase().PrintAllParams(), "");
  SendCmdParams send;
  EXPECT_EQ(send.PrintAllParams(),
            "codec 0\nfec 0\nlocaladdr 127.0.0.1\nlocalport 49999\nremoteaddr 127.0.0.1\n"
            "remoteport 50000\nsampleinterval 5\nstreaminterval 20\ntestduration 12\ntestid 1\n");
  ReceiveCmdParams receive;
  EXPECT_EQ(receive.PrintAllParams(),
            "dejitterlength 120\nlocaladdr 127.0.0.1\nlocalport 50000\nsampleinterval 1\n"
            "testid 1\ntimeout 30\nwindowsize 4\n");
  Set(send, "co", "G711");
  EXPECT_NE(send.PrintAllParams().find("codec G711\n"), std::string::npos);
}

TEST(CmdParamTest, AssigningAPlainParameterKeepsTheCodecOverride) {
  CodecCmdParam codec;
  CmdParam plain;
  plain.SetInputValue("GSM0610");
  CmdParam& asPlain = codec;
  asPlain = plain;
  EXPECT_EQ(codec.GetValueAsLong(), 1);
  EXPECT_EQ(asPlain.GetValueAsLong(), 1);  // still the codec's conversion
  plain.SetInputValue("gsm0610");
  asPlain = plain;
  EXPECT_EQ(codec.GetValueAsType(), 0);
}

TEST(CmdParamSetsTest, SendDefaults) {
  SendCmdParams p;
  EXPECT_EQ(p.CmdName(), "send");
  EXPECT_EQ(p.GetTestDuration(), 12000u);
  EXPECT_EQ(p.GetCodec(), 0);
  EXPECT_EQ(p.GetFec(), 0);
  EXPECT_EQ(p.GetStreamInterval(), 20u);
  EXPECT_EQ(p.GetPacketSize(), 188);
  EXPECT_EQ(p.GetSampleInterval(), 5000u);
  EXPECT_EQ(p.GetLocalAddr(), "127.0.0.1");
  EXPECT_EQ(p.GetLocalPort(), 49999u);
  EXPECT_EQ(p.GetRemoteAddr(), "127.0.0.1");
  EXPECT_EQ(p.GetRemotePort(), 50000u);
  EXPECT_EQ(p.GetTestId(), 1u);
}

TEST(CmdParamSetsTest, ReceiveDefaults) {
  ReceiveCmdParams p;
  EXPECT_EQ(p.CmdName(), "recv");
  EXPECT_EQ(p.GetTestId(), 1);
  EXPECT_EQ(p.GetLocalAddr(), "127.0.0.1");
  EXPECT_EQ(p.GetLocalPort(), 50000u);
  EXPECT_EQ(p.GetTimeout(), 30000u);
  EXPECT_EQ(p.GetWindowSize(), 4000u);
  EXPECT_EQ(p.GetSampleInterval(), 1000u);
  EXPECT_EQ(p.GetDejitterlength(), 120u);
}

TEST(CmdParamSetsTest, CodecFecAndConversions) {
  SendCmdParams p;
  Set(p, "co", "GSM0610");
  EXPECT_EQ(p.GetCodec(), 1);
  EXPECT_EQ(p.GetPacketSize(), 48);
  Set(p, "codec", "gsm0610");
  EXPECT_EQ(p.GetCodec(), 0);
  EXPECT_EQ(p.GetPacketSize(), 188);
  Set(p, "fe", "gsmpiggyback2");
  EXPECT_EQ(p.GetFec(), 2);
  Set(p, "fec", "GSMPIGGYBACK2");
  EXPECT_EQ(p.GetFec(), 0);
  Set(p, "fec", "2");
  EXPECT_EQ(p.GetFec(), 0);
  Set(p, "sti", "25");
  EXPECT_EQ(p.GetStreamInterval(), 25u);
  Set(p, "td", "-5");
  EXPECT_EQ(p.GetTestDuration(), 0u);
  Set(p, "tid", "-1");
  EXPECT_EQ(p.GetTestId(), 0u);
  Set(p, "lp", "70000");
  EXPECT_EQ(static_cast<unsigned short>(p.GetLocalPort()), 4464);

  ReceiveCmdParams r;
  Set(r, "tid", "-1");
  EXPECT_EQ(static_cast<unsigned int>(r.GetTestId()), 4294967295u);
  Set(r, "sai", "100");
  EXPECT_EQ(static_cast<unsigned short>(r.GetSampleInterval()), 34464);
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
    EXPECT_EQ(params.GetLocalAddr(), c.local) << c.parameters;
  }
}

}  // namespace
