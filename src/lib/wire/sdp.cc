#include "sdp.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t kMaxAudio = 8;
constexpr size_t kMaxPayloadTypes = 32;

// Splits at blanks, at most `most` fields (the last keeps the rest).
std::vector<std::string_view> fields(std::string_view text, size_t most) {
  std::vector<std::string_view> out;
  while (!text.empty() && out.size() < most) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    const size_t end = out.size() + 1 == most ? text.size() : text.find_first_of(" \t");
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end);
  }
  return out;
}

bool readNumber(std::string_view text, uint32_t limit, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > limit) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// "IN IP4 192.0.2.1" or "IN IP6 2001:db8::1" (a multicast TTL left out).
bool readConnection(std::string_view value, std::string* address) {
  const std::vector<std::string_view> f = fields(value, 3);
  if (f.size() != 3 || f[0] != "IN" || (f[1] != "IP4" && f[1] != "IP6")) return false;
  const std::string_view a = f[2].substr(0, f[2].find('/'));
  if (a.empty() || a.size() > 64) return false;
  *address = std::string(a);
  return true;
}

// Takes the next line off `text`; a line may end in CRLF or a bare LF.
std::string_view takeLine(std::string_view* text) {
  const size_t end = text->find('\n');
  std::string_view line = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// "audio 49170 RTP/AVP 0 8 101": adds the stream to `out`. False when the
// line starts no audio stream that is kept (another media, a bad port, or
// one stream too many), so that the lines after it are skipped.
bool readAudioMedia(std::string_view value, SdpDescription* out) {
  const std::vector<std::string_view> f = fields(value, 4);
  uint32_t port = 0;
  if (f.size() < 3 || f[0] != "audio" || out->audio.size() >= kMaxAudio ||
      !readNumber(f[1].substr(0, f[1].find('/')), 65535, &port)) {
    return false;
  }
  SdpAudio audio;
  audio.port = static_cast<uint16_t>(port);
  if (f.size() == 4) {
    for (std::string_view p : fields(f[3], kMaxPayloadTypes + 1)) {
      uint32_t number = 0;
      if (audio.payloadTypes.size() >= kMaxPayloadTypes) break;
      if (readNumber(p, 127, &number)) audio.payloadTypes.push_back({int(number), "", 0});
    }
  }
  out->audio.push_back(audio);
  return true;
}

// "0 PCMU/8000" or "97 opus/48000/2" (the channel count left out).
void readRtpmap(std::string_view value, SdpAudio* audio) {
  const std::vector<std::string_view> f = fields(value, 2);
  uint32_t number = 0;
  if (f.size() != 2 || !readNumber(f[0], 127, &number)) return;
  // A type listed twice on the m= line takes the map at its last place.
  SdpPayloadType* p = nullptr;
  for (SdpPayloadType& each : audio->payloadTypes) {
    if (each.number == int(number)) p = &each;
  }
  if (p == nullptr) return;  // a map of a type the m= line does not offer
  const std::string_view map = f[1];
  const size_t slash = map.find('/');
  p->encoding = std::string(map.substr(0, std::min<size_t>(slash, 32)));
  if (slash != std::string_view::npos) {
    const std::string_view rate = map.substr(slash + 1);
    readNumber(rate.substr(0, rate.find('/')), 1000000, &p->clockRate);
  }
}

// An a= line of an audio stream; only rtpmap and ptime matter.
void readAttribute(std::string_view value, SdpAudio* audio) {
  if (value.substr(0, 7) == "rtpmap:") {
    readRtpmap(value.substr(7), audio);
  } else if (value.substr(0, 6) == "ptime:") {
    uint32_t ptime = 0;
    if (readNumber(value.substr(6), 10000, &ptime)) audio->ptimeMs = int(ptime);
  }
}

}  // namespace

const SdpPayloadType* findPayloadType(const SdpAudio& audio, int number) {
  for (const SdpPayloadType& p : audio.payloadTypes) {
    if (p.number == number) return &p;
  }
  return nullptr;
}

bool parseSdp(std::string_view text, SdpDescription* out) {
  *out = SdpDescription{};
  std::string session;
  bool inMedia = false;  // past the first m= line: no session-level line any more
  bool inAudio = false;  // the lines after an m=audio belong to it
  while (!text.empty()) {
    const std::string_view line = takeLine(&text);
    if (line.size() < 2 || line[1] != '=') continue;
    const std::string_view value = line.substr(2);
    switch (line[0]) {
      case 'c': {
        std::string address;
        if (!readConnection(value, &address)) break;
        if (!inMedia) {
          session = address;
        } else if (inAudio) {
          out->audio.back().address = address;
        }
        break;
      }
      case 'm':
        inMedia = true;
        inAudio = readAudioMedia(value, out);
        break;
      case 'a':
        if (inAudio) readAttribute(value, &out->audio.back());
        break;
      default:
        break;
    }
  }
  for (SdpAudio& audio : out->audio) {
    if (audio.address.empty()) audio.address = session;
  }
  return std::any_of(out->audio.begin(), out->audio.end(), [](const SdpAudio& a) {
    return !a.address.empty();
  });
}
