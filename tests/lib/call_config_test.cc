// What a call's configuration must hold before it runs: each rule with its
// message, in rule order.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tesk_call.h"

namespace {

TEST(CallConfigTest, EveryBrokenRuleIsNamedInOrder) {
  const std::string e = "Error in call parameter: ";
  const struct {
    const char* name;
    std::function<void(TeskCallConfig&)> change;
    std::vector<std::string> errors;
  } cases[] = {
      {"the defaults", [](TeskCallConfig&) {}, {}},
      {"host name left unresolved", [](TeskCallConfig& c) { c.remoteAddress = "reflector"; },
       {e + "remote_address reflector is not a valid IP address"}},
      {"mixed families",
       [](TeskCallConfig& c) {
         c.remoteAddress = "::1";
         c.localAddress = "127.0.0.1";
       },
       {e + "local_address 127.0.0.1 and remote_address ::1 are not of the same address family"}},
      {"codec, FEC and interval",
       [](TeskCallConfig& c) {
         c.codec = 2;
         c.fec = 4;
         c.streamInterval = 151;
       },
       {e + "invalid codec setting", e + "invalid FEC setting",
        e + "invalid packetization interval settings"}},
      {"TWAMP with a key and no control port",
       [](TeskCallConfig& c) {
         c.twamp = true;
         c.keyFile = "/nonexistent/key";
         c.controlPort = 0;
       },
       {e + "TWAMP sessions are set up in unauthenticated mode alone", e + "invalid control port"}},
      {"a key without TWAMP is fine, read when the call runs",
       [](TeskCallConfig& c) { c.keyFile = "/nonexistent/key"; }, {}},
      {"window not longer than its interval, and a call shorter than one",
       [](TeskCallConfig& c) {
         c.windowSize = 1000;
         c.sampleInterval = 2000;
         c.testDuration = 1500;
       },
       {e + "invalid window size or sampling interval size",
        e + "sampling window cannot be shorter than sampling interval",
        e + "invalid duration settings"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TeskCallConfig config;
    c.change(config);
    EXPECT_EQ(config.validate(), c.errors);
  }
}

}  // namespace
