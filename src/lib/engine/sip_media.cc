#include "sip_media.h"

#include <cctype>

#include "address_prefix.h"
#include "emodel.h"

namespace {

std::string lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void SipMediaTable::learn(const SipMessage& message) {
  if (message.body.empty() || message.callId.empty()) return;
  if (!message.contentType.empty() && message.contentType != "application/sdp") return;
  SdpDescription sdp;
  if (!parseSdp(message.body, &sdp)) return;
  for (const SdpAudio& audio : sdp.audio) {
    AddressPrefix address;
    if (audio.port == 0 || !parseAddressPrefix(audio.address, &address) || address.length != 128) {
      continue;
    }
    const Endpoint endpoint{std::string(reinterpret_cast<const char*>(address.bytes), 16),
                            audio.port};
    AnnouncedMedia announced;
    announced.callId = message.callId;
    announced.party = message.request ? message.fromUser : message.toUser;
    announced.audio = audio;
    auto [at, added] = media.insert_or_assign(endpoint, std::move(announced));
    (void)at;
    if (!added) continue;
    order.push_back(endpoint);
    if (media.size() > kMaxEndpoints) {
      media.erase(order.front());
      order.pop_front();
    }
  }
}

const AnnouncedMedia* SipMediaTable::find(const uint8_t address[16], uint16_t port) const {
  const auto at = media.find({std::string(reinterpret_cast<const char*>(address), 16), port});
  return at == media.end() ? nullptr : &at->second;
}

EncodingCodec codecOfEncoding(const std::string& encoding) {
  const std::string name = lower(encoding);
  EncodingCodec c;
  if (name == "pcmu" || name == "pcma") {
    c.modelCodec = 0;
    c.voiceCodec = static_cast<int>(VoiceCodec::G711);
  } else if (name == "gsm") {
    c.modelCodec = 1;
    c.voiceCodec = static_cast<int>(VoiceCodec::Gsm0610);
  } else if (name == "g722") {
    c.voiceCodec = static_cast<int>(VoiceCodec::G722);
  } else if (name == "g729" || name == "g729a") {
    c.voiceCodec = static_cast<int>(VoiceCodec::G729);
  } else if (name == "g723") {
    c.voiceCodec = static_cast<int>(VoiceCodec::G723);
  } else if (name == "telephone-event" || name == "cn") {
    c.noVoice = true;
  }
  return c;
}
