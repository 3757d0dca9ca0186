// The POSIX socket layer with real sockets on loopback.
#include "udp_socket.h"

#include <gtest/gtest.h>
#include <netinet/ip.h>
#include <stdlib.h>
#include <unistd.h>

#include "tesk_errors.h"
#include "test_util.h"

namespace {

// Sets an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* variable, const char* value) : name(variable) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(name); }

 private:
  const char* name;
};

// The TOS byte of an IPv4 socket, the traffic class of an IPv6 one.
int TosOf(int fd, bool ipv6) {
  int tos = -1;
  socklen_t length = sizeof tos;
  getsockopt(fd, ipv6 ? IPPROTO_IPV6 : IPPROTO_IP, ipv6 ? IPV6_TCLASS : IP_TOS, &tos, &length);
  return tos;
}

TEST(UdpSocketTest, RefusesMissingAddressAndPortZero) {
  int fd = -7;
  EXPECT_EQ(startUdpSocketComm(1, nullptr, 5000, fd), PARAMETER_ERROR);
  EXPECT_EQ(startUdpSocketComm(1, "127.0.0.1", 0, fd), PARAMETER_ERROR);
  EXPECT_EQ(startUdpSocketComm(1, "abc", 5000, fd), SOCKET_ERROR);
  EXPECT_EQ(startUdpSocketComm(1, "0127.000.000.001", 5000, fd), SOCKET_ERROR);  // too long
  EXPECT_EQ(fd, -7);  // no socket was made
}

TEST(UdpSocketTest, BindsAnyAddressAndShorthand) {
  int fd = -1;
  ASSERT_EQ(startUdpSocketComm(1, "0.0.0.0", FreeUdpPort(), fd), 0);
  closeSocket(fd);
  ASSERT_EQ(startUdpSocketComm(1, "127.1", FreeUdpPort(), fd), 0);  // inet_aton shorthand
  closeSocket(fd);
  ASSERT_EQ(startUdpSocketComm(1, "fe80::1%lo", FreeUdpPort(), fd), SOCKET_ERROR);  // not on lo
}

// "::" takes IPv6 alone, so an IPv4 test can use the same port.
TEST(UdpSocketTest, IPv6AnyAddressLeavesIPv4Alone) {
  const uint16_t port = FreeUdpPort();
  int v6 = -1, v4 = -1;
  ASSERT_EQ(startUdpSocketComm(1, "::", port, v6), 0);
  int only = 0;
  socklen_t length = sizeof only;
  getsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &only, &length);
  EXPECT_EQ(only, 1);
  EXPECT_EQ(startUdpSocketComm(1, "0.0.0.0", port, v4), 0);
  closeSocket(v4);
  closeSocket(v6);
}

TEST(UdpSocketTest, PortInUseLeavesNoSocketOpen) {
  UdpPeer occupant;
  int fd = -1;
  const int probe = dup(0);  // the lowest free descriptor now
  close(probe);
  EXPECT_EQ(startUdpSocketComm(1, "127.0.0.1", occupant.port(), fd), SOCKET_ERROR);
  const int next = dup(0);
  EXPECT_EQ(next, probe);  // the failed socket was closed again
  close(next);
}

TEST(UdpSocketTest, TypeOfServiceFromTheEnvironment) {
  const std::vector<std::pair<const char*, int>> cases = {{"184", 184}, {"abc", 0}, {"300", 44}};
  for (bool ipv6 : {false, true}) {
    for (const auto& [text, tos] : cases) {
      ScopedEnv env("TESK_TEST_TOS", text);
      int fd = -1;
      ASSERT_EQ(startUdpSocketComm(1, ipv6 ? "::1" : "127.0.0.1", FreeUdpPort(ipv6), fd), 0);
      EXPECT_EQ(TosOf(fd, ipv6), tos) << text;
      closeSocket(fd);
    }
  }
}

TEST(UdpSocketTest, UnknownInterfaceIsOnlyLogged) {
  ScopedEnv env("TESK_TEST_INTERFACE", "nosuchif0");
  int fd = -1;
  EXPECT_EQ(startUdpSocketComm(1, "127.0.0.1", FreeUdpPort(), fd), 0);
  closeSocket(fd);
}

void ExpectArrivalStamps(bool ipv6) {
  int fd = -1;
  const uint16_t port = FreeUdpPort(ipv6);
  ASSERT_EQ(startUdpSocketComm(1, ipv6 ? "::1" : "127.0.0.1", port, fd), 0);
  enableArrivalTimestamps(fd);
  UdpPeer sender(ipv6);
  uint8_t buffer[2048];
  SocketAddress from;
  TimeOfDay arrival;
  // The kernel switches stamping on a moment after it is first asked for.
  usleep(100000);
  sender.SendTo(port, MakePacket(0, 2, 3));
  ASSERT_EQ(waitReadable(fd, 1000), 1);
  ASSERT_EQ(receiveDatagram(fd, buffer, sizeof buffer, &from, &arrival), 160);

  const double before = platformTimeOfDay().seconds();
  sender.SendTo(port, MakePacket(1, 2, 3));
  usleep(50000);  // the datagram waits in the socket before it is read
  ASSERT_EQ(waitReadable(fd, 1000), 1);
  EXPECT_EQ(receiveDatagram(fd, buffer, sizeof buffer, &from, &arrival), 160);
  const double read = platformTimeOfDay().seconds();
  EXPECT_GE(arrival.seconds(), before - 0.001);
  EXPECT_LT(arrival.seconds(), read - 0.04);  // stamped on arrival, not when read
  EXPECT_EQ(formatAddress(from), ipv6 ? "::1" : "127.0.0.1");
  closeSocket(fd);
}

TEST(UdpSocketTest, ArrivalStampIsTheTimeOfReception) {
  for (bool ipv6 : {false, true}) {
    SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
    ExpectArrivalStamps(ipv6);
  }
}

}  // namespace
