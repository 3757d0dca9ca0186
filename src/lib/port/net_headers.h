#ifndef TESK_NET_HEADERS_H
#define TESK_NET_HEADERS_H

// The system headers that define sockets, socket addresses of both
// families, address parsing and pollfd. The library's own code includes
// Winsock only through here.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
// Winsock's SOCKET_ERROR macro (-1) would silently replace the library's
// code of the same name (-2) in every file that includes this one, turning
// socket failures into time-outs. The library's code wins: Winsock's
// failures are told by their own return values (non-zero, INVALID_SOCKET).
#undef SOCKET_ERROR
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include "tesk_errors.h"

static_assert(SOCKET_ERROR == -2 && TIMEOUT_ERROR == -1,
              "a platform macro must not shadow the library's codes");

#endif  // TESK_NET_HEADERS_H
