#ifndef TESK_RTP_STREAM_H
#define TESK_RTP_STREAM_H

// What a captured voice datagram tells the window pass: RTP headers, their
// 16- and 32-bit counters unwrapped, and the stream's packet interval.

#include <cstddef>
#include <cstdint>

#include "packet.h"

struct RtpHeader {
  uint8_t payloadType = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
};

// Version 2 and a header (with its CSRC list) that fits in `length`.
bool parseRtpHeader(const uint8_t* data, size_t length, RtpHeader* out);

constexpr int kNoCodec = -1;
// The codec number of the model for the static audio payload types it
// knows: 0 (PCMU) and 8 (PCMA) are G711, 3 is GSM0610; kNoCodec otherwise.
int codecOfPayloadType(uint8_t payloadType);
bool isDynamicPayloadType(uint8_t payloadType);

// The audio clock of every codec the model knows.
constexpr uint32_t kVoiceClockRate = 8000;

// Extends a counter of `bits` bits that wraps: each value becomes the
// extension nearest to the highest value seen so far, so that a wrap
// carries on and a late packet from before a wrap stays before it. The
// first value is placed one whole cycle up, leaving room below it for late
// packets.
class Unwrapper {
 public:
  explicit Unwrapper(unsigned bits) : cycle(uint64_t{1} << bits) {}
  uint64_t extend(uint64_t value);

 private:
  uint64_t cycle;
  uint64_t highest = 0;
  bool started = false;
};

// The per-stream state that turns RTP headers into window-pass packets.
class RtpStreamClock {
 public:
  // The packet as the window pass takes it: the extended sequence number,
  // the extended timestamp as a send time (with an unknown offset, which
  // transit differences cancel) and the stream's packet interval.
  Payload toPayload(const RtpHeader& header, uint8_t codec);

  // The packetisation time in ms, from the timestamp steps between
  // packets; 0 until two packets have been seen.
  uint8_t packetInterval() const { return interval; }

 private:
  void learnInterval(uint64_t sequence, uint64_t timestamp);

  Unwrapper sequences{16};
  Unwrapper timestamps{32};
  bool havePrevious = false;
  uint64_t previousSequence = 0, previousTimestamp = 0;
  uint8_t interval = 0;
  uint8_t candidate = 0;
};

#endif  // TESK_RTP_STREAM_H
