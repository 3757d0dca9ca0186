#include "twamp_messages.h"

#include <cstring>

#include "big_endian.h"

namespace {

bool isCommand(const uint8_t* data, size_t length, size_t messageLength, uint8_t command) {
  return data != nullptr && length >= messageLength && data[0] == command;
}

}  // namespace

std::string twampAcceptText(uint8_t accept) {
  switch (accept) {
    case kTwampAcceptOk:
      return "OK";
    case kTwampAcceptFailure:
      return "failure, reason unspecified";
    case kTwampAcceptInternalError:
      return "internal error";
    case kTwampAcceptNotSupported:
      return "some aspect of the request is not supported";
    case kTwampAcceptPermanentLimit:
      return "cannot perform the request due to permanent resource limitations";
    case kTwampAcceptTemporaryLimit:
      return "cannot perform the request due to temporary resource limitations";
    default:
      return "unknown accept code " + std::to_string(accept);
  }
}

uint32_t typePOfDscp(uint8_t dscp) { return uint32_t{dscp & 0x3Fu} << 24; }

int dscpOfTypeP(uint32_t typeP) {
  if ((typeP >> 30) != 0) return -1;
  return static_cast<int>(typeP >> 24 & 0x3F);
}

void encodeTwampGreeting(const TwampServerGreeting& message, uint8_t* out) {
  std::memset(out, 0, kTwampGreetingLength);
  put32(out + 12, message.modes);
  std::memcpy(out + 16, message.challenge, 16);
  std::memcpy(out + 32, message.salt, 16);
  put32(out + 48, message.count);
}

bool decodeTwampGreeting(const uint8_t* data, size_t length, TwampServerGreeting* out) {
  if (data == nullptr || length < kTwampGreetingLength) return false;
  out->modes = get32(data + 12);
  std::memcpy(out->challenge, data + 16, 16);
  std::memcpy(out->salt, data + 32, 16);
  out->count = get32(data + 48);
  return true;
}

void encodeTwampSetUpResponse(const TwampSetUpResponse& message, uint8_t* out) {
  std::memset(out, 0, kTwampSetUpResponseLength);
  put32(out, message.mode);
}

bool decodeTwampSetUpResponse(const uint8_t* data, size_t length, TwampSetUpResponse* out) {
  if (data == nullptr || length < kTwampSetUpResponseLength) return false;
  out->mode = get32(data);
  return true;
}

void encodeTwampServerStart(const TwampServerStart& message, uint8_t* out) {
  std::memset(out, 0, kTwampServerStartLength);
  out[15] = message.accept;
  put64(out + 32, message.startTime);
}

bool decodeTwampServerStart(const uint8_t* data, size_t length, TwampServerStart* out) {
  if (data == nullptr || length < kTwampServerStartLength) return false;
  out->accept = data[15];
  out->startTime = get64(data + 32);
  return true;
}

void encodeTwampRequestSession(const TwampRequestSession& message, uint8_t* out) {
  std::memset(out, 0, kTwampRequestSessionLength);
  out[0] = kTwampCommandRequestSession;
  out[1] = message.ipVersion & 0x0F;
  out[2] = message.confSender;
  out[3] = message.confReceiver;
  put32(out + 4, message.scheduleSlots);
  put32(out + 8, message.packets);
  put16(out + 12, message.senderPort);
  put16(out + 14, message.receiverPort);
  std::memcpy(out + 16, message.senderAddress, 16);
  std::memcpy(out + 32, message.receiverAddress, 16);
  std::memcpy(out + 48, message.sid, 16);
  put32(out + 64, message.padding);
  put64(out + 68, message.startTime);
  put64(out + 76, message.timeout);
  put32(out + 84, message.typeP);
}

bool decodeTwampRequestSession(const uint8_t* data, size_t length, TwampRequestSession* out) {
  if (!isCommand(data, length, kTwampRequestSessionLength, kTwampCommandRequestSession)) {
    return false;
  }
  out->ipVersion = data[1] & 0x0F;  // the high four bits are MBZ, and ignored
  out->confSender = data[2];
  out->confReceiver = data[3];
  out->scheduleSlots = get32(data + 4);
  out->packets = get32(data + 8);
  out->senderPort = get16(data + 12);
  out->receiverPort = get16(data + 14);
  std::memcpy(out->senderAddress, data + 16, 16);
  std::memcpy(out->receiverAddress, data + 32, 16);
  std::memcpy(out->sid, data + 48, 16);
  out->padding = get32(data + 64);
  out->startTime = get64(data + 68);
  out->timeout = get64(data + 76);
  out->typeP = get32(data + 84);
  return true;
}

void encodeTwampAcceptSession(const TwampAcceptSession& message, uint8_t* out) {
  std::memset(out, 0, kTwampAcceptSessionLength);
  out[0] = message.accept;
  put16(out + 2, message.port);
  std::memcpy(out + 4, message.sid, 16);
}

bool decodeTwampAcceptSession(const uint8_t* data, size_t length, TwampAcceptSession* out) {
  if (data == nullptr || length < kTwampAcceptSessionLength) return false;
  out->accept = data[0];
  out->port = get16(data + 2);
  std::memcpy(out->sid, data + 4, 16);
  return true;
}

void encodeTwampStartSessions(uint8_t* out) {
  std::memset(out, 0, kTwampStartSessionsLength);
  out[0] = kTwampCommandStartSessions;
}

bool decodeTwampStartSessions(const uint8_t* data, size_t length) {
  return isCommand(data, length, kTwampStartSessionsLength, kTwampCommandStartSessions);
}

void encodeTwampStartAck(uint8_t accept, uint8_t* out) {
  std::memset(out, 0, kTwampStartAckLength);
  out[0] = accept;
}

bool decodeTwampStartAck(const uint8_t* data, size_t length, uint8_t* accept) {
  if (data == nullptr || length < kTwampStartAckLength) return false;
  *accept = data[0];
  return true;
}

void encodeTwampStopSessions(const TwampStopSessions& message, uint8_t* out) {
  std::memset(out, 0, kTwampStopSessionsLength);
  out[0] = kTwampCommandStopSessions;
  out[1] = message.accept;
  put32(out + 4, message.sessions);
}

bool decodeTwampStopSessions(const uint8_t* data, size_t length, TwampStopSessions* out) {
  if (!isCommand(data, length, kTwampStopSessionsLength, kTwampCommandStopSessions)) return false;
  out->accept = data[1];
  out->sessions = get32(data + 4);
  return true;
}
