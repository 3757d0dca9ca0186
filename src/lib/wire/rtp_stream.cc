#include "rtp_stream.h"

#include <cmath>

bool parseRtpHeader(const uint8_t* data, size_t length, RtpHeader* out) {
  if (data == nullptr || length < 12 || (data[0] >> 6) != 2) return false;
  const size_t csrcBytes = (data[0] & 0x0Fu) * 4u;
  if (length < 12 + csrcBytes) return false;
  out->payloadType = data[1] & 0x7Fu;
  out->marker = (data[1] & 0x80u) != 0;
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

bool isComfortNoise(uint8_t payloadType) { return payloadType == 13 || payloadType == 19; }

bool startsAudioStream(uint8_t payloadType) {
  return (payloadType <= 18 && payloadType != 1 && payloadType != 2 && payloadType != 13) ||
         isDynamicPayloadType(payloadType);
}

uint32_t clockRateOfPayloadType(uint8_t payloadType) {
  switch (payloadType) {
    case 6:
      return 16000;
    case 10:
    case 11:
      return 44100;
    case 14:
      return 90000;
    case 16:
      return 11025;
    case 17:
      return 22050;
    default:
      return payloadType <= 34 ? kVoiceClockRate : 0;
  }
}

uint32_t nearestClockRate(double ticksPerSecond) {
  const uint32_t rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 90000};
  uint32_t best = rates[0];
  for (uint32_t rate : rates) {
    if (std::fabs(ticksPerSecond - rate) < std::fabs(ticksPerSecond - best)) best = rate;
  }
  return best;
}

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
void RtpStreamClock::learnStep(uint64_t sequence, uint64_t timestamp) {
  if (!havePrevious || sequence != previousSequence + 1 || timestamp <= previousTimestamp) return;
  const uint64_t ticks = timestamp - previousTimestamp;
  if (step == 0 || ticks == candidate) step = ticks;
  candidate = ticks;
}

uint8_t RtpStreamClock::intervalAt(uint32_t clockRate) const {
  if (clockRate == 0) return 0;
  const uint64_t ms = (step * 1000 + clockRate / 2) / clockRate;
  return ms <= 255 ? static_cast<uint8_t>(ms) : 0;
}

Payload RtpStreamClock::toPayload(const RtpHeader& header, uint8_t codec, bool placeholder) {
  const uint64_t sequence = sequences.extend(header.sequence);
  const uint64_t timestamp = timestamps.extend(header.timestamp);
  if (!placeholder) {
    learnStep(sequence, timestamp);
    havePrevious = true;
    previousSequence = sequence;
    previousTimestamp = timestamp;
  }

  Payload p;
  p.seqNum = static_cast<uint32_t>(sequence);
  // The timestamp is at least one whole 32-bit cycle: the send time is
  // never the end-of-stream packet's zero.
  p.sendSec = static_cast<uint32_t>(timestamp / rate);
  p.sendUsec = static_cast<uint32_t>(timestamp % rate * 1000000 / rate);
  p.codec = static_cast<int8_t>(codec);
  p.fec = 0;
  p.packetInterval = packetInterval();
  p.placeholder = placeholder;
  p.talkSpurt = header.marker;
  return p;
}

bool DuplicateCounter::repeat(uint64_t sequence) {
  if (!started) {
    started = true;
    highest = sequence;
  }
  if (sequence + kSpan <= highest) return false;  // too old to tell
  if (sequence >= highest + kSpan) {
    seen.assign(kSpan, false);
    highest = sequence;
  }
  while (highest < sequence) seen[++highest % kSpan] = false;
  const bool met = seen[sequence % kSpan];
  seen[sequence % kSpan] = true;
  return met;
}
