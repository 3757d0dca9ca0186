#ifndef TESK_PACKET_H
#define TESK_PACKET_H

// The test packet: the one format that crosses the network.
//
// UDP payload, all integers unsigned big-endian:
//   offset 0   1 byte   marker        0x71 ('q')
//   offset 1   4 bytes  seqNum        data packets sent before this one; in an
//                                     end-of-stream packet, the total sent
//   offset 5   4 bytes  sendSec       sender's time of day, low 32 bits of the
//                                     seconds; 0 in an end-of-stream packet
//   offset 9   4 bytes  sendUsec      microseconds of that time; 0 likewise
//   offset 13  1 byte   codecFec      codec << 4 | FEC scheme
//   offset 14  1 byte   intervalCode  (interval ms / 10) << 4
//   offset 15  ...      zero filler up to the packet size
// The packet size counts the whole IP datagram: the UDP payload is
// packetSize - 28 bytes. A zero send time is the only thing that marks an
// end-of-stream packet.

#include <cstddef>
#include <cstdint>

constexpr uint8_t kPacketMarker = 0x71;
constexpr size_t kPacketHeaderSize = 15;
constexpr size_t kIpUdpHeaderSize = 28;
constexpr size_t kPacketBufferSize = 1500;
constexpr unsigned kMinPacketSize = kIpUdpHeaderSize + kPacketHeaderSize;  // 43
constexpr unsigned kMaxPacketSize = kIpUdpHeaderSize + kPacketBufferSize;  // 1528

uint8_t makeCodecFec(uint8_t codec, uint16_t fec);
uint8_t makeIntervalCode(uint8_t streamIntervalMs);

// Writes the 15 header bytes at `buffer`. The filler is never touched.
void encodePacketHeader(uint8_t* buffer, uint32_t seqNum, uint32_t sendSec, uint32_t sendUsec,
                        uint8_t codecFec, uint8_t intervalCode);

// What the receiver keeps of one datagram.
struct Payload {
  uint32_t seqNum = 0;
  uint32_t sendSec = 0;
  uint32_t sendUsec = 0;
  int8_t markerHigh = 0;  // stored, never interpreted
  int8_t markerLow = 0;
  int8_t codec = 0;
  int8_t fec = 0;
  uint8_t packetInterval = 0;  // ms; multiples of 10 only
  // Not on the wire; what a captured RTP packet tells besides. A place
  // holder (comfort noise, a telephone event) fills its sequence number
  // and is neither voice received nor timed; a talk spurt's first packet
  // (the RTP marker) starts a new playout after a silence. A place holder
  // that `arrived` is a packet known to have come through whose time is
  // not (a call's request whose answer was lost): received, never timed.
  bool placeholder = false;
  bool arrived = false;
  bool talkSpurt = false;

  bool isEndOfStream() const { return sendSec == 0 && sendUsec == 0; }
};

// Decodes a datagram; false (and `out` untouched) when it is shorter than
// the header. Nothing else is validated.
bool decodePacket(const uint8_t* data, size_t length, Payload& out);


#endif  // TESK_PACKET_H
