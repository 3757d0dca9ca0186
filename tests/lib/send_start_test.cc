#include "send_start.h"

#include <gtest/gtest.h>

#include "tesk_errors.h"
#include "test_util.h"
#include "udp_socket.h"

namespace {

constexpr bool hasSink = true;

using Messages = std::vector<std::string>;

TeskSendSettings Valid() { return DefaultSendConfig(); }

std::string E(const std::string& text) { return "Error in sender parameter: " + text; }

TEST(SendStartTest, AcceptsTheDefaultsAndTheLimits) {
  EXPECT_TRUE(senderParameterErrors(Valid(), hasSink).empty());
  TeskSendSettings s = Valid();
  s.testDuration = 1001;
  s.sampleInterval = 1001;
  s.packetSize = 43;
  s.streamInterval = 150;
  s.codec = 1;
  s.fec = 3;
  s.localPort = 0;  // refused later, by the socket layer
  EXPECT_TRUE(senderParameterErrors(s, hasSink).empty());
  s.packetSize = 1528;
  EXPECT_TRUE(senderParameterErrors(s, hasSink).empty());
}

TEST(SendStartTest, DurationRules) {
  TeskSendSettings s = Valid();
  s.testDuration = 1000;
  s.sampleInterval = 1000;
  EXPECT_EQ(senderParameterErrors(s, hasSink), Messages{E("invalid duration settings")});
  s.testDuration = 500;
  s.sampleInterval = 2000;
  EXPECT_EQ(senderParameterErrors(s, hasSink),
            (Messages{E("invalid duration settings"), E("invalid duration settings")}));
  s = Valid();
  s.sampleInterval = 0;
  EXPECT_EQ(senderParameterErrors(s, hasSink), Messages{E("invalid duration settings")});
}

TEST(SendStartTest, EveryBrokenRuleIsNamedInOrder) {
  TeskSendSettings s = Valid();
  s.codec = 2;
  s.fec = 4;
  s.streamInterval = 0;
  EXPECT_EQ(senderParameterErrors(s, hasSink),
            (Messages{E("invalid codec setting"), E("invalid FEC setting"),
                      E("invalid packetization interval settings")}));
  s = Valid();
  s.remoteAddress = "abc";
  s.localAddress = "1.2.3.256";
  s.remotePort = 0;
  s.streamInterval = 151;
  Messages expected = {E("invalid port settings"), E("invalid packetization interval settings")};
  // Windows leaves the address texts to the socket layer.
  if (platformChecksAddressText()) {
    expected.insert(expected.begin(), {E("remote_address abc is not a valid IP address"),
                                       E("local_address 1.2.3.256 is not a valid IP address")});
  }
  EXPECT_EQ(senderParameterErrors(s, hasSink), expected);
}

TEST(SendStartTest, PacketSizeEndsTheChecks) {
  TeskSendSettings s = Valid();
  s.packetSize = 42;
  bool sink = false;
  EXPECT_EQ(senderParameterErrors(s, sink),
            (Messages{E("invalid packet size (minimum packet size is 43B)"),
                      E("invalid callback")}));
  s.packetSize = 1529;
  sink = true;
  EXPECT_EQ(senderParameterErrors(s, sink),
            Messages{E("invalid packet size (maximum packet size is 1528B)")});
  s = Valid();
  sink = false;
  EXPECT_EQ(senderParameterErrors(s, sink), Messages{E("invalid callback")});
}

TEST(SendStartTest, AddressesMustFitFifteenCharacters) {
  if (!platformChecksAddressText()) GTEST_SKIP() << "the socket layer checks them here";
  TeskSendSettings s = Valid();
  s.remoteAddress = "127.000.000.001";  // 15 characters, accepted
  EXPECT_TRUE(senderParameterErrors(s, hasSink).empty());
  s.remoteAddress = "0127.000.000.001";  // parses, but does not fit
  EXPECT_EQ(senderParameterErrors(s, hasSink),
            Messages{E("remote_address 0127.000.000.001 is not a valid IP address")});
  s = Valid();
  s.localAddress = std::string("127.0.0.1\0x", 11);
  EXPECT_EQ(senderParameterErrors(s, hasSink).size(), 1u);
}

TEST(SendStartTest, RunSenderRefusesBeforeOpeningAnything) {
  int context = 0;
  auto callback = [](void*, unsigned int, unsigned int) {};
  TeskSendSettings shortTest = Valid();
  shortTest.testDuration = 1000;
  shortTest.sampleInterval = 1000;
  const TestOutcome shortOne = runSender(shortTest, SendSink{callback, &context});
  EXPECT_EQ(shortOne.code, PARAMETER_ERROR);
  EXPECT_EQ(shortOne.reason, E("invalid duration settings"));
  EXPECT_EQ(runSender(Valid(), SendSink{nullptr, &context}).code, PARAMETER_ERROR);
  EXPECT_EQ(runSender(Valid(), SendSink{callback, nullptr}).code, PARAMETER_ERROR);
}

}  // namespace
