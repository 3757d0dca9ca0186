#ifndef TESK_SIP_MEDIA_H
#define TESK_SIP_MEDIA_H

// What the calls' signalling says about their media: every address and port
// that an offer or an answer announced for receiving audio, with the call,
// the party that receives there and what its payload types mean. A capture
// reads it from the SIP it holds, so that an RTP stream sent there is tied
// to its call and its dynamic payload types get their codec.

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sdp.h"
#include "sip_message.h"
#include "tesk_analyze.h"

struct AnnouncedMedia {
  std::string callId;
  std::string party;  // the user part of who receives there ("alice")
  SdpAudio audio;     // its payload types and packet time
};

class SipMediaTable {
 public:
  // At most this many endpoints and calls are remembered; the oldest makes
  // room for a new one.
  static constexpr size_t kMaxEndpoints = 65536;
  static constexpr size_t kMaxCalls = 65536;

  // Takes a message read at `time` (seconds): the call's progress, and the
  // session description it carries, if any: a request's for its sender
  // (From), a response's for its responder (To).
  void learn(double time, const SipMessage& message);

  // What was announced for `address` (16 bytes, IPv4 mapped into IPv6) and
  // `port`; nullptr when nothing was.
  const AnnouncedMedia* find(const uint8_t address[16], uint16_t port) const;

  size_t size() const { return media.size(); }

  // The calls whose INVITE was seen, in that order.
  const std::deque<TeskSipCall>& calls() const { return callList; }

 private:
  void follow(double time, const SipMessage& message);

  using Endpoint = std::pair<std::string, uint16_t>;  // 16 address bytes, port
  std::map<Endpoint, AnnouncedMedia> media;
  std::deque<Endpoint> order;  // oldest first, for making room
  std::deque<TeskSipCall> callList;
  std::map<std::string, size_t> callIndex;  // Call-ID to its place in callList, less `dropped`
  size_t dropped = 0;                       // calls forgotten from the front
};

// What an SDP encoding name ("PCMA", "G722", "telephone-event", ...) means
// for the meters: the trained model's codec number (0 G711, 1 GSM0610; -1
// where it knows none) and the E-model's codec (-1 where it knows none), or
// that the type carries no voice (telephone events, comfort noise).
struct EncodingCodec {
  int modelCodec = -1;
  int voiceCodec = -1;  // a VoiceCodec
  bool noVoice = false;
};
EncodingCodec codecOfEncoding(const std::string& encoding);

#endif  // TESK_SIP_MEDIA_H
