#include "packet.h"

namespace {

void putBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t getBigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// The upper nibble of a byte read as signed, with sign extension, as the
// receiver has always read it; equal to the plain nibble below 0x80.
int8_t signedHighNibble(uint8_t byte) {
  return static_cast<int8_t>(static_cast<int8_t>(byte) >> 4);
}

}  // namespace

uint8_t makeCodecFec(uint8_t codec, uint16_t fec) {
  return static_cast<uint8_t>((codec << 4) | fec);
}

uint8_t makeIntervalCode(uint8_t streamIntervalMs) {
  return static_cast<uint8_t>((streamIntervalMs / 10) << 4);
}

void encodePacketHeader(uint8_t* buffer, uint32_t seqNum, uint32_t sendSec, uint32_t sendUsec,
                        uint8_t codecFec, uint8_t intervalCode) {
  buffer[0] = kPacketMarker;
  putBigEndian32(buffer + 1, seqNum);
  putBigEndian32(buffer + 5, sendSec);
  putBigEndian32(buffer + 9, sendUsec);
  buffer[13] = codecFec;
  buffer[14] = intervalCode;
}

bool decodePacket(const uint8_t* data, size_t length, Payload& out) {
  if (data == nullptr || length < kPacketHeaderSize) return false;
  out.seqNum = getBigEndian32(data + 1);
  out.sendSec = getBigEndian32(data + 5);
  out.sendUsec = getBigEndian32(data + 9);
  out.markerHigh = signedHighNibble(data[0]);
  out.markerLow = static_cast<int8_t>(data[0] & 0x0F);
  out.codec = signedHighNibble(data[13]);
  out.fec = static_cast<int8_t>(data[13] & 0x0F);
  out.packetInterval = static_cast<uint8_t>((data[14] >> 4) * 10);
  return true;
}
