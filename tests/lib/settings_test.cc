// What a call's and a reflector's settings must hold before they run: each
// rule with its message, in rule order.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tesk_call.h"
#include "tesk_stamp.h"

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

TEST(ReflectSettingsTest, EveryBrokenRuleIsNamedInOrder) {
  const std::string e = "Error in reflector parameter: ";
  const struct {
    const char* name;
    std::function<void(TeskReflectSettings&)> change;
    std::vector<std::string> errors;
  } cases[] = {
      {"the defaults", [](TeskReflectSettings&) {}, {}},
      {"no port, no session, no idle time",
       [](TeskReflectSettings& s) {
         s.localPort = 0;
         s.maxSessions = 0;
         s.idleSeconds = 0;
       },
       {e + "port = 0", e + "no session allowed", e + "null idle time"}},
      {"TWAMP with a key",
       [](TeskReflectSettings& s) {
         s.twamp = true;
         s.keyFile = "/nonexistent/key";
       },
       {e + "TWAMP control is served in unauthenticated mode alone"}},
      {"TWAMP without a control port",
       [](TeskReflectSettings& s) {
         s.twamp = true;
         s.controlPort = 0;
       },
       {e + "invalid control port"}},
      {"a control port without TWAMP is not looked at",
       [](TeskReflectSettings& s) { s.controlPort = 0; }, {}},
      {"prefixes", [](TeskReflectSettings& s) { s.allowed = {"192.0.2.0/24", "2001:db8::/129", "::1"}; },
       {e + "allow 2001:db8::/129 is not an address prefix"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TeskReflectSettings settings;
    c.change(settings);
    EXPECT_EQ(settings.validate(), c.errors);
  }
  // The reflector refuses what its settings break before it opens anything.
  TeskReflectSettings broken;
  broken.allowed = {"nonsense"};
  TeskReflector reflector(broken);
  EXPECT_EQ(reflector.run(), PARAMETER_ERROR);
  EXPECT_FALSE(reflector.started());
}

}  // namespace
