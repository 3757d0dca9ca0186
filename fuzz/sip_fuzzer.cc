// SIP messages and their session descriptions as they come off a link: any
// bytes, as one UDP datagram or a TCP segment of several messages. Nothing
// read may reach past the bytes at hand, and every audio stream read has a
// bounded number of payload types.
#include <cstdint>
#include <cstdlib>

#include "sdp.h"
#include "sip_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  for (int messages = 0; at < size && messages < 16; ++messages) {
    SipMessage message;
    size_t used = 0;
    if (parseSipMessage(data + at, size - at, &message, &used) != SipParse::Ok) break;
    if (used == 0 || used > size - at || message.body.size() > used) std::abort();
    SdpDescription sdp;
    parseSdp(message.body, &sdp);
    if (sdp.audio.size() > 8) std::abort();
    for (const SdpAudio& audio : sdp.audio) {
      if (audio.payloadTypes.size() > 32) std::abort();
    }
    at += used;
  }
  // The whole input as a description too: a body that came on its own.
  SdpDescription sdp;
  parseSdp(std::string_view(reinterpret_cast<const char*>(data), size), &sdp);
  return 0;
}
