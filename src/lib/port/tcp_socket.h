#ifndef TESK_TCP_SOCKET_H
#define TESK_TCP_SOCKET_H

// The TCP sockets of a control connection (TWAMP-Control): non-blocking, so
// that one thread serves its test socket and every control connection at
// once, and a peer that stops halfway never blocks the rest. One
// implementation per platform.

#include <cstddef>
#include <cstdint>
#include <string>

#include "udp_socket.h"

// A listening socket on `local` ("::" takes IPv4 peers too): its
// descriptor, or -1 with the reason in *error.
int openTcpListener(const SocketAddress& local, std::string* error);
// A connection waiting on the listener, non-blocking: its descriptor and
// peer, or -1 when none waits.
int acceptTcp(int listenFd, SocketAddress* peer);
// Starts a non-blocking connection to `to`: its descriptor, or -1 with the
// reason in *error. It is connected once writable and tcpConnected says so.
int startTcpConnect(const SocketAddress& to, std::string* error);
// Whether a connection started by startTcpConnect is up (false with the
// reason in *error when it failed).
bool tcpConnected(int fd, std::string* error);

constexpr long kTcpClosed = 0;     // the peer closed
constexpr long kTcpNothing = -1;   // nothing to read, or no room to write, now
constexpr long kTcpFailed = -2;
// What waits to be read, up to `capacity`: the bytes read, or one of the
// above.
long readTcp(int fd, uint8_t* buffer, size_t capacity);
// As much of `data` as the socket takes now: the bytes written, or one of
// the above.
long writeTcp(int fd, const uint8_t* data, size_t length);
void closeTcp(int fd);

#endif  // TESK_TCP_SOCKET_H
