#ifndef TESK_CAPTURE_DECODE_H
#define TESK_CAPTURE_DECODE_H

// Finds the UDP datagram in one captured frame: the link layer, IPv4 or
// IPv6, then UDP. Pure byte arithmetic with bounds checks on every read, so
// that any frame, however short or strange, is either a datagram or a
// reason to skip it.

#include <cstddef>
#include <cstdint>
#include <string>

// The link-layer header types of capture files that are understood
// (the LINKTYPE_ numbers of the pcap formats, and libpcap's DLT_ aliases).
enum CaptureLinkType : int {
  kLinkNull = 0,        // BSD loopback: a 4-byte address family, host order
  kLinkEthernet = 1,    // Ethernet II, VLAN tags (802.1Q, 802.1ad) allowed
  kLinkRawDlt = 12,     // raw IP, libpcap's DLT_RAW on most systems
  kLinkRawDltBsd = 14,  // raw IP, DLT_RAW on OpenBSD
  kLinkRaw = 101,       // raw IP, as stored in files
  kLinkLoop = 108,      // OpenBSD loopback: the family in network order
  kLinkLinuxSll = 113,  // Linux cooked capture
  kLinkIPv4 = 228,
  kLinkIPv6 = 229,
  kLinkLinuxSll2 = 276,  // Linux cooked capture, version 2
};

bool isSupportedLinkType(int linkType);

struct UdpDatagram {
  int family = 0;             // 4 or 6
  uint8_t source[16] = {};    // network order; IPv4 in the first 4 bytes
  uint8_t destination[16] = {};
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  const uint8_t* payload = nullptr;  // into the frame
  size_t payloadLength = 0;          // the captured part of the payload
};

enum class FrameKind {
  Udp,        // `out` holds the datagram
  NotIp,      // another link-layer protocol (ARP, LLDP, ...)
  NotUdp,     // TCP, ICMP, ...
  Fragment,   // an IP fragment: its UDP header is not in every piece
  Truncated,  // the capture ends inside a header, or a length field lies
};

FrameKind decodeFrame(int linkType, const uint8_t* frame, size_t capturedLength,
                      UdpDatagram* out);


#endif  // TESK_CAPTURE_DECODE_H
