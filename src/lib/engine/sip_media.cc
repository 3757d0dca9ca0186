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

void SipMediaTable::follow(double time, const SipMessage& m) {
  auto known = callIndex.find(m.callId);
  TeskSipCall* call = known == callIndex.end() ? nullptr : &callList[known->second - dropped];
  if (call == nullptr) {
    // A call is known from its first INVITE on; a re-INVITE (it has a To
    // tag) of a call whose start the capture missed starts nothing.
    if (!m.request || m.method != "INVITE" || !m.toTag.empty()) return;
    if (callList.size() == kMaxCalls) {
      callIndex.erase(callList.front().callId);
      callList.pop_front();
      dropped++;
    }
    callIndex[m.callId] = dropped + callList.size();
    callList.push_back({m.callId, m.fromUser, m.toUser, time, 0.0, 0.0, ""});
    return;
  }
  if (!call->endedBy.empty()) return;
  if (m.request && (m.method == "BYE" || m.method == "CANCEL")) {
    call->ended = time;
    call->endedBy = m.method;
  } else if (!m.request && m.cseqMethod == "INVITE" && call->answered == 0.0) {
    if (m.status >= 200 && m.status < 300) {
      call->answered = time;
    } else if (m.status >= 300) {
      call->ended = time;
      call->endedBy = std::to_string(m.status);
    }
  }
}

void SipMediaTable::learn(double time, const SipMessage& message) {
  if (message.callId.empty()) return;
  follow(time, message);
  if (message.body.empty()) return;
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
