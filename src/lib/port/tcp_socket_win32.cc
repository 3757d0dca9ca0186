// Windows: Winsock's sockets, non-blocking through ioctlsocket.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tcp_socket.h"

namespace {

bool makeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

int failWith(SOCKET s, std::string* error) {
  *error = "Winsock error " + std::to_string(WSAGetLastError());
  if (s != INVALID_SOCKET) closesocket(s);
  return -1;
}

}  // namespace

int openTcpListener(const SocketAddress& local, std::string* error) {
  const SOCKET s = socket(local.family(), SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return failWith(s, error);
  const DWORD off = 0;
  if (local.family() == AF_INET6) {
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
  }
  if (bind(s, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0 ||
      listen(s, 64) != 0 || !makeNonBlocking(s)) {
    return failWith(s, error);
  }
  return static_cast<int>(s);
}

int acceptTcp(int listenFd, SocketAddress* peer) {
  int length = sizeof peer->storage;
  const SOCKET s = accept(static_cast<SOCKET>(listenFd),
                          reinterpret_cast<sockaddr*>(&peer->storage), &length);
  if (s == INVALID_SOCKET) return -1;
  peer->length = length;
  if (!makeNonBlocking(s)) {
    closesocket(s);
    return -1;
  }
  return static_cast<int>(s);
}

int startTcpConnect(const SocketAddress& to, std::string* error) {
  const SOCKET s = socket(to.family(), SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET || !makeNonBlocking(s)) return failWith(s, error);
  if (connect(s, reinterpret_cast<const sockaddr*>(&to.storage), to.length) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return failWith(s, error);
  }
  return static_cast<int>(s);
}

bool tcpConnected(int fd, std::string* error) {
  int pending = 0;
  int length = sizeof pending;
  if (getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending),
                 &length) != 0) {
    pending = WSAGetLastError();
  }
  if (pending == 0) return true;
  *error = "Winsock error " + std::to_string(pending);
  return false;
}

long readTcp(int fd, uint8_t* buffer, size_t capacity) {
  const int n = recv(static_cast<SOCKET>(fd), reinterpret_cast<char*>(buffer),
                     static_cast<int>(capacity), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kTcpNothing : kTcpFailed;
}

long writeTcp(int fd, const uint8_t* data, size_t length) {
  const int n = send(static_cast<SOCKET>(fd), reinterpret_cast<const char*>(data),
                     static_cast<int>(length), 0);
  if (n > 0) return n;
  if (n == 0) return kTcpNothing;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kTcpNothing : kTcpFailed;
}

void closeTcp(int fd) { closesocket(static_cast<SOCKET>(fd)); }
