// Linux and macOS: the marks travel as socket options and control data
// (macOS names the IPv6 ones of RFC 3542 only when asked to).
#define __APPLE_USE_RFC_3542 1
// Linux reports an IPv4 datagram's class as IP_TOS and its TTL as IP_TTL
// (an int); macOS as IP_RECVTOS and IP_RECVTTL (a byte each).
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstring>

#include "ip_marks.h"
#include "ip_marks_cmsg.h"

namespace {

// Not every system reports an IPv4 datagram's class.
#ifdef IP_RECVTOS
constexpr int kReportTos = IP_RECVTOS;
#else
constexpr int kReportTos = -1;
#endif

int socketFamily(int socketFd) {
  sockaddr_storage local;
  socklen_t length = sizeof local;
  if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return AF_UNSPEC;
  return local.ss_family;
}

bool setInt(int socketFd, int level, int name, int value) {
  return setsockopt(socketFd, level, name, &value, sizeof value) == 0;
}

// A byte or an int, as the control message holds it.
int controlValue(const cmsghdr* c) {
  if (c->cmsg_len >= CMSG_LEN(sizeof(int))) {
    int value;
    std::memcpy(&value, CMSG_DATA(c), sizeof value);
    return value;
  }
  return c->cmsg_len >= CMSG_LEN(1) ? *CMSG_DATA(c) : -1;
}

bool isIPv4Type(int type, int linuxType, int otherType) {
  return type == linuxType || type == otherType;
}

}  // namespace

bool reportIpMarks(int socketFd) {
  const int family = socketFamily(socketFd);
  bool ok = true;
  if (family == AF_INET6) {
    ok = setInt(socketFd, IPPROTO_IPV6, IPV6_RECVTCLASS, 1) &&
         setInt(socketFd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
  }
  // IPv4 peers of a dual-stack socket are reported at the IPv4 level.
  const bool v4 = kReportTos >= 0 && setInt(socketFd, IPPROTO_IP, kReportTos, 1) &&
                  setInt(socketFd, IPPROTO_IP, IP_RECVTTL, 1);
  return family == AF_INET6 ? ok : v4;
}

bool setIpMarks(int socketFd, const IpMarks& marks) {
  const int family = socketFamily(socketFd);
  bool ok = true;
  if (family == AF_INET6) {
    if (marks.tos >= 0) ok = setInt(socketFd, IPPROTO_IPV6, IPV6_TCLASS, marks.tos) && ok;
    if (marks.ttl >= 0) ok = setInt(socketFd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, marks.ttl) && ok;
  }
  // IPv4 peers of a dual-stack socket are sent to at the IPv4 level.
  bool v4 = true;
  if (marks.tos >= 0) v4 = setInt(socketFd, IPPROTO_IP, IP_TOS, marks.tos) && v4;
  if (marks.ttl >= 0) v4 = setInt(socketFd, IPPROTO_IP, IP_TTL, marks.ttl) && v4;
  return family == AF_INET6 ? ok : v4;
}

void readIpMarks(msghdr& message, IpMarks* marks) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && isIPv4Type(c->cmsg_type, IP_TOS, kReportTos)) {
      marks->tos = controlValue(c) & 0xFF;
    } else if (c->cmsg_level == IPPROTO_IP && isIPv4Type(c->cmsg_type, IP_TTL, IP_RECVTTL)) {
      marks->ttl = controlValue(c) & 0xFF;
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_TCLASS) {
      marks->tos = controlValue(c) & 0xFF;
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT) {
      marks->ttl = controlValue(c) & 0xFF;
    }
  }
}

size_t writeMarksControl(const IpMarks& marks, const sockaddr_storage& peer, char* space) {
  // An IPv4 peer of a dual-stack socket is sent to at the IPv4 level.
  const bool ipv6 =
      peer.ss_family == AF_INET6 &&
      !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr);
  const struct {
    int value, type;
  } fields[] = {{marks.tos, ipv6 ? IPV6_TCLASS : IP_TOS},
                {marks.ttl, ipv6 ? IPV6_HOPLIMIT : IP_TTL}};
  std::memset(space, 0, kSendControlSpace);
  size_t used = 0;
  for (const auto& field : fields) {
    if (field.value < 0) continue;
    cmsghdr* c = reinterpret_cast<cmsghdr*>(space + used);
    c->cmsg_level = ipv6 ? IPPROTO_IPV6 : IPPROTO_IP;
    c->cmsg_type = field.type;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &field.value, sizeof field.value);
    used += CMSG_SPACE(sizeof(int));
  }
  return used;
}
