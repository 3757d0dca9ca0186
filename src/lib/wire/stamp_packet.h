#ifndef TESK_STAMP_PACKET_H
#define TESK_STAMP_PACKET_H

// STAMP test packets (RFC 8762), with the session identifier and the TLVs
// that RFC 8972 adds after the base: the session-sender's packet and the
// reflector's answer, in unauthenticated mode (a 44-byte base) and in
// authenticated mode (112 bytes, the fields spread apart and an HMAC over
// the first 96). Pure codecs, in network byte order; a decoder takes any
// datagram and says whether it is one. Signing is the caller's (stamp_auth).

#include <cstddef>
#include <cstdint>
#include <string>

#include "time_of_day.h"

constexpr size_t kStampBaseLength = 44;
// TWAMP-Light peers (RFC 5357 section 4.2.1) send and answer shorter
// packets than STAMP's base: a request of 41 bytes is the smallest of the
// same size both ways, and an answer holds every field read here once it
// reaches the sender's time stamp (36 bytes; some answer with 38).
constexpr size_t kStampShortestRequest = 41;
constexpr size_t kStampShortestAnswer = 36;
// A TWAMP session-sender's packet (RFC 5357 section 4.1.2): its sequence
// number, time stamp and error estimate, then padding.
constexpr size_t kTwampShortestRequest = 14;
constexpr size_t kStampAuthLength = 112;
constexpr size_t kStampHmacOffset = 96;  // the HMAC covers the bytes before it
constexpr size_t kStampHmacLength = 16;

enum class StampMode { Unauthenticated, Authenticated };
// The base's length in a mode: where the TLVs start.
inline size_t stampBaseLength(StampMode mode) {
  return mode == StampMode::Authenticated ? kStampAuthLength : kStampBaseLength;
}
constexpr size_t kStampTlvHeaderLength = 4;
constexpr uint8_t kStampTlvExtraPadding = 1;
// RFC 8972 section 4.5: the sender's transmit count, and the reflector's
// receive and transmit counts of the session, filled in by the reflector.
constexpr uint8_t kStampTlvDirectMeasurement = 5;
constexpr size_t kStampDirectMeasurementLength = 12;
// RFC 8972 section 4.4, the class of service each way:
//   DSCP1 (6 bits) | DSCP2 (6) | ECN (2) | RP (2) | reserved (16)
// DSCP1 is the class the sender asks the answer to go with; the reflector
// fills in DSCP2 and ECN as the request arrived, and sets RP to 1 when it
// answered in another class than DSCP1.
constexpr uint8_t kStampTlvClassOfService = 4;
constexpr size_t kStampClassOfServiceLength = 4;
// RFC 8972 section 4.3, how the reflector takes its time stamps:
//   Sync Src In | Timestamp In | Sync Src Out | Timestamp Out  (a byte each)
// for T2 and T3: the clock's source (1 NTP, 2 PTP, 3 SSU/BITS, 4 GNSS,
// 5 free-running) and the way of stamping (1 hardware, 2 software,
// 3 control plane); 0 where not filled in.
constexpr uint8_t kStampTlvTimestampInformation = 3;
constexpr size_t kStampTimestampInformationLength = 4;
// TLV flags (RFC 8972 section 4.1): unrecognized, malformed, integrity failed.
constexpr uint8_t kStampTlvUnrecognized = 0x80;
constexpr uint8_t kStampTlvMalformed = 0x40;

// 64-bit NTP time: seconds since 1900 in the high half, a binary fraction
// of a second in the low half.
uint64_t ntpFromTimeOfDay(const TimeOfDay& t);
TimeOfDay timeOfDayFromNtp(uint64_t ntp);
// NTP time in seconds (since 1900), for differences.
double ntpSeconds(uint64_t ntp);

// The error estimate (RFC 4656 section 4.1.2): S (the clock is synchronised
// to an external source), Z (0: NTP format), scale and multiplier.
struct StampErrorEstimate {
  bool synchronized = false;
  bool ptpFormat = false;
  uint8_t scale = 0;       // 6 bits
  uint8_t multiplier = 1;  // must not be 0
  uint16_t encode() const;
  static StampErrorEstimate decode(uint16_t value);
};

struct StampSenderPacket {
  uint32_t sequence = 0;
  uint64_t timestamp = 0;  // T1, NTP
  StampErrorEstimate errorEstimate;
  uint16_t ssid = 0;
  // Ask for the reflector's counts in a Direct Measurement TLV (when the
  // packet has room for it besides the base): a reflector that fills them
  // in keeps a count per session.
  bool directMeasurement = false;
  uint32_t transmitted = 0;  // the sender's count, this packet included
  // Ask the reflector, in a Class of Service TLV (when there is room), to
  // answer with this DSCP and to say what the request arrived with; -1: no
  // TLV.
  int classOfService = -1;
  // Ask, in a Timestamp Information TLV (when there is room), how the
  // reflector takes T2 and T3.
  bool timestampInformation = false;
  // Whether the room after the base and the TLVs is an Extra Padding TLV
  // (STAMP) or plain zeros (a full TWAMP session's padding).
  bool paddingTlv = true;
};

// A Timestamp Information TLV's fields.
struct StampTimestampInformation {
  uint8_t syncIn = 0, methodIn = 0, syncOut = 0, methodOut = 0;
};
// The TLV's fields in words, as a caller says them ("T2 and T3 taken in
// software, the clock synchronised to NTP"); empty when it was not filled in.
std::string describeStampTimestamps(const StampTimestampInformation& info);

// A Class of Service TLV's fields.
struct StampClassOfService {
  int dscpAsked = 0;     // DSCP1
  int dscpReceived = 0;  // DSCP2
  int ecnReceived = 0;
  bool notHonoured = false;  // RP: the answer went with another class
  bool unrecognized = false;  // flagged U: the reflector does not know the TLV
};

// The reflector's counts of a session, as a Direct Measurement TLV brings
// them back.
struct StampDirectMeasurement {
  uint32_t senderTransmitted = 0;
  uint32_t reflectorReceived = 0;
  uint32_t reflectorTransmitted = 0;
};

struct StampReflectorPacket {
  uint32_t sequence = 0;          // the reflector's own, per session
  uint64_t timestamp = 0;         // T3, NTP
  StampErrorEstimate errorEstimate;
  uint16_t ssid = 0;
  uint64_t receiveTimestamp = 0;  // T2, NTP
  uint32_t senderSequence = 0;
  uint64_t senderTimestamp = 0;   // T1
  StampErrorEstimate senderErrorEstimate;
  uint8_t senderTtl = 255;
  bool senderTtlKnown = false;  // the answer reached that far
};

// The shortest datagram each decoder takes in a mode; the authenticated
// packets have no shorter form.
inline size_t stampShortestRequest(StampMode mode) {
  return mode == StampMode::Authenticated ? kStampAuthLength : kStampShortestRequest;
}
inline size_t stampShortestAnswer(StampMode mode) {
  return mode == StampMode::Authenticated ? kStampAuthLength : kStampShortestAnswer;
}

// A session-sender packet of `length` bytes (at least the base) into `out`:
// the base, a Direct Measurement TLV when asked for and there is room, then,
// when there is room for one, an Extra Padding TLV filling the rest (zeros),
// so that the datagram has the size of the call's packet.
// In authenticated mode the HMAC is left zero.
void encodeStampSender(const StampSenderPacket& packet, size_t length, uint8_t* out,
                       StampMode mode = StampMode::Unauthenticated);
bool decodeStampSender(const uint8_t* data, size_t length, StampSenderPacket* out,
                       StampMode mode = StampMode::Unauthenticated);
// The session identifier of a request or an answer (both keep it in the
// same place in a mode): false when the datagram is too short to hold it.
bool peekStampSsid(const uint8_t* data, size_t length, StampMode mode, uint16_t* ssid);

// The answer's base into `out`, cut to `length` bytes when that is shorter
// (an answer is never longer than its request).
void encodeStampReflectorBase(const StampReflectorPacket& packet, uint8_t* out,
                              StampMode mode = StampMode::Unauthenticated,
                              size_t length = kStampAuthLength);
// Fields past the end of a short answer keep their defaults.
bool decodeStampReflector(const uint8_t* data, size_t length, StampReflectorPacket* out,
                          StampMode mode = StampMode::Unauthenticated);
// The Direct Measurement TLV among a packet's TLVs (after the base of
// `mode`); false when there is none.
bool findStampDirectMeasurement(const uint8_t* packet, size_t length, StampDirectMeasurement* out,
                                StampMode mode = StampMode::Unauthenticated);
// A reflection's Direct Measurement TLV, if its request had one, given the
// session's counts.
void fillStampDirectMeasurement(uint8_t* answer, size_t length, uint32_t received,
                                uint32_t transmitted, StampMode mode = StampMode::Unauthenticated);

// The Class of Service TLV among a packet's TLVs; false when there is none.
bool findStampClassOfService(const uint8_t* packet, size_t length, StampClassOfService* out,
                             StampMode mode = StampMode::Unauthenticated);
// A reflection's Class of Service TLV, if its request had one: DSCP2 and
// ECN from the class byte the request arrived with (`receivedTos`, -1 when
// unknown: left as the request had them), RP from whether the answer goes
// with DSCP1. The class the answer goes with: DSCP1 when the request asked
// for one, else the request's own; -1 when neither is known.
int fillStampClassOfService(uint8_t* answer, size_t length, int receivedTos,
                            StampMode mode = StampMode::Unauthenticated);

// The Timestamp Information TLV among a packet's TLVs; false when there is
// none, or the reflector flagged it unrecognised.
bool findStampTimestampInformation(const uint8_t* packet, size_t length,
                                   StampTimestampInformation* out,
                                   StampMode mode = StampMode::Unauthenticated);
// A reflection's Timestamp Information TLV, if its request had one.
void fillStampTimestampInformation(uint8_t* answer, size_t length,
                                   const StampTimestampInformation& info,
                                   StampMode mode = StampMode::Unauthenticated);

// Where an answer's own time stamp (T3) lies.
inline size_t stampTimestampOffset(StampMode mode) {
  return mode == StampMode::Authenticated ? 16 : 4;
}

// The TLVs after the base of a request, as the reflector returns them
// (RFC 8972 section 4): copied, an unrecognised type flagged U, a TLV that
// runs past the end flagged M (and the rest left as it came). Bytes that
// start with type 0, which no TLV has, are a TWAMP-Light sender's padding
// and come back byte for byte. `out` holds
// `length - kStampBaseLength` bytes; the reflection is never longer than
// the request.
void reflectStampTlvs(const uint8_t* request, size_t length, uint8_t* out,
                      StampMode mode = StampMode::Unauthenticated);

#endif  // TESK_STAMP_PACKET_H
