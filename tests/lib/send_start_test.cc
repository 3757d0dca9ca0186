#include "send_start.h"

#include <gtest/gtest.h>

#include "tesk_errors.h"
#include "udp_socket.h"

namespace {

using Messages = std::vector<std::string>;

SenderSettings Valid() {
  return SenderSettings{12000, 0, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", true};
}

std::string E(const std::string& text) { return "Error in sender parameter: " + text; }

TEST(SendStartTest, AcceptsTheDefaultsAndTheLimits) {
  EXPECT_TRUE(senderParameterErrors(Valid()).empty());
  SenderSettings s = Valid();
  s.testDuration = 1001;
  s.sampleInterval = 1001;
  s.packetSize = 43;
  s.streamInterval = 150;
  s.codec = 1;
  s.fec = 3;
  s.localPort = 0;  // refused later, by the socket layer
  EXPECT_TRUE(senderParameterErrors(s).empty());
  s.packetSize = 1528;
  EXPECT_TRUE(senderParameterErrors(s).empty());
}

TEST(SendStartTest, DurationRules) {
  SenderSettings s = Valid();
  s.testDuration = 1000;
  s.sampleInterval = 1000;
  EXPECT_EQ(senderParameterErrors(s), Messages{E("invalid duration settings")});
  s.testDuration = 500;
  s.sampleInterval = 2000;
  EXPECT_EQ(senderParameterErrors(s),
            (Messages{E("invalid duration settings"), E("invalid duration settings")}));
  s = Valid();
  s.sampleInterval = 0;
  EXPECT_EQ(senderParameterErrors(s), Messages{E("invalid duration settings")});
}

TEST(SendStartTest, EveryBrokenRuleIsNamedInOrder) {
  SenderSettings s = Valid();
  s.codec = 2;
  s.fec = 4;
  s.streamInterval = 0;
  EXPECT_EQ(senderParameterErrors(s),
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
  EXPECT_EQ(senderParameterErrors(s), expected);
}

TEST(SendStartTest, PacketSizeEndsTheChecks) {
  SenderSettings s = Valid();
  s.packetSize = 42;
  s.hasCallback = false;
  EXPECT_EQ(senderParameterErrors(s),
            (Messages{E("invalid packet size (minimum packet size is 43B)"),
                      E("invalid callback")}));
  s.packetSize = 1529;
  s.hasCallback = true;
  EXPECT_EQ(senderParameterErrors(s),
            Messages{E("invalid packet size (maximum packet size is 1528B)")});
  s = Valid();
  s.hasCallback = false;
  EXPECT_EQ(senderParameterErrors(s), Messages{E("invalid callback")});
}

TEST(SendStartTest, AddressesMustFitFifteenCharacters) {
  if (!platformChecksAddressText()) GTEST_SKIP() << "the socket layer checks them here";
  SenderSettings s = Valid();
  s.remoteAddress = "127.000.000.001";  // 15 characters, accepted
  EXPECT_TRUE(senderParameterErrors(s).empty());
  s.remoteAddress = "0127.000.000.001";  // parses, but does not fit
  EXPECT_EQ(senderParameterErrors(s),
            Messages{E("remote_address 0127.000.000.001 is not a valid IP address")});
  s = Valid();
  s.localAddress = std::string("127.0.0.1\0x", 11);
  EXPECT_EQ(senderParameterErrors(s).size(), 1u);
}

TEST(SendStartTest, RunSenderRefusesBeforeOpeningAnything) {
  int context = 0;
  auto callback = [](void*, unsigned int, unsigned int) {};
  EXPECT_EQ(runSender(1000, 0, 0, 20, 188, 1000, 40000, 50000, "127.0.0.1", "127.0.0.1", 1, -1,
                      callback, &context),
            PARAMETER_ERROR);
  EXPECT_EQ(runSender(12000, 0, 0, 20, 188, 5000, 40000, 50000, "127.0.0.1", "127.0.0.1", 1, -1,
                      nullptr, &context),
            PARAMETER_ERROR);
  EXPECT_EQ(runSender(12000, 0, 0, 20, 188, 5000, 40000, 50000, "127.0.0.1", "127.0.0.1", 1, -1,
                      callback, nullptr),
            PARAMETER_ERROR);
}

}  // namespace
