#ifndef TESK_SDP_H
#define TESK_SDP_H

// The audio of a session description (RFC 8866) as an offer or an answer
// states it: where each audio stream is to be received and what its payload
// types mean. Only c=, m=audio, a=rtpmap and a=ptime are read; any other
// line is skipped, and so is a line that cannot be read.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SdpPayloadType {
  int number = -1;
  std::string encoding;   // as written ("PCMU", "telephone-event", "G722", ...)
  uint32_t clockRate = 0;  // 0 when no rtpmap says it
};

struct SdpAudio {
  std::string address;  // the connection address (media level, else session level)
  uint16_t port = 0;    // 0: the stream is disabled
  std::vector<SdpPayloadType> payloadTypes;  // in the m= line's order, at most 32
  int ptimeMs = 0;                           // 0 when not given
};

struct SdpDescription {
  std::vector<SdpAudio> audio;  // at most 8
};

// False when the text holds no audio stream with a port and an address.
bool parseSdp(std::string_view text, SdpDescription* out);

// The payload type `number` of `audio`, or nullptr.
const SdpPayloadType* findPayloadType(const SdpAudio& audio, int number);

#endif  // TESK_SDP_H
