#ifndef TESK_ADDRESS_PREFIX_H
#define TESK_ADDRESS_PREFIX_H

// Sources as a reflector compares them: every address as 16 bytes, IPv4
// mapped into IPv6, so that a dual-stack socket's view of an IPv4 peer and
// an IPv4 socket's agree, and the prefixes an operator allows.

#include <cstdint>
#include <string>

#include "udp_socket.h"

// An address prefix; IPv4 ones are held as IPv4-mapped IPv6.
struct AddressPrefix {
  uint8_t bytes[16] = {};
  unsigned length = 0;  // bits, of the 128
};
// "192.0.2.0/24", "2001:db8::/32" or a single address; false when it is
// not one.
bool parseAddressPrefix(const std::string& text, AddressPrefix* out);

// The address as 16 bytes (IPv4 mapped), and its port (host byte order).
void mappedAddress(const SocketAddress& from, uint8_t bytes[16], uint16_t* port);
bool inAddressPrefix(const uint8_t address[16], const AddressPrefix& prefix);

#endif  // TESK_ADDRESS_PREFIX_H
