#ifndef TESK_UDP_SOCKET_H
#define TESK_UDP_SOCKET_H

// The UDP socket layer: everything the generator and the server need from
// the system's sockets, one implementation per platform.

#include <cstddef>
#include <cstdint>
#include <string>

#include "net_headers.h"
#include "sleep_utils.h"

// Longest dotted IPv4 text the engine copies (16-byte buffers).
constexpr size_t kMaxAddressText = 15;

// Creates an IPv4 UDP socket bound to `address`:`port` (host byte order) and
// stores it in `socketFd`; the caller owns and closes it. threadId only
// labels the log lines. Returns 0; PARAMETER_ERROR for a null address or port
// 0; SOCKET_ERROR when the address does not parse or socket/bind fail, with
// no socket left open.
int startUdpSocketComm(unsigned long threadId, const char* address, unsigned short port,
                       int& socketFd);

// Checks the address and port for startUdpSocketComm and fills `local`:
// 0, PARAMETER_ERROR or SOCKET_ERROR, with the socket layer's log lines.
int localSocketAddress(unsigned long threadId, const char* address, unsigned short port,
                       sockaddr_in* local);

// poll() (WSAPoll on Windows), result unchanged: ready count, 0 on time-out,
// -1 on error.
int pollSocketFds(pollfd* fds, unsigned long count, int timeoutMs);

// Parses dotted IPv4 text as the platform's address parser does; the address
// comes back in network byte order.
bool parseIPv4Address(const char* text, uint32_t* addressNetworkOrder);

// Whether the send and receive starts check address texts before the test
// (not on Windows, where the socket layer is the first to look at them).
bool platformChecksAddressText();

// Whether `text` is a dotted IPv4 address the engine can use: it parses and
// fits the engine's 15-character copies.
bool isUsableIPv4Text(const std::string& text, size_t maxLength);

// Sends one datagram, retrying when interrupted. Returns the bytes sent or -1.
long sendDatagram(int socketFd, const uint8_t* data, size_t length, const sockaddr_in& to);

// Asks the system to stamp every datagram of the socket with its arrival
// time of day. Where it cannot, receiveDatagram reads the clock instead.
void enableArrivalTimestamps(int socketFd);

// Receives one datagram, retrying when interrupted. Returns its length or -1.
// `arrival` gets the time of day at which the datagram reached the socket
// (the system's stamp), or, without one, the time right after receiving.
long receiveDatagram(int socketFd, uint8_t* buffer, size_t capacity, sockaddr_in* from,
                     TimeOfDay* arrival);

// Waits until `socketFd` is readable, retrying when interrupted. Returns as
// pollSocketFds.
int waitReadable(int socketFd, int timeoutMs);

void closeSocket(int socketFd);

// "a.b.c.d" of an address in network byte order.
std::string formatIPv4Address(const sockaddr_in& address);

#endif  // TESK_UDP_SOCKET_H
