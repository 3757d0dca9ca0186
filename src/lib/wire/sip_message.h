#ifndef TESK_SIP_MESSAGE_H
#define TESK_SIP_MESSAGE_H

// What a passive reader needs of a SIP message (RFC 3261) to tie RTP
// streams to calls: the start line, the dialog's identifiers, the parties
// and the body. Everything else is skipped. The reader never trusts the
// wire: a message is bounded in size and in headers, NUL bytes and bare
// control characters make it malformed, and the body is never read past the
// bytes at hand.

#include <cstddef>
#include <cstdint>
#include <string>

struct SipMessage {
  bool request = false;
  std::string method;  // of a request: "INVITE", "BYE", ...
  int status = 0;      // of a response: 100 to 699
  std::string callId;
  uint32_t cseq = 0;
  std::string cseqMethod;  // the method a response answers
  // The user parts of From and To ("alice" of "<sip:alice@example.com>"),
  // and their tags (empty when absent).
  std::string fromUser, toUser, fromTag, toTag;
  std::string contentType;  // lower case, parameters left out
  std::string body;
};

enum class SipParse {
  Ok,
  NotSip,     // neither a request line nor a status line
  Malformed,  // a SIP start line with headers that cannot be read
  Truncated,  // the body is longer than the bytes at hand
};

// The longest message read; longer ones are malformed (RFC 3261 asks UDP
// senders to stay under the path MTU, and no real INVITE comes near this).
constexpr size_t kSipMaxMessage = 65535;
constexpr int kSipMaxHeaders = 200;

// Reads one message from the start of `data`. `used` (when given) is set to
// the bytes the message took, so that a TCP segment holding two messages
// can be read on. Without a Content-Length the body is the rest of the
// bytes (as over UDP).
SipParse parseSipMessage(const uint8_t* data, size_t length, SipMessage* out,
                         size_t* used = nullptr);

#endif  // TESK_SIP_MESSAGE_H
