// Windows reports neither mark per datagram to a plain receive, and sets
// the class only through its QoS service: the TTL alone is set.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "ip_marks.h"

bool reportIpMarks(int) { return false; }

bool setIpMarks(int socketFd, const IpMarks& marks) {
  if (marks.ttl < 0) return marks.tos < 0;
  const DWORD ttl = static_cast<DWORD>(marks.ttl);
  const SOCKET s = static_cast<SOCKET>(socketFd);
  const bool v6 = setsockopt(s, IPPROTO_IPV6, IPV6_UNICAST_HOPS, reinterpret_cast<const char*>(&ttl),
                             sizeof ttl) == 0;
  const bool v4 = setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl),
                             sizeof ttl) == 0;
  return (v6 || v4) && marks.tos < 0;
}
