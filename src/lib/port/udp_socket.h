#ifndef TESK_UDP_SOCKET_H
#define TESK_UDP_SOCKET_H

// The UDP socket layer: everything the generator and the server need from
// the system's sockets, one implementation per platform.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ip_marks.h"
#include "net_headers.h"
#include "sleep_utils.h"
#include "test_error.h"

// Longest dotted IPv4 text the sender takes: "255.255.255.255". Longer text
// that a lenient parser would still accept ("0127.000.000.001") is refused.
constexpr size_t kMaxAddressText = 15;
// Longest IPv6 literal with a zone: 45 characters of address
// ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"), the "%" and an
// interface name of at most 15 characters (or an index).
constexpr size_t kMaxIPv6AddressText = 61;
// Room for any address text the engine copies, terminating zero included.
constexpr size_t kAddressTextBuffer = kMaxIPv6AddressText + 1;

// A socket address of either family, with the length bind and sendto take.
struct SocketAddress {
  sockaddr_storage storage;
  socklen_t length = 0;

  int family() const { return storage.ss_family; }
  uint16_t port() const;  // host byte order
};

// The family follows the text: IPv6 when it holds a colon, IPv4 otherwise.
bool isIPv6Text(const char* text);

// Fills `out` from an address text and a port (host byte order): dotted IPv4
// as the platform's IPv4 parser reads it, IPv6 as a numeric literal with an
// optional zone (an interface name or index after "%"). False when the text
// does not parse or is longer than its family allows.
bool makeSocketAddress(const char* text, uint16_t port, SocketAddress* out);
// Whether an address parameter's text names a host rather than giving an
// address: it has a letter and no ':' ("localhost", "reflector.example").
// "1.2.3.4.5" and IPv6 texts are addresses, good or bad.
bool namesAHost(const std::string& text);
// The address a host name resolves to, as text: the first the system gives
// of `family` (AF_INET, AF_INET6, or AF_UNSPEC for its own order). False,
// with the resolver's reason in `error`, when it resolves to none.
bool resolveHostName(const std::string& name, int family, std::string* address,
                     std::string* error);

// Creates a UDP socket of the address's family bound to `address`:`port`
// (host byte order) and stores it in `socketFd`; the caller owns and closes
// it. An IPv6 socket takes IPv6 only, unless `ipv6Only` is false (then "::"
// also takes IPv4, as mapped addresses). threadId only labels the log lines.
// Returns 0; PARAMETER_ERROR for a null address or port 0; SOCKET_ERROR when
// the address does not parse or socket/bind fail, with no socket left open.
// A failure's reason goes to `failure` when one is given.
int startUdpSocketComm(unsigned long threadId, const char* address, unsigned short port,
                       int& socketFd, FailureNote* failure = nullptr, bool ipv6Only = true);

// As startUdpSocketComm, bound to a port that the system chooses.
int startUdpSocketCommAnyPort(unsigned long threadId, const char* address, int& socketFd,
                              FailureNote* failure, bool ipv6Only = true);

// The platform's half of startUdpSocketComm: a socket of `local`'s family,
// bound to it (`address` and `port` only name it in log lines).
int openBoundSocket(unsigned long threadId, const SocketAddress& local, const char* address,
                    unsigned short port, int& socketFd, FailureNote& failure, bool ipv6Only);

// Checks the address and port for startUdpSocketComm and fills `local`:
// 0, PARAMETER_ERROR or SOCKET_ERROR, with the socket layer's log lines.
int localSocketAddress(unsigned long threadId, const char* address, unsigned short port,
                       SocketAddress* local, FailureNote& failure);

// poll() (WSAPoll on Windows), result unchanged: ready count, 0 on time-out,
// -1 on error.
int pollSocketFds(pollfd* fds, unsigned long count, int timeoutMs);
// The same, skipping negative descriptors on every platform (WSAPoll
// refuses them) and retrying when interrupted.
int pollSockets(pollfd* fds, unsigned long count, int timeoutMs);
// A poll entry for `fd` (an unsigned SOCKET on Windows) and `events`.
inline pollfd pollEntry(int fd, int events) {
  pollfd entry;
  entry.fd = static_cast<decltype(entry.fd)>(fd);
  entry.events = static_cast<short>(events);
  entry.revents = 0;
  return entry;
}

// Parses dotted IPv4 text as the platform's address parser does; the address
// comes back in network byte order.
bool parseIPv4Address(const char* text, uint32_t* addressNetworkOrder);

// Makes the platform's socket functions usable (Winsock); true elsewhere.
bool startSocketLibrary();

// Whether the send and receive starts check address texts before the test
// (not on Windows, where the socket layer is the first to look at them).
bool platformChecksAddressText();

// Whether `text` is an address the engine can use: dotted IPv4 that parses
// and is at most `maxIPv4Length` long, or an IPv6 literal that parses and
// is at most kMaxIPv6AddressText long.
bool isUsableAddressText(const std::string& text, size_t maxIPv4Length);

// Sends one datagram, retrying when interrupted. Returns the bytes sent or -1.
long sendDatagram(int socketFd, const uint8_t* data, size_t length, const SocketAddress& to);

// The system's words for why the calling thread's last socket call failed.
std::string lastSocketErrorText();

// Asks the system to stamp every datagram of the socket with its arrival
// time of day. Where it cannot, receiveDatagram reads the clock instead.
void enableArrivalTimestamps(int socketFd);
// Asks for a receive buffer of `bytes`, so that a burst of datagrams waits
// for a busy process rather than being dropped; the system may give less
// (Linux: net.core.rmem_max, unless the process may override it).
void enlargeReceiveBuffer(int socketFd, int bytes);

// Receives one datagram, retrying when interrupted. Returns its length or -1.
// `arrival` gets the time of day at which the datagram reached the socket
// (the system's stamp), or, without one, the time right after receiving;
// `marks`, when given, what the socket reports of its class and TTL.
long receiveDatagram(int socketFd, uint8_t* buffer, size_t capacity, SocketAddress* from,
                     TimeOfDay* arrival, IpMarks* marks = nullptr);

// Waits until `socketFd` is readable, retrying when interrupted. Returns as
// pollSocketFds.
int waitReadable(int socketFd, int timeoutMs);

// As waitReadable, and also wakes when `wakeFd` (-1: none; ignored on
// Windows) becomes readable: then kWoken.
constexpr int kWoken = 2;
int waitReadableOrWoken(int socketFd, int wakeFd, int timeoutMs);

void closeSocket(int socketFd);

// Whether two addresses name the same address and port.
bool sameEndpoint(const SocketAddress& a, const SocketAddress& b);

// The address in its family's usual text: "192.0.2.1", "2001:db8::5",
// "fe80::1%2" (the zone as its index).
std::string formatAddress(const SocketAddress& address);
// With the port: "192.0.2.1:50000", "[2001:db8::5]:50000".
std::string formatAddressAndPort(const SocketAddress& address);
// An address as a packet carries it, `family` 4 or 6: "192.0.2.1" or
// "2001:db8::5".
std::string formatAddressBytes(int family, const uint8_t* address);
// "192.0.2.1:5004" or "[2001:db8::5]:5004".
std::string formatEndpoint(int family, const uint8_t* address, uint16_t port);

#endif  // TESK_UDP_SOCKET_H
