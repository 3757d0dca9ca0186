// Linux and macOS. Writes never raise SIGPIPE: a peer that closed is an
// error returned, not a signal that ends the process.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tcp_socket.h"

namespace {

bool makeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void noSigpipe(int fd) {
#ifdef SO_NOSIGPIPE
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#else
  (void)fd;
#endif
}

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

int failWith(int fd, std::string* error) {
  *error = strerror(errno);
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

int openTcpListener(const SocketAddress& local, std::string* error) {
  const int fd = socket(local.family(), SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) return failWith(fd, error);
  const int on = 1, off = 0;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (local.family() == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0 ||
      listen(fd, 64) != 0 || !makeNonBlocking(fd)) {
    return failWith(fd, error);
  }
  return fd;
}

int acceptTcp(int listenFd, SocketAddress* peer) {
  for (;;) {
    socklen_t length = sizeof peer->storage;
    const int fd = accept(listenFd, reinterpret_cast<sockaddr*>(&peer->storage), &length);
    if (fd < 0 && errno == EINTR) continue;
    if (fd < 0) return -1;
    peer->length = length;
    if (!makeNonBlocking(fd)) {
      close(fd);
      return -1;
    }
    noSigpipe(fd);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
  }
}

int startTcpConnect(const SocketAddress& to, std::string* error) {
  const int fd = socket(to.family(), SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0 || !makeNonBlocking(fd)) return failWith(fd, error);
  noSigpipe(fd);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  int result;
  do {
    result = connect(fd, reinterpret_cast<const sockaddr*>(&to.storage), to.length);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno != EINPROGRESS) return failWith(fd, error);
  return fd;
}

bool tcpConnected(int fd, std::string* error) {
  int pending = 0;
  socklen_t length = sizeof pending;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) pending = errno;
  if (pending == 0) return true;
  *error = strerror(pending);
  return false;
}

long readTcp(int fd, uint8_t* buffer, size_t capacity) {
  for (;;) {
    const ssize_t n = recv(fd, buffer, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kTcpNothing : kTcpFailed;
  }
}

long writeTcp(int fd, const uint8_t* data, size_t length) {
  for (;;) {
    const ssize_t n = send(fd, data, length, kSendFlags);
    if (n > 0) return static_cast<long>(n);
    if (n == 0) return kTcpNothing;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kTcpNothing : kTcpFailed;
  }
}

void closeTcp(int fd) { close(fd); }
