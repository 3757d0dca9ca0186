#include "recv_start.h"

#include <gtest/gtest.h>

#include "tesk_errors.h"
#include "test_util.h"
#include "udp_socket.h"

namespace {

using Messages = std::vector<std::string>;

TeskReceiveSettings Valid() { return DefaultReceiveConfig(); }

std::string E(const std::string& text) { return "Error in receiver parameter: " + text; }

TEST(RecvStartTest, WindowAndIntervalRules) {
  EXPECT_TRUE(receiverParameterErrors(Valid(), true).empty());
  TeskReceiveSettings s = Valid();
  s.window.windowSize = 1000;
  s.window.sampleInterval = 500;
  EXPECT_EQ(receiverParameterErrors(s, true), Messages{E("invalid window size or sampling interval size")});
  s.window.windowSize = 1001;
  s.window.sampleInterval = 1001;
  EXPECT_EQ(receiverParameterErrors(s, true),
            Messages{E("sampling window cannot be shorter than sampling interval")});
  s.window.sampleInterval = 1000;
  EXPECT_TRUE(receiverParameterErrors(s, true).empty());
  s.window.sampleInterval = 0;
  EXPECT_EQ(receiverParameterErrors(s, true), Messages{E("invalid window size or sampling interval size")});
}

TEST(RecvStartTest, EveryBrokenRuleIsNamedInOrder) {
  TeskReceiveSettings s = Valid();
  s.localAddress = "300.1.1.1";
  s.localPort = 0;
  s.window.windowSize = 900;
  s.window.sampleInterval = 2000;
  s.window.timeout = 0;
  Messages expected = {E("port = 0"), E("invalid window size or sampling interval size"),
                       E("null timeout value"),
                       E("sampling window cannot be shorter than sampling interval"),
                       E("invalid callback")};
  // Windows leaves the address text to the socket layer.
  if (platformChecksAddressText()) {
    expected.insert(expected.begin(), E("ip_address 300.1.1.1 is not a valid IP address"));
  }
  EXPECT_EQ(receiverParameterErrors(s, false), expected);
}

TEST(RecvStartTest, AddressesLongerThanNineteenCharactersAreRefused) {
  if (!platformChecksAddressText()) GTEST_SKIP() << "the socket layer checks them here";
  TeskReceiveSettings s = Valid();
  s.localAddress = "0127.0000.0000.0001";  // 19 characters
  EXPECT_TRUE(receiverParameterErrors(s, true).empty());
  s.localAddress = "00127.0000.0000.0001";
  EXPECT_EQ(receiverParameterErrors(s, true),
            Messages{E("ip_address 00127.0000.0000.0001 is not a valid IP address")});
}

TEST(RecvStartTest, RunReceiverRefusesAMissingCallbackWithoutOpeningASocket) {
  int context = 0;
  EXPECT_EQ(runReceiver(Valid(), SampleSink{nullptr, &context}).code, PARAMETER_ERROR);
}

}  // namespace
