#include "impairment.h"

#include <algorithm>

#include "packet.h"
#include "rtp_stream.h"
#include "stamp_packet.h"

const char* RelayActionName(RelayAction action) {
  switch (action) {
    case RelayAction::Drop: return "drop";
    case RelayAction::Forward: return "forward";
    case RelayAction::Truncate: return "truncate";
    case RelayAction::Duplicate: return "duplicate";
    case RelayAction::Swap: return "swap";
    case RelayAction::Reorder: return "reorder";
  }
  return "?";
}

Impairment::Impairment(const ImpairmentSettings& settings) : s(settings), random(settings.seed) {}

bool Impairment::Lose(uint32_t sequence) {
  bool lost = false;
  if (s.dropEvery != 0 && sequence % s.dropEvery >= s.dropEvery - std::min(s.dropRun, s.dropEvery)) {
    lost = true;
  }
  if (std::find(s.dropSequences.begin(), s.dropSequences.end(), sequence) != s.dropSequences.end()) {
    lost = true;
  }
  // The random draws are made for every packet, so one impairment does not
  // shift the random sequence of another.
  const bool lossDraw = uniform(random) < s.lossProbability;
  if (lossDraw && sequence >= s.lossFrom && sequence <= s.lossTo) lost = true;
  if (s.gilbertElliott) {
    const double change = uniform(random);
    geBad = geBad ? change >= s.geBadToGood : change < s.geGoodToBad;
    if (uniform(random) < (geBad ? s.geLossBad : s.geLossGood)) lost = true;
  }
  return lost;
}

int64_t Impairment::Delay(uint32_t sequence) {
  int64_t delay = s.delayMicros;
  if (!s.alternatingMicros.empty()) delay += s.alternatingMicros[sequence % s.alternatingMicros.size()];
  if (s.stepMicros != 0 && sequence >= s.stepFromSequence) delay += s.stepMicros;
  if (s.jitterMicros > 0) {
    std::uniform_int_distribution<int64_t> jitter(-s.jitterMicros, s.jitterMicros);
    const int64_t draw = jitter(random);
    if (sequence >= s.jitterFrom && sequence <= s.jitterTo) delay += draw;
  }
  return std::max<int64_t>(delay, 0);
}

Decision Impairment::Decide(const uint8_t* data, size_t length, int64_t arrivalMicros) {
  Decision d;
  Payload payload;
  // A pulvo packet starts with 'q', which is RTP version 1: the two never
  // mix up.
  if (s.stamp && length >= kStampBaseLength) {
    d.sequence = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) |
                 data[3];
    d.dataPacket = true;
  } else if (RtpHeader rtp; s.rtp && parseRtpHeader(data, length, &rtp)) {
    d.sequence = rtp.sequence;
    d.dataPacket = true;
  } else if (decodePacket(data, length, payload)) {
    d.sequence = payload.seqNum;
    d.endOfStream = payload.isEndOfStream();
    d.dataPacket = !d.endOfStream;
  }
  const bool impair = d.dataPacket || (s.impairAll && length >= s.impairMinLength);
  const uint32_t sequence = d.sequence >= 0 ? static_cast<uint32_t>(d.sequence) : 0;

  if (!impair) {
    // Untouched datagrams keep their place behind what is already queued.
    lastDeparture = std::max(lastDeparture, arrivalMicros);
    d.departures.push_back({lastDeparture, length, RelayAction::Forward});
    return d;
  }
  if (Lose(sequence)) {
    d.dropped = true;
    return d;
  }
  const size_t outLength =
      s.truncateLength >= 0 ? std::min(length, static_cast<size_t>(s.truncateLength)) : length;
  const RelayAction action = outLength < length ? RelayAction::Truncate : RelayAction::Forward;

  if (s.swapEvery != 0 && sequence % s.swapEvery == s.swapOffset && !held) {
    // Held until the next packet has gone, or 100 ms at most.
    held = true;
    heldLength = outLength;
    heldDeadline = arrivalMicros + 100000;
    d.held = true;
    return d;
  }

  int64_t departure = arrivalMicros + Delay(sequence);
  RelayAction how = action;
  if (s.reorderProbability > 0.0 && uniform(random) < s.reorderProbability) {
    departure += s.reorderHoldMicros;
    how = RelayAction::Reorder;
  } else if (!s.allowReorder) {
    departure = std::max(departure, lastDeparture);
  }
  if (how != RelayAction::Reorder) lastDeparture = std::max(lastDeparture, departure);
  d.departures.push_back({departure, outLength, how});
  if (held) {
    held = false;
    d.departures.push_back({departure, heldLength, RelayAction::Swap});
  }
  if (s.duplicateProbability > 0.0 && uniform(random) < s.duplicateProbability) {
    d.departures.push_back({departure, outLength, RelayAction::Duplicate});
  }
  return d;
}

bool Impairment::ReleaseHeld(int64_t nowMicros, Departure* departure) {
  if (!held) return false;
  held = false;
  *departure = {nowMicros, heldLength, RelayAction::Swap};
  return true;
}
