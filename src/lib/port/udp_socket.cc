// The parts of the socket layer that are the same on every platform.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "tesk_errors.h"
#include "server_log.h"
#include "udp_socket.h"

uint16_t SocketAddress::port() const {
  if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

bool isIPv6Text(const char* text) { return text != nullptr && std::strchr(text, ':') != nullptr; }

namespace {

// A numeric IPv6 literal, its zone resolved the platform's way. Only the
// plain form: some resolvers also take "[::1]", which is not an address.
bool parseIPv6Address(const char* text, sockaddr_in6* out) {
  const size_t addressLength = std::strcspn(text, "%");
  if (std::strspn(text, "0123456789abcdefABCDEF:.") != addressLength) return false;
  if (!startSocketLibrary()) return false;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(text, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  const bool fits = found->ai_addrlen <= sizeof *out;
  if (fits) std::memcpy(out, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  return fits;
}

}  // namespace

bool namesAHost(const std::string& text) {
  if (text.find(':') != std::string::npos) return false;
  for (char c : text) {
    if (std::isalpha(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

bool resolveHostName(const std::string& name, int family, std::string* address,
                     std::string* error) {
  if (!startSocketLibrary()) {
    *error = "the socket library did not start";
    return false;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (failed != 0 || found == nullptr) {
    *error = failed != 0 ? gai_strerror(failed) : "no address";
    return false;
  }
  SocketAddress first;
  first.length = static_cast<socklen_t>(std::min<size_t>(found->ai_addrlen, sizeof first.storage));
  std::memcpy(&first.storage, found->ai_addr, first.length);
  freeaddrinfo(found);
  *address = formatAddress(first);
  return true;
}

bool makeSocketAddress(const char* text, uint16_t port, SocketAddress* out) {
  if (text == nullptr) return false;
  std::memset(&out->storage, 0, sizeof out->storage);
  if (isIPv6Text(text)) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out->storage);
    if (std::strlen(text) > kMaxIPv6AddressText || !parseIPv6Address(text, v6)) return false;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    out->length = sizeof *v6;
    return true;
  }
  // Longer text is no address the sender takes (kMaxAddressText).
  uint32_t parsed;
  if (std::strlen(text) > kMaxAddressText || !parseIPv4Address(text, &parsed)) return false;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out->storage);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(port);
  v4->sin_addr.s_addr = parsed;
  out->length = sizeof *v4;
  return true;
}

bool isUsableAddressText(const std::string& text, size_t maxIPv4Length) {
  if (text.find('\0') != std::string::npos) return false;
  if (isIPv6Text(text.c_str())) {
    SocketAddress ignored;
    return makeSocketAddress(text.c_str(), 1, &ignored);
  }
  uint32_t ignored;
  return text.size() <= maxIPv4Length && parseIPv4Address(text.c_str(), &ignored);
}

int localSocketAddress(unsigned long threadId, const char* address, unsigned short port,
                       SocketAddress* local, FailureNote& failure) {
  if (address == nullptr) {
    SERVER_FAILURE(failure, threadId, "startUdpSocketComm, IP address param not valid");
    return PARAMETER_ERROR;
  }
  if (port == 0) {
    SERVER_FAILURE(failure, threadId, "startUdpSocketComm, port param not valid");
    return PARAMETER_ERROR;
  }
  if (!makeSocketAddress(address, port, local)) {
    SERVER_FAILURE(failure, threadId, "startUdpSocketComm: Erroneous IP address " << address);
    return SOCKET_ERROR;
  }
  return 0;
}

int startUdpSocketCommAnyPort(unsigned long threadId, const char* address, int& socketFd,
                              FailureNote* note, bool ipv6Only) {
  FailureNote discarded;
  FailureNote& failure = note != nullptr ? *note : discarded;
  SocketAddress local;
  // Checked as any port would be, then port 0: bind picks a free one.
  const int checked = localSocketAddress(threadId, address, 1, &local, failure);
  if (checked != 0) return checked;
  if (local.family() == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&local.storage)->sin6_port = 0;
  } else {
    reinterpret_cast<sockaddr_in*>(&local.storage)->sin_port = 0;
  }
  return openBoundSocket(threadId, local, address, 0, socketFd, failure, ipv6Only);
}

int startUdpSocketComm(unsigned long threadId, const char* address, unsigned short port,
                       int& socketFd, FailureNote* note, bool ipv6Only) {
  // Where a caller keeps no note, the reasons are only logged.
  FailureNote discarded;
  FailureNote& failure = note != nullptr ? *note : discarded;
  SocketAddress local;
  const int checked = localSocketAddress(threadId, address, port, &local, failure);
  if (checked != 0) return checked;
  return openBoundSocket(threadId, local, address, port, socketFd, failure, ipv6Only);
}

bool sameEndpoint(const SocketAddress& a, const SocketAddress& b) {
  if (a.family() != b.family() || a.port() != b.port()) return false;
  if (a.family() == AF_INET6) {
    const auto* x = reinterpret_cast<const sockaddr_in6*>(&a.storage);
    const auto* y = reinterpret_cast<const sockaddr_in6*>(&b.storage);
    return std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof x->sin6_addr) == 0;
  }
  return reinterpret_cast<const sockaddr_in*>(&a.storage)->sin_addr.s_addr ==
         reinterpret_cast<const sockaddr_in*>(&b.storage)->sin_addr.s_addr;
}

std::string formatAddress(const SocketAddress& address) {
  char text[INET6_ADDRSTRLEN] = {0};
  if (address.family() == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.storage);
    if (inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) == nullptr) return "?";
    std::string result = text;
    if (v6->sin6_scope_id != 0) result += "%" + std::to_string(v6->sin6_scope_id);
    return result;
  }
  const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.storage);
  if (inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) == nullptr) return "?";
  return text;
}

std::string formatAddressAndPort(const SocketAddress& address) {
  const std::string port = std::to_string(address.port());
  if (address.family() == AF_INET6) return "[" + formatAddress(address) + "]:" + port;
  return formatAddress(address) + ":" + port;
}

std::string formatAddressBytes(int family, const uint8_t* address) {
  char text[INET6_ADDRSTRLEN] = {};
  const int af = family == 6 ? AF_INET6 : AF_INET;
  if (inet_ntop(af, const_cast<uint8_t*>(address), text, sizeof text) == nullptr) text[0] = '\0';
  return text;
}

std::string formatEndpoint(int family, const uint8_t* address, uint16_t port) {
  const std::string text = formatAddressBytes(family, address);
  const std::string portText = std::to_string(port);
  if (family == 6) return "[" + text + "]:" + portText;
  return text + ":" + portText;
}
