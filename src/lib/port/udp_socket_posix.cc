// Linux and macOS sockets. The Linux build also honours TESK_TEST_INTERFACE
// (bind the socket to a network interface) and TESK_TEST_TOS (the IP
// type-of-service byte).
#include <errno.h>
#include <net/if.h>
#include <sys/uio.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>

#include "ip_marks_cmsg.h"
#include "tesk_errors.h"
#include "server_log.h"
#include "udp_socket.h"


namespace {

#if defined(__linux__)
void applyTestEnvironment(unsigned long threadId, int socketFd, int family) {
  if (const char* interface = getenv("TESK_TEST_INTERFACE")) {
    SERVER_LOG(threadId, "Forcing interface to " << interface);
    ifreq request;
    memset(&request, 0, sizeof request);
    strncpy(request.ifr_name, interface, sizeof request.ifr_name);
    if (setsockopt(socketFd, SOL_SOCKET, SO_BINDTODEVICE, &request, sizeof request) < 0) {
      SERVER_LOG(threadId, "Failed to bind socket to interface");
    }
  }
  if (const char* tosText = getenv("TESK_TEST_TOS")) {
    // Decimal, as ever; "0xb8" too, which used to read as 0.
    const bool hex = tosText[0] == '0' && (tosText[1] == 'x' || tosText[1] == 'X');
    unsigned char tos = static_cast<unsigned char>(strtol(tosText, nullptr, hex ? 16 : 10));
    SERVER_LOG(threadId, "Setting TOS to " << static_cast<unsigned>(tos));
    // IPv6 carries the same byte as its traffic class.
    const int trafficClass = tos;
    const int set = family == AF_INET6
                        ? setsockopt(socketFd, IPPROTO_IPV6, IPV6_TCLASS, &trafficClass,
                                     sizeof trafficClass)
                        : setsockopt(socketFd, IPPROTO_IP, IP_TOS, &tos, 1);
    if (set < 0) {
      int savedErrno = errno;
      SERVER_LOG(threadId, "Failed to set TOS: " << strerror(savedErrno));
    }
  }
}
#else
void applyTestEnvironment(unsigned long, int, int) {}
#endif

}  // namespace

bool platformChecksAddressText() { return true; }

bool startSocketLibrary() { return true; }

bool parseIPv4Address(const char* text, uint32_t* addressNetworkOrder) {
  in_addr parsed;
  if (text == nullptr || inet_aton(text, &parsed) == 0) return false;
  *addressNetworkOrder = parsed.s_addr;
  return true;
}

int openBoundSocket(unsigned long threadId, const SocketAddress& local, const char* address,
                    unsigned short port, int& socketFd, FailureNote& failure, bool ipv6Only) {

  socketFd = socket(local.family(), SOCK_DGRAM, IPPROTO_UDP);
  if (socketFd == -1) {
    int savedErrno = errno;
    SERVER_FAILURE(failure, threadId, "Error opening server socket, " << strerror(savedErrno));
    return SOCKET_ERROR;
  }
  if (local.family() == AF_INET6) {
    // "::" takes IPv6 alone: an IPv4 test on the same port stays possible
    // and nothing changes for IPv4 users.
    const int on = ipv6Only ? 1 : 0;
    setsockopt(socketFd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  applyTestEnvironment(threadId, socketFd, local.family());

  if (bind(socketFd, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0) {
    int savedErrno = errno;
    SERVER_FAILURE(failure, threadId, "Error binding to the socket (ip=" << address << ", port=" << port
                                                             << "): " << strerror(savedErrno)
                                                             << " ");
    close(socketFd);
    socketFd = -1;
    return SOCKET_ERROR;
  }
  return 0;
}

int pollSocketFds(pollfd* fds, unsigned long count, int timeoutMs) {
  return poll(fds, static_cast<nfds_t>(count), timeoutMs);
}

int pollSockets(pollfd* fds, unsigned long count, int timeoutMs) {
  for (;;) {
    const int ready = pollSocketFds(fds, count, timeoutMs);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

long sendDatagram(int socketFd, const uint8_t* data, size_t length, const SocketAddress& to) {
  for (;;) {
    ssize_t sent = sendto(socketFd, data, length, 0, reinterpret_cast<const sockaddr*>(&to.storage),
                          to.length);
    if (sent >= 0 || errno != EINTR) return static_cast<long>(sent);
  }
}

std::string lastSocketErrorText() { return strerror(errno); }

void enableArrivalTimestamps(int socketFd) {
  int on = 1;
  setsockopt(socketFd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
}

void enlargeReceiveBuffer(int socketFd, int bytes) {
#ifdef SO_RCVBUFFORCE
  if (setsockopt(socketFd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
#endif
  setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

long receiveDatagram(int socketFd, uint8_t* buffer, size_t capacity, SocketAddress* from,
                     TimeOfDay* arrival, IpMarks* marks) {
  iovec data = {buffer, capacity};
  alignas(cmsghdr) char control[kReceiveControlSpace];
  msghdr message;
  ssize_t received;
  for (;;) {
    memset(&message, 0, sizeof message);
    message.msg_name = &from->storage;
    message.msg_namelen = sizeof from->storage;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    received = recvmsg(socketFd, &message, 0);
    if (received >= 0 || errno != EINTR) break;
  }
  if (received < 0) return -1;
  from->length = message.msg_namelen;
  if (marks != nullptr) {
    *marks = IpMarks{};
    readIpMarks(message, marks);
  }
  // The stamp is taken when the datagram reaches the socket, so the time
  // this process needs to get to it (under load, or while the calculation
  // holds the map) does not show up as transit time.
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
      timeval stamp;
      memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      arrival->sec = stamp.tv_sec;
      arrival->usec = stamp.tv_usec;
      return static_cast<long>(received);
    }
  }
  *arrival = platformTimeOfDay();
  return static_cast<long>(received);
}

int waitReadable(int socketFd, int timeoutMs) {
  pollfd fd;
  fd.fd = socketFd;
  fd.events = POLLIN;
  fd.revents = 0;
  for (;;) {
    int ready = pollSocketFds(&fd, 1, timeoutMs);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

int waitReadableOrWoken(int socketFd, int wakeFd, int timeoutMs) {
  pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};  // poll skips a negative fd
  for (;;) {
    const int ready = pollSocketFds(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && fds[1].revents != 0) return kWoken;
    return ready;
  }
}

void closeSocket(int socketFd) { close(socketFd); }
