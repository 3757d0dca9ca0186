#ifndef TESK_RTP_STREAM_H
#define TESK_RTP_STREAM_H

// What a captured voice datagram tells the window pass: RTP headers, their
// 16- and 32-bit counters unwrapped, and the stream's packet interval.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet.h"

struct RtpHeader {
  uint8_t payloadType = 0;
  bool marker = false;
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
// Comfort noise: 13 (RFC 3389), and 19, which older gateways used for it.
bool isComfortNoise(uint8_t payloadType);
// A payload type that can start a voice stream: an audio type of RFC 3551's
// table other than comfort noise, or a dynamic one.
bool startsAudioStream(uint8_t payloadType);
// The RTP clock of a static payload type (RFC 3551), 0 for a dynamic one.
uint32_t clockRateOfPayloadType(uint8_t payloadType);

// The clock of every codec the model knows.
constexpr uint32_t kVoiceClockRate = 8000;

// The clock rate of the usual ones nearest to `ticksPerSecond`, the rate a
// stream's timestamps advanced at against capture time.
uint32_t nearestClockRate(double ticksPerSecond);

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
  explicit RtpStreamClock(uint32_t clockRate = kVoiceClockRate) : rate(clockRate) {}

  // The packet as the window pass takes it: the extended sequence number,
  // the extended timestamp as a send time (with an unknown offset, which
  // transit differences cancel) and the stream's packet interval. A place
  // holder (comfort noise, an event) keeps its sequence number and teaches
  // nothing about the interval.
  Payload toPayload(const RtpHeader& header, uint8_t codec, bool placeholder = false);

  // The packetisation time in ms, from the timestamp steps between
  // packets; 0 until two neighbours have been seen.
  uint8_t packetInterval() const { return intervalAt(rate); }
  // The same at another clock rate, for a stream whose rate is learnt late.
  uint8_t intervalAt(uint32_t clockRate) const;
  void setClockRate(uint32_t clockRate) { rate = clockRate; }
  uint32_t clockRate() const { return rate; }

 private:
  void learnStep(uint64_t sequence, uint64_t timestamp);

  uint32_t rate;
  Unwrapper sequences{16};
  Unwrapper timestamps{32};
  bool havePrevious = false;
  uint64_t previousSequence = 0, previousTimestamp = 0;
  uint64_t step = 0;       // timestamp ticks per packet
  uint64_t candidate = 0;
};

// Repeated sequence numbers among the last 65536 of a stream.
class DuplicateCounter {
 public:
  // Whether `sequence` (extended) was met already.
  bool repeat(uint64_t sequence);

 private:
  static constexpr uint64_t kSpan = 65536;
  std::vector<bool> seen = std::vector<bool>(kSpan, false);
  uint64_t highest = 0;
  bool started = false;
};

#endif  // TESK_RTP_STREAM_H
