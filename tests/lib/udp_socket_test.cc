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
  ScopedEnv(const char* name, const char* value) : name(name) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(name); }

 private:
  const char* name;
};

int TosOf(int fd) {
  int tos = -1;
  socklen_t length = sizeof tos;
  getsockopt(fd, IPPROTO_IP, IP_TOS, &tos, &length);
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
  for (const auto& [text, tos] : cases) {
    ScopedEnv env("TESK_TEST_TOS", text);
    int fd = -1;
    ASSERT_EQ(startUdpSocketComm(1, "127.0.0.1", FreeUdpPort(), fd), 0);
    EXPECT_EQ(TosOf(fd), tos) << text;
    closeSocket(fd);
  }
}

TEST(UdpSocketTest, UnknownInterfaceIsOnlyLogged) {
  ScopedEnv env("TESK_TEST_INTERFACE", "nosuchif0");
  int fd = -1;
  EXPECT_EQ(startUdpSocketComm(1, "127.0.0.1", FreeUdpPort(), fd), 0);
  closeSocket(fd);
}

TEST(UdpSocketTest, ArrivalStampIsTheTimeOfReception) {
  int fd = -1;
  const uint16_t port = FreeUdpPort();
  ASSERT_EQ(startUdpSocketComm(1, "127.0.0.1", port, fd), 0);
  enableArrivalTimestamps(fd);
  UdpPeer sender;
  uint8_t buffer[2048];
  sockaddr_in from;
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
  EXPECT_EQ(formatIPv4Address(from), "127.0.0.1");
  closeSocket(fd);
}

}  // namespace
