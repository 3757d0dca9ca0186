// Address texts of both families: what parses, what the engine accepts, how
// addresses are written back. Portable: the Windows build runs it too.
#include <gtest/gtest.h>

#include "send_start.h"
#include "tesk_errors.h"
#include "test_util.h"
#include "udp_socket.h"

namespace {

// The longest IPv6 literal (45 characters) with the longest zone, a
// 15-character interface index ("%" + 15 digits would overflow; a name of
// 15 characters is the longest zone).
const std::string kLongest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";

TEST(AddressTest, TextsOfBothFamilies) {
  const struct {
    std::string text;
    bool parses;
    int family;
    std::string written;  // formatAddressAndPort with port 50000
  } cases[] = {
      {"127.0.0.1", true, AF_INET, "127.0.0.1:50000"},
      {"0.0.0.0", true, AF_INET, "0.0.0.0:50000"},
      {"::1", true, AF_INET6, "[::1]:50000"},
      {"::", true, AF_INET6, "[::]:50000"},
      {"2001:db8::5", true, AF_INET6, "[2001:db8::5]:50000"},
      {"2001:DB8:0:0:0:0:0:5", true, AF_INET6, "[2001:db8::5]:50000"},
      {"fe80::1%1", true, AF_INET6, "[fe80::1%1]:50000"},
      {kLongest, true, AF_INET6, "[ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff]:50000"},
      {"::ffff:192.0.2.1", true, AF_INET6, "[::ffff:192.0.2.1]:50000"},
      {":::", false, 0, ""},
      {"2001:db8::5::1", false, 0, ""},
      {"2001:db8::g", false, 0, ""},
      {"fe80::1%", false, 0, ""},
      {"fe80::1%nosuchinterface0", false, 0, ""},
      {"[::1]", false, 0, ""},
      {"::1:50000:1:2:3:4:5:6", false, 0, ""},
      {"1.2.3.256", false, 0, ""},
      {"abc", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const auto& c : cases) {
    SocketAddress address;
    ASSERT_EQ(makeSocketAddress(c.text.c_str(), 50000, &address), c.parses) << c.text;
    EXPECT_EQ(isUsableAddressText(c.text, kMaxAddressText), c.parses) << c.text;
    if (!c.parses) continue;
    EXPECT_EQ(address.family(), c.family) << c.text;
    EXPECT_EQ(address.port(), 50000);
    EXPECT_EQ(formatAddressAndPort(address), c.written);
  }
}

TEST(AddressTest, LengthLimitsPerFamily) {
  // IPv4 texts keep their 15 characters; IPv6 texts may have 61.
  EXPECT_FALSE(isUsableAddressText("0127.000.000.001", kMaxAddressText));
  EXPECT_EQ(kLongest.size() + 1 + 15, kMaxIPv6AddressText);
  const std::string padded = "0000:0000:0000:0000:0000:0000:0000:0001";  // 39 characters
  EXPECT_TRUE(isUsableAddressText(padded, kMaxAddressText));
  // Leading zeros in the zone index make an over-long text of a valid address.
  EXPECT_TRUE(isUsableAddressText("fe80::1%" + std::string(10, '0') + "1", kMaxAddressText));
  EXPECT_FALSE(isUsableAddressText(kLongest + "%" + std::string(15, '0') + "1", kMaxAddressText));
  EXPECT_FALSE(isUsableAddressText(std::string("::1\0", 4), kMaxAddressText));
}

TEST(AddressTest, SameEndpointComparesFamilyAddressAndPort) {
  SocketAddress a, b, c, d;
  ASSERT_TRUE(makeSocketAddress("::1", 5000, &a));
  ASSERT_TRUE(makeSocketAddress("0:0::1", 5000, &b));
  ASSERT_TRUE(makeSocketAddress("::1", 5001, &c));
  ASSERT_TRUE(makeSocketAddress("127.0.0.1", 5000, &d));
  EXPECT_TRUE(sameEndpoint(a, b));
  EXPECT_FALSE(sameEndpoint(a, c));
  EXPECT_FALSE(sameEndpoint(a, d));
}

TEST(AddressTest, SenderAddressesMustShareAFamily) {
  TeskSendSettings s = DefaultSendConfig();
  s.localAddress = s.remoteAddress = "::1";
  EXPECT_TRUE(senderParameterErrors(s, true).empty());
  s.localAddress = "127.0.0.1";
  EXPECT_EQ(senderParameterErrors(s, true),
            std::vector<std::string>{"Error in sender parameter: local_address 127.0.0.1 and "
                                     "remote_address ::1 are not of the same address family"});
}

}  // namespace

namespace {

// This file sees Winsock on Windows, whose SOCKET_ERROR macro (-1) once
// turned the library's socket failures into time-outs there.
TEST(ErrorCodeTest, TheLibrarysCodesKeepTheirNumbersBesideThePlatformHeaders) {
  EXPECT_EQ(static_cast<int>(TIMEOUT_ERROR), -1);
  EXPECT_EQ(static_cast<int>(SOCKET_ERROR), -2);
  EXPECT_EQ(static_cast<int>(PARAMETER_ERROR), -4);
  EXPECT_STREQ(teskErrorName(-2), "SOCKET_ERROR");
}

}  // namespace
