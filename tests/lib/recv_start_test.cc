#include "recv_start.h"

#include <gtest/gtest.h>

#include "tesk_errors.h"
#include "udp_socket.h"

namespace {

using Messages = std::vector<std::string>;

ReceiverSettings Valid() { return ReceiverSettings{"127.0.0.1", 50000, 4000, 1000, 30000, true}; }

std::string E(const std::string& text) { return "Error in receiver parameter: " + text; }

TEST(RecvStartTest, WindowAndIntervalRules) {
  EXPECT_TRUE(receiverParameterErrors(Valid()).empty());
  ReceiverSettings s = Valid();
  s.windowSize = 1000;
  s.sampleInterval = 500;
  EXPECT_EQ(receiverParameterErrors(s), Messages{E("invalid window size or sampling interval size")});
  s.windowSize = 1001;
  s.sampleInterval = 1001;
  EXPECT_EQ(receiverParameterErrors(s),
            Messages{E("sampling window cannot be shorter than sampling interval")});
  s.sampleInterval = 1000;
  EXPECT_TRUE(receiverParameterErrors(s).empty());
  s.sampleInterval = 0;
  EXPECT_EQ(receiverParameterErrors(s), Messages{E("invalid window size or sampling interval size")});
}

TEST(RecvStartTest, EveryBrokenRuleIsNamedInOrder) {
  ReceiverSettings s{"300.1.1.1", 0, 900, 2000, 0, false};
  Messages expected = {E("port = 0"), E("invalid window size or sampling interval size"),
                       E("null timeout value"),
                       E("sampling window cannot be shorter than sampling interval"),
                       E("invalid callback")};
  // Windows leaves the address text to the socket layer.
  if (platformChecksAddressText()) {
    expected.insert(expected.begin(), E("ip_address 300.1.1.1 is not a valid IP address"));
  }
  EXPECT_EQ(receiverParameterErrors(s), expected);
}

TEST(RecvStartTest, AddressesLongerThanNineteenCharactersAreRefused) {
  if (!platformChecksAddressText()) GTEST_SKIP() << "the socket layer checks them here";
  ReceiverSettings s = Valid();
  s.localAddress = "0127.0000.0000.0001";  // 19 characters
  EXPECT_TRUE(receiverParameterErrors(s).empty());
  s.localAddress = "00127.0000.0000.0001";
  EXPECT_EQ(receiverParameterErrors(s),
            Messages{E("ip_address 00127.0000.0000.0001 is not a valid IP address")});
}

TEST(RecvStartTest, RunReceiverRefusesAMissingCallbackWithoutOpeningASocket) {
  int context = 0;
  EXPECT_EQ(runReceiver("127.0.0.1", 50000, 4000, 1000, 120, 30000, 1, nullptr, &context, 1),
            PARAMETER_ERROR);
}

}  // namespace
