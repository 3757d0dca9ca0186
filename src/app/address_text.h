#ifndef PULVO_ADDRESS_TEXT_H
#define PULVO_ADDRESS_TEXT_H

// What kind of address a parameter's text is, before the library parses it.

#include <cstdint>
#include <string>

// A numeric IPv6 address ("2001:db8::5", "::ffff:192.0.2.1", "fe80::1%eth0").
// Not a host name, an IPv4 address, "[::1]" or an address with a port.
bool IsIPv6Literal(const std::string& text);

// A dotted IPv4 address ("192.0.2.1").
bool IsIPv4Literal(const std::string& text);

// An IPv4 or IPv6 literal of the host itself: 127.0.0.0/8, ::1, or 127/8
// mapped into IPv6.
bool IsLoopbackLiteral(const std::string& text);

// "127.0.0.1:9863" or "[::1]:9863": an address literal and a port.
bool ParseMetricsEndpoint(const std::string& text, std::string* address, uint16_t* port);

#endif  // PULVO_ADDRESS_TEXT_H
