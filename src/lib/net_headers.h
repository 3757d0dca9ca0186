#ifndef TESK_NET_HEADERS_H
#define TESK_NET_HEADERS_H

// The system headers that define sockets, socket addresses of both
// families, address parsing and pollfd.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#endif  // TESK_NET_HEADERS_H
