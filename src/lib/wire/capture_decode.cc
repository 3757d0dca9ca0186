#include "capture_decode.h"

#include <cstring>


namespace {

constexpr uint16_t kEtherIPv4 = 0x0800;
constexpr uint16_t kEtherIPv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherQinQOld = 0x9100;
constexpr uint8_t kProtocolUdp = 17;

// The loopback headers' address families: AF_INET is 2 everywhere, AF_INET6
// differs by system (Linux 10, the BSDs 24, macOS 30, FreeBSD 28).
bool isIPv6Family(uint32_t family) {
  return family == 10 || family == 24 || family == 28 || family == 30;
}

// A bounded view of the frame: every read checks that its bytes exist.
struct Bytes {
  const uint8_t* data;
  size_t length;

  bool has(size_t offset, size_t count) const {
    return offset <= length && count <= length - offset;
  }
  uint16_t u16(size_t offset) const {
    return static_cast<uint16_t>(data[offset] << 8 | data[offset + 1]);
  }
  uint32_t u32be(size_t offset) const {
    return uint32_t{data[offset]} << 24 | uint32_t{data[offset + 1]} << 16 |
           uint32_t{data[offset + 2]} << 8 | data[offset + 3];
  }
  Bytes from(size_t offset) const { return {data + offset, length - offset}; }
};

FrameKind decodeUdp(Bytes b, UdpDatagram* out) {
  if (!b.has(0, 8)) return FrameKind::Truncated;
  const uint16_t udpLength = b.u16(4);
  if (udpLength < 8) return FrameKind::Truncated;
  out->sourcePort = b.u16(0);
  out->destinationPort = b.u16(2);
  out->payload = b.data + 8;
  const size_t claimed = udpLength - 8u;
  const size_t captured = b.length - 8;
  out->payloadLength = captured < claimed ? captured : claimed;
  return FrameKind::Udp;
}

FrameKind decodeIPv4(Bytes b, UdpDatagram* out) {
  if (!b.has(0, 20)) return FrameKind::Truncated;
  const size_t headerLength = (b.data[0] & 0x0Fu) * 4u;
  const size_t totalLength = b.u16(2);
  if (headerLength < 20 || totalLength < headerLength || !b.has(0, headerLength)) {
    return FrameKind::Truncated;
  }
  const uint16_t fragment = b.u16(6);
  const bool moreFragments = (fragment & 0x2000) != 0;
  if (moreFragments || (fragment & 0x1FFF) != 0) return FrameKind::Fragment;
  if (b.data[9] != kProtocolUdp) return FrameKind::NotUdp;
  out->family = 4;
  std::memcpy(out->source, b.data + 12, 4);
  std::memcpy(out->destination, b.data + 16, 4);
  // Link layers pad short frames: the datagram ends where IP says it does.
  Bytes datagram = b;
  if (totalLength < datagram.length) datagram.length = totalLength;
  return decodeUdp(datagram.from(headerLength), out);
}

FrameKind decodeIPv6(Bytes b, UdpDatagram* out) {
  if (!b.has(0, 40)) return FrameKind::Truncated;
  const size_t payloadLength = b.u16(4);
  uint8_t next = b.data[6];
  Bytes datagram = b;
  // A payload length of 0 announces a jumbogram: take what was captured.
  if (payloadLength != 0 && 40 + payloadLength < datagram.length) {
    datagram.length = 40 + payloadLength;
  }
  size_t offset = 40;
  // Hop-by-hop, routing and destination options may come before UDP.
  for (int headers = 0; headers < 8; ++headers) {
    if (next == kProtocolUdp) {
      out->family = 6;
      std::memcpy(out->source, b.data + 8, 16);
      std::memcpy(out->destination, b.data + 24, 16);
      return decodeUdp(datagram.from(offset), out);
    }
    if (next == 44) return FrameKind::Fragment;
    if (next != 0 && next != 43 && next != 60) return FrameKind::NotUdp;
    if (!datagram.has(offset, 8)) return FrameKind::Truncated;
    const size_t length = (size_t{datagram.data[offset + 1]} + 1) * 8;
    next = datagram.data[offset];
    if (!datagram.has(offset, length)) return FrameKind::Truncated;
    offset += length;
  }
  return FrameKind::NotUdp;
}

FrameKind decodeIp(Bytes b, UdpDatagram* out) {
  if (!b.has(0, 1)) return FrameKind::Truncated;
  switch (b.data[0] >> 4) {
    case 4:
      return decodeIPv4(b, out);
    case 6:
      return decodeIPv6(b, out);
    default:
      return FrameKind::NotIp;
  }
}

FrameKind decodeEtherType(uint16_t etherType, Bytes b, UdpDatagram* out) {
  if (etherType == kEtherIPv4 || etherType == kEtherIPv6) return decodeIp(b, out);
  return FrameKind::NotIp;
}

FrameKind decodeEthernet(Bytes b, UdpDatagram* out) {
  if (!b.has(0, 14)) return FrameKind::Truncated;
  size_t offset = 12;
  uint16_t etherType = b.u16(offset);
  // Stacked tags: each is the tag's type, 2 bytes of tag control, then the
  // next type.
  while (etherType == kEtherVlan || etherType == kEtherQinQ || etherType == kEtherQinQOld) {
    offset += 4;
    if (!b.has(offset, 2)) return FrameKind::Truncated;
    etherType = b.u16(offset);
  }
  return decodeEtherType(etherType, b.from(offset + 2), out);
}

FrameKind decodeLoopback(Bytes b, bool networkOrder, UdpDatagram* out) {
  if (!b.has(0, 4)) return FrameKind::Truncated;
  uint32_t family = b.u32be(0);
  // DLT_NULL stores the family in the capturing host's order: take
  // whichever reading is a small number.
  if (!networkOrder && family > 0xFFFF) {
    family = uint32_t{b.data[3]} << 24 | uint32_t{b.data[2]} << 16 | uint32_t{b.data[1]} << 8 |
             b.data[0];
  }
  if (family != 2 && !isIPv6Family(family)) return FrameKind::NotIp;
  return decodeIp(b.from(4), out);
}

}  // namespace

bool isSupportedLinkType(int linkType) {
  switch (linkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRawDlt:
    case kLinkRawDltBsd:
    case kLinkRaw:
    case kLinkLoop:
    case kLinkLinuxSll:
    case kLinkIPv4:
    case kLinkIPv6:
    case kLinkLinuxSll2:
      return true;
    default:
      return false;
  }
}

FrameKind decodeFrame(int linkType, const uint8_t* frame, size_t capturedLength,
                      UdpDatagram* out) {
  const Bytes b{frame, frame != nullptr ? capturedLength : 0};
  switch (linkType) {
    case kLinkEthernet:
      return decodeEthernet(b, out);
    case kLinkLinuxSll:
      if (!b.has(0, 16)) return FrameKind::Truncated;
      return decodeEtherType(b.u16(14), b.from(16), out);
    case kLinkLinuxSll2:
      if (!b.has(0, 20)) return FrameKind::Truncated;
      return decodeEtherType(b.u16(0), b.from(20), out);
    case kLinkNull:
      return decodeLoopback(b, false, out);
    case kLinkLoop:
      return decodeLoopback(b, true, out);
    case kLinkRawDlt:
    case kLinkRawDltBsd:
    case kLinkRaw:
    case kLinkIPv4:
    case kLinkIPv6:
      return decodeIp(b, out);
    default:
      return FrameKind::NotIp;
  }
}

