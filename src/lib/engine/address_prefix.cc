#include "address_prefix.h"

#include <algorithm>
#include <cstring>

#include "net_headers.h"

void mappedAddress(const SocketAddress& from, uint8_t bytes[16], uint16_t* port) {
  std::memset(bytes, 0, 16);
  if (from.family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&from.storage);
    bytes[10] = bytes[11] = 0xFF;
    std::memcpy(bytes + 12, &v4->sin_addr, 4);
    *port = ntohs(v4->sin_port);
  } else {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&from.storage);
    std::memcpy(bytes, &v6->sin6_addr, 16);
    *port = ntohs(v6->sin6_port);
  }
}

bool inAddressPrefix(const uint8_t address[16], const AddressPrefix& prefix) {
  for (unsigned bit = 0; bit < prefix.length; ++bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((address[bit / 8] & mask) != (prefix.bytes[bit / 8] & mask)) return false;
  }
  return true;
}

bool parseAddressPrefix(const std::string& text, AddressPrefix* out) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  SocketAddress parsed;
  if (address.empty() || !makeSocketAddress(address.c_str(), 0, &parsed)) return false;
  uint16_t port = 0;
  mappedAddress(parsed, out->bytes, &port);
  const unsigned width = parsed.family() == AF_INET ? 32 : 128;
  unsigned length = width;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 ||
        !std::all_of(bits.begin(), bits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    length = static_cast<unsigned>(std::stoul(bits));
    if (length > width) return false;
  }
  out->length = length + (128 - width);
  return true;
}
