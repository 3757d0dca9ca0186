// Windows sockets: Winsock 2, inet_addr for IPv4 (which refuses
// 255.255.255.255), getaddrinfo for IPv6 literals, WSAPoll and closesocket.
// No interface or TOS environment variables.
#include <cstring>
#include <vector>

#include "tesk_errors.h"
#include "server_log.h"
#include "udp_socket.h"


namespace {

bool startWinsock() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

}  // namespace

bool platformChecksAddressText() { return false; }

bool startSocketLibrary() { return startWinsock(); }

bool parseIPv4Address(const char* text, uint32_t* addressNetworkOrder) {
  if (text == nullptr) return false;
  startWinsock();
  const unsigned long parsed = inet_addr(text);
  if (parsed == INADDR_NONE) return false;
  *addressNetworkOrder = static_cast<uint32_t>(parsed);
  return true;
}

int openBoundSocket(unsigned long threadId, const SocketAddress& local, const char* address,
                    unsigned short port, int& socketFd, FailureNote& failure, bool ipv6Only) {
  if (!startWinsock()) {
    SERVER_FAILURE(failure, threadId, "Error on WSAStartup");
    return SOCKET_ERROR;
  }
  SOCKET s = socket(local.family(), SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    SERVER_FAILURE(failure, threadId, "Error opening server socket, " << WSAGetLastError());
    return SOCKET_ERROR;
  }
  socketFd = static_cast<int>(s);
  if (local.family() == AF_INET6) {
    // As on the other platforms: "::" takes IPv6 alone.
    const DWORD on = ipv6Only ? 1 : 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
  }
  if (bind(s, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0) {
    SERVER_FAILURE(failure, threadId, "Error binding to the socket (ip=" << address << ", port=" << port
                                                             << "): " << WSAGetLastError() << " ");
    closesocket(s);
    socketFd = -1;
    return SOCKET_ERROR;
  }
  return 0;
}

int pollSocketFds(pollfd* fds, unsigned long count, int timeoutMs) {
  return WSAPoll(fds, count, timeoutMs);
}

int pollSockets(pollfd* fds, unsigned long count, int timeoutMs) {
  std::vector<pollfd> used;
  std::vector<unsigned long> at;
  for (unsigned long i = 0; i < count; ++i) {
    fds[i].revents = 0;
    if (static_cast<SOCKET>(fds[i].fd) == INVALID_SOCKET || static_cast<int>(fds[i].fd) < 0) continue;
    used.push_back(fds[i]);
    at.push_back(i);
  }
  const int ready = WSAPoll(used.data(), static_cast<ULONG>(used.size()), timeoutMs);
  for (size_t k = 0; ready > 0 && k < used.size(); ++k) fds[at[k]].revents = used[k].revents;
  return ready;
}

long sendDatagram(int socketFd, const uint8_t* data, size_t length, const SocketAddress& to) {
  return sendto(static_cast<SOCKET>(socketFd), reinterpret_cast<const char*>(data),
                static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to.storage),
                to.length);
}

std::string lastSocketErrorText() { return "Winsock error " + std::to_string(WSAGetLastError()); }

void enableArrivalTimestamps(int) {}

void enlargeReceiveBuffer(int socketFd, int bytes) {
  setsockopt(static_cast<SOCKET>(socketFd), SOL_SOCKET, SO_RCVBUF,
             reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

long receiveDatagram(int socketFd, uint8_t* buffer, size_t capacity, SocketAddress* from,
                     TimeOfDay* arrival, IpMarks* marks) {
  if (marks != nullptr) *marks = IpMarks{};
  int fromLength = sizeof from->storage;
  const int received = recvfrom(static_cast<SOCKET>(socketFd), reinterpret_cast<char*>(buffer),
                                static_cast<int>(capacity), 0,
                                reinterpret_cast<sockaddr*>(&from->storage), &fromLength);
  from->length = fromLength;
  *arrival = platformTimeOfDay();
  // A datagram larger than the buffer arrives cut, as elsewhere.
  if (received < 0 && WSAGetLastError() == WSAEMSGSIZE) return static_cast<long>(capacity);
  return received;
}

int waitReadable(int socketFd, int timeoutMs) {
  pollfd fd;
  fd.fd = static_cast<SOCKET>(socketFd);
  fd.events = POLLRDNORM;
  fd.revents = 0;
  return pollSocketFds(&fd, 1, timeoutMs);
}

int waitReadableOrWoken(int socketFd, int, int timeoutMs) {
  return waitReadable(socketFd, timeoutMs);
}

void closeSocket(int socketFd) { closesocket(static_cast<SOCKET>(socketFd)); }
