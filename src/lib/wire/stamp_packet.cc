#include "stamp_packet.h"

#include <cstring>

#include "big_endian.h"

namespace {

// Seconds from 1900 (NTP's era 0) to 1970 (the Unix epoch).
constexpr uint64_t kNtpUnixOffset = 2208988800ull;

// Where each field lies in a mode.
struct SenderLayout {
  size_t timestamp, errorEstimate, ssid;
};
struct ReflectorLayout {
  size_t timestamp, errorEstimate, ssid, receiveTimestamp, senderSequence, senderTimestamp,
      senderErrorEstimate, senderTtl;
};
constexpr SenderLayout kSender[] = {{4, 12, 14}, {16, 24, 26}};
constexpr ReflectorLayout kReflector[] = {{4, 12, 14, 16, 24, 28, 36, 40},
                                          {16, 24, 26, 32, 48, 64, 72, 80}};
size_t modeIndex(StampMode mode) { return mode == StampMode::Authenticated ? 1 : 0; }

}  // namespace

uint64_t ntpFromTimeOfDay(const TimeOfDay& t) {
  const uint64_t seconds = static_cast<uint64_t>(t.sec) + kNtpUnixOffset;
  const uint64_t fraction = (static_cast<uint64_t>(t.usec) << 32) / 1000000u;
  return (seconds << 32) | (fraction & 0xFFFFFFFFu);
}

TimeOfDay timeOfDayFromNtp(uint64_t ntp) {
  TimeOfDay t;
  t.sec = static_cast<int64_t>(ntp >> 32) - static_cast<int64_t>(kNtpUnixOffset);
  t.usec = static_cast<int64_t>(((ntp & 0xFFFFFFFFu) * 1000000u + (1ull << 31)) >> 32);
  if (t.usec >= 1000000) {
    t.usec -= 1000000;
    t.sec++;
  }
  return t;
}

double ntpSeconds(uint64_t ntp) {
  return static_cast<double>(ntp >> 32) + static_cast<double>(ntp & 0xFFFFFFFFu) / 4294967296.0;
}

uint16_t StampErrorEstimate::encode() const {
  return static_cast<uint16_t>((synchronized ? 0x8000 : 0) | (ptpFormat ? 0x4000 : 0) |
                               (scale & 0x3F) << 8 | multiplier);
}

StampErrorEstimate StampErrorEstimate::decode(uint16_t value) {
  StampErrorEstimate e;
  e.synchronized = (value & 0x8000) != 0;
  e.ptpFormat = (value & 0x4000) != 0;
  e.scale = static_cast<uint8_t>(value >> 8 & 0x3F);
  e.multiplier = static_cast<uint8_t>(value);
  return e;
}

void encodeStampSender(const StampSenderPacket& packet, size_t length, uint8_t* out,
                       StampMode mode) {
  const SenderLayout& at = kSender[modeIndex(mode)];
  const size_t base = stampBaseLength(mode);
  std::memset(out, 0, length);
  put32(out, packet.sequence);
  put64(out + at.timestamp, packet.timestamp);
  put16(out + at.errorEstimate, packet.errorEstimate.encode());
  put16(out + at.ssid, packet.ssid);
  size_t next = base;
  constexpr size_t kMeasurement = kStampTlvHeaderLength + kStampDirectMeasurementLength;
  if (packet.directMeasurement && length >= base + kMeasurement) {
    uint8_t* tlv = out + next;
    tlv[1] = kStampTlvDirectMeasurement;
    put16(tlv + 2, kStampDirectMeasurementLength);
    put32(tlv + 4, packet.transmitted);
    next += kMeasurement;
  }
  constexpr size_t kClass = kStampTlvHeaderLength + kStampClassOfServiceLength;
  if (packet.classOfService >= 0 && length >= next + kClass) {
    uint8_t* tlv = out + next;
    tlv[1] = kStampTlvClassOfService;
    put16(tlv + 2, kStampClassOfServiceLength);
    tlv[4] = static_cast<uint8_t>((packet.classOfService & 0x3F) << 2);
    next += kClass;
  }
  constexpr size_t kTimestamps = kStampTlvHeaderLength + kStampTimestampInformationLength;
  if (packet.timestampInformation && length >= next + kTimestamps) {
    uint8_t* tlv = out + next;
    tlv[1] = kStampTlvTimestampInformation;
    put16(tlv + 2, kStampTimestampInformationLength);
    next += kTimestamps;
  }
  if (packet.paddingTlv && length >= next + kStampTlvHeaderLength) {
    uint8_t* tlv = out + next;
    tlv[1] = kStampTlvExtraPadding;
    put16(tlv + 2, static_cast<uint16_t>(length - next - kStampTlvHeaderLength));
  }
}

namespace {

// The value of the first TLV of `type` and `valueLength` bytes among a
// packet's well-formed TLVs, or null.
const uint8_t* tlvValue(const uint8_t* packet, size_t length, StampMode mode, uint8_t type,
                        size_t valueLength) {
  size_t at = stampBaseLength(mode);
  while (at + kStampTlvHeaderLength <= length) {
    const size_t thisLength = get16(packet + at + 2);
    if (at + kStampTlvHeaderLength + thisLength > length) return nullptr;
    if (packet[at + 1] == 0) return nullptr;  // padding, not TLVs
    if (packet[at + 1] == type && thisLength == valueLength) {
      return packet + at + kStampTlvHeaderLength;
    }
    at += kStampTlvHeaderLength + thisLength;
  }
  return nullptr;
}

const uint8_t* directMeasurementValue(const uint8_t* packet, size_t length, StampMode mode) {
  return tlvValue(packet, length, mode, kStampTlvDirectMeasurement, kStampDirectMeasurementLength);
}

}  // namespace

bool findStampDirectMeasurement(const uint8_t* packet, size_t length, StampDirectMeasurement* out,
                                StampMode mode) {
  const uint8_t* value = directMeasurementValue(packet, length, mode);
  if (value == nullptr) return false;
  out->senderTransmitted = get32(value);
  out->reflectorReceived = get32(value + 4);
  out->reflectorTransmitted = get32(value + 8);
  return true;
}

void fillStampDirectMeasurement(uint8_t* answer, size_t length, uint32_t received,
                                uint32_t transmitted, StampMode mode) {
  uint8_t* value = const_cast<uint8_t*>(directMeasurementValue(answer, length, mode));
  if (value == nullptr) return;
  put32(value + 4, received);
  put32(value + 8, transmitted);
}

bool findStampClassOfService(const uint8_t* packet, size_t length, StampClassOfService* out,
                             StampMode mode) {
  const uint8_t* value =
      tlvValue(packet, length, mode, kStampTlvClassOfService, kStampClassOfServiceLength);
  if (value == nullptr) return false;
  out->dscpAsked = value[0] >> 2;
  out->dscpReceived = (value[0] & 0x3) << 4 | value[1] >> 4;
  out->ecnReceived = value[1] >> 2 & 0x3;
  out->notHonoured = (value[1] & 0x3) != 0;
  out->unrecognized = (*(value - kStampTlvHeaderLength) & kStampTlvUnrecognized) != 0;
  return true;
}

int fillStampClassOfService(uint8_t* answer, size_t length, int receivedTos, StampMode mode) {
  uint8_t* value = const_cast<uint8_t*>(
      tlvValue(answer, length, mode, kStampTlvClassOfService, kStampClassOfServiceLength));
  const int received = receivedTos < 0 ? -1 : receivedTos >> 2;
  if (value == nullptr) return received;
  if (receivedTos >= 0) {
    value[0] = static_cast<uint8_t>((value[0] & 0xFC) | (received >> 4));
    value[1] = static_cast<uint8_t>((received & 0xF) << 4 | (receivedTos & 0x3) << 2);
  }
  // The class asked for is always one this reflector may answer with.
  value[1] &= 0xFC;
  return value[0] >> 2;
}

bool findStampTimestampInformation(const uint8_t* packet, size_t length,
                                   StampTimestampInformation* out, StampMode mode) {
  const uint8_t* value = tlvValue(packet, length, mode, kStampTlvTimestampInformation,
                                  kStampTimestampInformationLength);
  if (value == nullptr || (*(value - kStampTlvHeaderLength) & kStampTlvUnrecognized) != 0) {
    return false;
  }
  *out = StampTimestampInformation{value[0], value[1], value[2], value[3]};
  return true;
}

void fillStampTimestampInformation(uint8_t* answer, size_t length,
                                   const StampTimestampInformation& info, StampMode mode) {
  uint8_t* value = const_cast<uint8_t*>(tlvValue(answer, length, mode, kStampTlvTimestampInformation,
                                                 kStampTimestampInformationLength));
  if (value == nullptr) return;
  value[0] = info.syncIn;
  value[1] = info.methodIn;
  value[2] = info.syncOut;
  value[3] = info.methodOut;
}

std::string describeStampTimestamps(const StampTimestampInformation& info) {
  static const char* const kSources[] = {nullptr, "NTP", "PTP", "SSU/BITS", "GNSS", nullptr};
  static const char* const kMethods[] = {nullptr, "in hardware", "in software",
                                         "in the control plane"};
  const auto method = [](uint8_t m) { return m < 4 ? kMethods[m] : nullptr; };
  const auto clock = [](uint8_t s) -> std::string {
    if (s == 5) return "its clock free-running";
    if (s == 0 || s > 5) return "";
    return std::string("its clock synchronised to ") + kSources[s];
  };
  std::string words;
  if (method(info.methodIn) != nullptr && info.methodIn == info.methodOut) {
    words = std::string("T2 and T3 taken ") + method(info.methodIn);
  } else {
    if (method(info.methodIn) != nullptr) words = std::string("T2 taken ") + method(info.methodIn);
    if (method(info.methodOut) != nullptr) {
      words += std::string(words.empty() ? "" : ", ") + "T3 taken " + method(info.methodOut);
    }
  }
  const std::string source = clock(info.syncIn);
  if (!source.empty()) words += (words.empty() ? "" : ", ") + source;
  return words;
}

bool peekStampSsid(const uint8_t* data, size_t length, StampMode mode, uint16_t* ssid) {
  const size_t at = kSender[modeIndex(mode)].ssid;
  static_assert(kSender[0].ssid == kReflector[0].ssid && kSender[1].ssid == kReflector[1].ssid,
                "requests and answers keep the session identifier in one place");
  if (length < at + 2) return false;
  *ssid = get16(data + at);
  return true;
}

bool decodeStampSender(const uint8_t* data, size_t length, StampSenderPacket* out,
                       StampMode mode) {
  if (data == nullptr || length < stampShortestRequest(mode)) return false;
  const SenderLayout& at = kSender[modeIndex(mode)];
  out->sequence = get32(data);
  out->timestamp = get64(data + at.timestamp);
  out->errorEstimate = StampErrorEstimate::decode(get16(data + at.errorEstimate));
  out->ssid = get16(data + at.ssid);
  return true;
}

void encodeStampReflectorBase(const StampReflectorPacket& packet, uint8_t* answer, StampMode mode,
                              size_t length) {
  const ReflectorLayout& at = kReflector[modeIndex(mode)];
  uint8_t whole[kStampAuthLength];
  uint8_t* out = length < stampBaseLength(mode) ? whole : answer;
  std::memset(out, 0, stampBaseLength(mode));
  put32(out, packet.sequence);
  put64(out + at.timestamp, packet.timestamp);
  put16(out + at.errorEstimate, packet.errorEstimate.encode());
  put16(out + at.ssid, packet.ssid);
  put64(out + at.receiveTimestamp, packet.receiveTimestamp);
  put32(out + at.senderSequence, packet.senderSequence);
  put64(out + at.senderTimestamp, packet.senderTimestamp);
  put16(out + at.senderErrorEstimate, packet.senderErrorEstimate.encode());
  out[at.senderTtl] = packet.senderTtl;
  if (out == whole) std::memcpy(answer, whole, length);
}

bool decodeStampReflector(const uint8_t* data, size_t length, StampReflectorPacket* out,
                          StampMode mode) {
  if (data == nullptr || length < stampShortestAnswer(mode)) return false;
  const ReflectorLayout& at = kReflector[modeIndex(mode)];
  out->sequence = get32(data);
  out->timestamp = get64(data + at.timestamp);
  out->errorEstimate = StampErrorEstimate::decode(get16(data + at.errorEstimate));
  out->ssid = get16(data + at.ssid);
  out->receiveTimestamp = get64(data + at.receiveTimestamp);
  out->senderSequence = get32(data + at.senderSequence);
  out->senderTimestamp = get64(data + at.senderTimestamp);
  if (length >= at.senderErrorEstimate + 2) {
    out->senderErrorEstimate = StampErrorEstimate::decode(get16(data + at.senderErrorEstimate));
  }
  out->senderTtlKnown = length > at.senderTtl;
  if (out->senderTtlKnown) out->senderTtl = data[at.senderTtl];
  return true;
}

void reflectStampTlvs(const uint8_t* request, size_t length, uint8_t* out, StampMode mode) {
  const size_t base = stampBaseLength(mode);
  if (length <= base) return;
  const size_t tlvBytes = length - base;
  std::memcpy(out, request + base, tlvBytes);
  if (tlvBytes < kStampTlvHeaderLength || out[1] == 0) return;  // padding, not TLVs
  size_t at = 0;
  while (at + kStampTlvHeaderLength <= tlvBytes) {
    const size_t valueLength = get16(out + at + 2);
    if (at + kStampTlvHeaderLength + valueLength > tlvBytes) {
      out[at] |= kStampTlvMalformed;
      return;
    }
    if (out[at + 1] != kStampTlvExtraPadding && out[at + 1] != kStampTlvDirectMeasurement &&
        out[at + 1] != kStampTlvClassOfService && out[at + 1] != kStampTlvTimestampInformation) {
      out[at] |= kStampTlvUnrecognized;
    }
    at += kStampTlvHeaderLength + valueLength;
  }
}
