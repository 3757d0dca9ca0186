#ifndef TESK_TWAMP_MESSAGES_H
#define TESK_TWAMP_MESSAGES_H

// The messages of TWAMP-Control (RFC 5357, built on OWAMP-Control of RFC
// 4656) that an unauthenticated server and client exchange over TCP. Pure
// codecs, in network byte order: an encoder writes exactly its message's
// length into `out`; a decoder takes any bytes, returns false when they are
// shorter than the message (or, for a command, carry another command
// number) and reads nothing past the message. Fields that only the
// authenticated and encrypted modes read (keys, tokens, IVs, HMACs) are
// written as zeros and not decoded.

#include <cstddef>
#include <cstdint>
#include <string>

// Server Greeting, server to client, 64 bytes:
//   0 Unused (12)  12 Modes (4)  16 Challenge (16)  32 Salt (16)
//  48 Count (4)    52 MBZ (12)
constexpr size_t kTwampGreetingLength = 64;
// Set-Up-Response, client to server, 164 bytes:
//   0 Mode (4)  4 KeyID (80)  84 Token (64)  148 Client-IV (16)
constexpr size_t kTwampSetUpResponseLength = 164;
// Server-Start, 48 bytes:
//   0 MBZ (15)  15 Accept (1)  16 Server-IV (16)  32 Start-Time (8)  40 MBZ (8)
constexpr size_t kTwampServerStartLength = 48;
// Request-TW-Session, 112 bytes:
//   0 Command 5 (1)  1 MBZ (4 bits) | IPVN (4 bits)  2 Conf-Sender (1)
//   3 Conf-Receiver (1)  4 Number of Schedule Slots (4)  8 Number of Packets (4)
//  12 Sender Port (2)  14 Receiver Port (2)  16 Sender Address (16)
//  32 Receiver Address (16)  48 SID (16)  64 Padding Length (4)
//  68 Start Time (8)  76 Timeout (8)  84 Type-P Descriptor (4)  88 MBZ (8)
//  96 HMAC (16)
// An IPv4 address takes the first 4 bytes of its 16; the rest are zero.
constexpr size_t kTwampRequestSessionLength = 112;
// Accept-Session, 48 bytes:
//   0 Accept (1)  1 MBZ (1)  2 Port (2)  4 SID (16)  20 MBZ (12)  32 HMAC (16)
constexpr size_t kTwampAcceptSessionLength = 48;
// Start-Sessions, 32 bytes: 0 Command 2 (1)  1 MBZ (15)  16 HMAC (16)
constexpr size_t kTwampStartSessionsLength = 32;
// Start-Ack, 32 bytes: 0 Accept (1)  1 MBZ (15)  16 HMAC (16)
constexpr size_t kTwampStartAckLength = 32;
// Stop-Sessions, 32 bytes:
//   0 Command 3 (1)  1 Accept (1)  2 MBZ (2)  4 Number of Sessions (4)
//   8 MBZ (8)  16 HMAC (16)
constexpr size_t kTwampStopSessionsLength = 32;
// The longest message either side buffers.
constexpr size_t kTwampLongestMessage = kTwampSetUpResponseLength;

// The Modes bits of a greeting; a Set-Up-Response names one of them, or 0
// when the client gives up.
constexpr uint32_t kTwampModeUnauthenticated = 1;
constexpr uint32_t kTwampModeAuthenticated = 2;
constexpr uint32_t kTwampModeEncrypted = 4;

// The first byte of a command from the client.
constexpr uint8_t kTwampCommandStartSessions = 2;
constexpr uint8_t kTwampCommandStopSessions = 3;
constexpr uint8_t kTwampCommandRequestSession = 5;

// Accept codes (RFC 4656 section 3.3).
constexpr uint8_t kTwampAcceptOk = 0;
constexpr uint8_t kTwampAcceptFailure = 1;
constexpr uint8_t kTwampAcceptInternalError = 2;
constexpr uint8_t kTwampAcceptNotSupported = 3;
constexpr uint8_t kTwampAcceptPermanentLimit = 4;
constexpr uint8_t kTwampAcceptTemporaryLimit = 5;

// An accept code in words: "OK", "internal error", ..., and "unknown accept
// code 9" for a code no RFC defines.
std::string twampAcceptText(uint8_t accept);

// A Type-P Descriptor that asks for DSCP `dscp` (0 to 63; higher bits are
// dropped): 00 in the top two bits, the DSCP in the next six.
uint32_t typePOfDscp(uint8_t dscp);
// The DSCP a Type-P Descriptor asks for, or -1 when its top two bits are
// not 00 (a PHB ID or a form this code does not read).
int dscpOfTypeP(uint32_t typeP);

struct TwampServerGreeting {
  uint32_t modes = kTwampModeUnauthenticated;
  // Only the authenticated and encrypted modes use them.
  uint8_t challenge[16] = {};
  uint8_t salt[16] = {};
  uint32_t count = 1024;  // key derivation iterations, a power of 2 from 1024
};

struct TwampSetUpResponse {
  uint32_t mode = kTwampModeUnauthenticated;
};

struct TwampServerStart {
  uint8_t accept = kTwampAcceptOk;
  uint64_t startTime = 0;  // NTP: when the server started serving
};

struct TwampRequestSession {
  uint8_t ipVersion = 4;  // IPVN: 4 or 6
  uint8_t confSender = 0;
  uint8_t confReceiver = 0;
  uint32_t scheduleSlots = 0;
  uint32_t packets = 0;
  uint16_t senderPort = 0;
  uint16_t receiverPort = 0;
  uint8_t senderAddress[16] = {};    // IPv4: the first 4 bytes
  uint8_t receiverAddress[16] = {};
  uint8_t sid[16] = {};
  uint32_t padding = 0;    // bytes after the test packet's fields
  uint64_t startTime = 0;  // NTP
  uint64_t timeout = 0;    // NTP format: seconds in the high 32 bits
  uint32_t typeP = 0;
};

struct TwampAcceptSession {
  uint8_t accept = kTwampAcceptOk;
  uint16_t port = 0;  // where the reflector takes the test packets
  uint8_t sid[16] = {};
};

struct TwampStopSessions {
  uint8_t accept = kTwampAcceptOk;
  uint32_t sessions = 0;
};

void encodeTwampGreeting(const TwampServerGreeting& message, uint8_t* out);
bool decodeTwampGreeting(const uint8_t* data, size_t length, TwampServerGreeting* out);

void encodeTwampSetUpResponse(const TwampSetUpResponse& message, uint8_t* out);
bool decodeTwampSetUpResponse(const uint8_t* data, size_t length, TwampSetUpResponse* out);

void encodeTwampServerStart(const TwampServerStart& message, uint8_t* out);
bool decodeTwampServerStart(const uint8_t* data, size_t length, TwampServerStart* out);

void encodeTwampRequestSession(const TwampRequestSession& message, uint8_t* out);
bool decodeTwampRequestSession(const uint8_t* data, size_t length, TwampRequestSession* out);

void encodeTwampAcceptSession(const TwampAcceptSession& message, uint8_t* out);
bool decodeTwampAcceptSession(const uint8_t* data, size_t length, TwampAcceptSession* out);

// Start-Sessions carries nothing but its command number.
void encodeTwampStartSessions(uint8_t* out);
bool decodeTwampStartSessions(const uint8_t* data, size_t length);

void encodeTwampStartAck(uint8_t accept, uint8_t* out);
bool decodeTwampStartAck(const uint8_t* data, size_t length, uint8_t* accept);

void encodeTwampStopSessions(const TwampStopSessions& message, uint8_t* out);
bool decodeTwampStopSessions(const uint8_t* data, size_t length, TwampStopSessions* out);

#endif  // TESK_TWAMP_MESSAGES_H
