// Host names where an address is taken: resolved once, literals untouched.

#include "host_names.h"

#include <gtest/gtest.h>

#include "cmd_param_sets.h"
#include "relay_options.h"

TEST(HostNamesTest, NamesAreResolvedAndLiteralsLeftToTheLibrary) {
  const struct {
    const char* remote;
    const char* local;  // empty: not given
    bool resolves;
    const char* remoteAfter;  // or the error's start
  } cases[] = {
      {"localhost", "", true, "127.0.0.1"},
      {"localhost", "127.0.0.1", true, "127.0.0.1"},
      {"localhost", "::1", false, "remoteaddr localhost does not resolve to an IPv6 address"},
      {"nosuch.invalid", "", false, "remoteaddr nosuch.invalid does not resolve"},
      {"1.2.3.4.5", "", true, "1.2.3.4.5"},  // a bad address is the library's to refuse
      {"::1", "", true, "::1"},
  };
  for (const auto& c : cases) {
    CallCmdParams params;
    params.SetCmdParamInputValue("remoteaddr", c.remote);
    if (c.local[0] != '\0') params.SetCmdParamInputValue("localaddr", c.local);
    std::vector<std::string> resolved;
    std::string error;
    ASSERT_EQ(ResolveHostNames(params, {"remoteaddr", "localaddr"}, &resolved, &error), c.resolves)
        << c.remote << " " << error;
    if (c.resolves) {
      EXPECT_EQ(params.Text("remoteaddr"), c.remoteAfter);
      EXPECT_EQ(resolved.size(), std::string(c.remote) == "localhost" ? 1u : 0u);
    } else {
      EXPECT_EQ(error.rfind(c.remoteAfter, 0), 0u) << error;
    }
  }
}

TEST(HostNamesTest, TheRelayResolvesItsAddressesToo) {
  RelayOptions options;
  std::string error;
  const char* args[] = {"pulvo-relay", "--listen", "40001", "--forward", "40002",
                        "--forward-addr", "localhost"};
  ASSERT_TRUE(ParseRelayOptions(7, args, options, error)) << error;
  EXPECT_EQ(options.forwardAddress, "127.0.0.1");
  args[6] = "nosuch.invalid";
  EXPECT_FALSE(ParseRelayOptions(7, args, options, error));
}
