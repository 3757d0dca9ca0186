#include "rtp_stream.h"

bool parseRtpHeader(const uint8_t* data, size_t length, RtpHeader* out) {
  if (data == nullptr || length < 12 || (data[0] >> 6) != 2) return false;
  const size_t csrcBytes = (data[0] & 0x0Fu) * 4u;
  if (length < 12 + csrcBytes) return false;
  out->payloadType = data[1] & 0x7Fu;
  out->sequence = static_cast<uint16_t>(data[2] << 8 | data[3]);
  out->timestamp = uint32_t{data[4]} << 24 | uint32_t{data[5]} << 16 | uint32_t{data[6]} << 8 |
                   data[7];
  out->ssrc = uint32_t{data[8]} << 24 | uint32_t{data[9]} << 16 | uint32_t{data[10]} << 8 |
              data[11];
  return true;
}

int codecOfPayloadType(uint8_t payloadType) {
  switch (payloadType) {
    case 0:
    case 8:
      return 0;
    case 3:
      return 1;
    default:
      return kNoCodec;
  }
}

bool isDynamicPayloadType(uint8_t payloadType) { return payloadType >= 96 && payloadType <= 127; }

uint64_t Unwrapper::extend(uint64_t value) {
  if (!started) {
    started = true;
    highest = cycle + value;
    return highest;
  }
  const uint64_t half = cycle / 2;
  uint64_t candidate = (highest & ~(cycle - 1)) | value;
  if (candidate < highest && highest - candidate > half) {
    candidate += cycle;
  } else if (candidate > highest && candidate - highest > half && candidate >= cycle) {
    candidate -= cycle;
  }
  if (candidate > highest) highest = candidate;
  return candidate;
}

// A step counts only between neighbours in sequence and moving forward in
// time. A new interval needs the same step twice in a row: one long step
// after a silence (discontinuous transmission) does not change it.
void RtpStreamClock::learnInterval(uint64_t sequence, uint64_t timestamp) {
  if (!havePrevious || sequence != previousSequence + 1 || timestamp <= previousTimestamp) return;
  const uint64_t stepMs = ((timestamp - previousTimestamp) * 1000 + kVoiceClockRate / 2) /
                          kVoiceClockRate;
  if (stepMs == 0 || stepMs > 255) return;
  const uint8_t step = static_cast<uint8_t>(stepMs);
  if (interval == 0 || step == candidate) {
    interval = step;
  }
  candidate = step;
}

Payload RtpStreamClock::toPayload(const RtpHeader& header, uint8_t codec) {
  const uint64_t sequence = sequences.extend(header.sequence);
  const uint64_t timestamp = timestamps.extend(header.timestamp);
  learnInterval(sequence, timestamp);
  havePrevious = true;
  previousSequence = sequence;
  previousTimestamp = timestamp;

  Payload p;
  p.seqNum = static_cast<uint32_t>(sequence);
  // The timestamp is at least one whole 32-bit cycle: the send time is
  // never the end-of-stream packet's zero.
  p.sendSec = static_cast<uint32_t>(timestamp / kVoiceClockRate);
  p.sendUsec = static_cast<uint32_t>(timestamp % kVoiceClockRate * 1000000 / kVoiceClockRate);
  p.codec = static_cast<int8_t>(codec);
  p.fec = 0;
  p.packetInterval = interval;
  return p;
}
