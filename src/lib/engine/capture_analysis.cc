#include "capture_analysis.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "emodel.h"
#include "rtp_stream.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {

constexpr int64_t kMicros = 1000000;
// Streams waiting for their second packet at any one time: far more than
// real calls on one link, few enough to bound the memory that random
// datagrams can take.
constexpr size_t kMaxUnconfirmed = 100000;
// How far past a stream's first sequence number its second packet may lie.
constexpr uint32_t kMaxConfirmingStep = 100;

TimeOfDay timeOfMicros(int64_t micros) {
  if (micros < 0) micros = 0;
  return TimeOfDay{micros / kMicros, micros % kMicros};
}

// A packet's arrival, as the receive test keys one received at that time.
double arrivalOfMicros(int64_t micros) { return timeOfMicros(micros).seconds(); }

// A pulvo test packet: the marker, and header values the sender can write.
bool decodePulvoPacket(const UdpDatagram& d, Payload* out) {
  if (d.payloadLength < kPacketHeaderSize || d.payload[0] != kPacketMarker) return false;
  Payload p;
  if (!decodePacket(d.payload, d.payloadLength, p)) return false;
  if (p.codec < 0 || p.codec > 1 || p.fec < 0 || p.fec > 3 || p.packetInterval == 0) return false;
  *out = p;
  return true;
}

}  // namespace

struct CaptureAnalysis::Stream {
  TeskStreamInfo info;
  RtpStreamClock rtp;
  DuplicateCounter duplicates;
  bool selected = false;
  bool confirmed = false;
  bool ended = false;   // the meter has ended and the stream been reported
  int64_t firstTime = 0;
  Payload firstPayload;
  uint32_t firstSeq = 0, highestSeq = 0;  // of the data packets, for the totals
  int voiceCodec = -1;  // the E-model's codec where the trained model knows none
  std::unique_ptr<Meter> meter;  // while the stream is measured
  int64_t nextTick = 0;  // capture time of the meter's next tick, microseconds
  int64_t lastTime = 0;  // of its newest packet
  // Send times of its first and last voice packets (µs of the stream's
  // clock): how fast its clock runs against capture time.
  double firstRtpTimestamp = 0, lastRtpTimestamp = 0;
};

namespace {

// The codec of a static payload type that only the E-model rates (RFC 3551:
// 4 G723, 9 G722, 18 G729); -1 for any other.
int emodelCodecOfPayloadType(uint8_t payloadType) {
  switch (payloadType) {
    case 4:
      return static_cast<int>(VoiceCodec::G723);
    case 9:
      return static_cast<int>(VoiceCodec::G722);
    case 18:
      return static_cast<int>(VoiceCodec::G729);
    default:
      return -1;
  }
}

}  // namespace

namespace {

// A stream whose payload type the SIP named: its codec from the name, and
// its clock from the rtpmap (8 kHz, the voice codecs' RTP clock, where none
// is given). A name that neither model knows leaves it unscored, saying so.
void announceCodec(const SdpPayloadType& named, CaptureAnalysis::Stream* stream) {
  TeskStreamInfo& info = stream->info;
  const EncodingCodec c = codecOfEncoding(named.encoding);
  info.encoding = named.encoding;
  info.scored = c.modelCodec >= 0 || c.voiceCodec >= 0;
  info.modelScored = c.modelCodec >= 0;
  info.codec = static_cast<unsigned char>(c.modelCodec > 0 ? c.modelCodec : 0);
  if (!info.modelScored && info.scored) {
    stream->voiceCodec = c.voiceCodec;
    info.wideband = emodelCodec(static_cast<VoiceCodec>(c.voiceCodec)).wideband;
  }
  if (!info.scored) {
    info.unscoredReason = "its SIP names it " + named.encoding.substr(0, 32) +
                          ", which neither the MOS model nor the E-model knows";
  }
  info.clockRate = named.clockRate != 0 ? named.clockRate : kVoiceClockRate;
  stream->rtp.setClockRate(info.clockRate);
}

}  // namespace

bool CaptureAnalysis::startsRtpStream(uint8_t payloadType) const {
  return startsAudioStream(payloadType) &&
         (settings.eventPayloadType == 0 || payloadType != settings.eventPayloadType);
}

std::unique_ptr<CaptureAnalysis::Stream> CaptureAnalysis::newStream(const UdpDatagram& d,
                                                                    const Key& key,
                                                                    const Payload& pulvo,
                                                                    const RtpHeader& rtp) const {
  auto stream = std::make_unique<Stream>();
  TeskStreamInfo& info = stream->info;
  info.source = formatEndpoint(d.family, d.source, d.sourcePort);
  info.destination = formatEndpoint(d.family, d.destination, d.destinationPort);
  info.pulvoStream = key.pulvo;
  info.ssrc = key.ssrc;
  if (key.pulvo) {
    info.codec = static_cast<unsigned char>(pulvo.codec);
    info.fec = static_cast<unsigned char>(pulvo.fec);
    return stream;
  }
  info.payloadType = rtp.payloadType;
  const AnnouncedMedia* announced = announcedFor(d);
  if (announced != nullptr) {
    info.callId = announced->callId;
    info.party = announced->party;
    const SdpPayloadType* named = findPayloadType(announced->audio, rtp.payloadType);
    if (named != nullptr && !named->encoding.empty()) {
      announceCodec(*named, stream.get());
      return stream;
    }
  }
  int codec = codecOfPayloadType(rtp.payloadType);
  const bool dynamic = isDynamicPayloadType(rtp.payloadType);
  if (codec == kNoCodec && dynamic) codec = settings.dynamicCodec;
  info.scored = codec != kNoCodec;
  info.codec = static_cast<unsigned char>(info.scored ? codec : 0);
  if (!info.scored && !dynamic) {
    stream->voiceCodec = emodelCodecOfPayloadType(rtp.payloadType);
    info.scored = stream->voiceCodec >= 0;
    info.modelScored = !info.scored;
    if (info.scored) info.wideband = emodelCodec(VoiceCodec(stream->voiceCodec)).wideband;
  }
  if (!info.scored) {
    info.unscoredReason = dynamic ? "a dynamic payload type; name its codec with codec= to score it"
                                  : "neither the MOS model nor the E-model knows its codec";
  }
  // A dynamic type scored as G711 or GSM0610 runs at their 8 kHz; an
  // unscored one's rate is learnt from the capture when it ends.
  info.clockRate = dynamic ? kVoiceClockRate : clockRateOfPayloadType(rtp.payloadType);
  stream->rtp.setClockRate(info.clockRate);
  return stream;
}

bool CaptureAnalysis::Key::operator==(const Key& o) const {
  return family == o.family && sourcePort == o.sourcePort &&
         destinationPort == o.destinationPort && ssrc == o.ssrc && pulvo == o.pulvo &&
         std::memcmp(source, o.source, sizeof source) == 0 &&
         std::memcmp(destination, o.destination, sizeof destination) == 0;
}

size_t CaptureAnalysis::KeyHash::operator()(const Key& k) const {
  // FNV-1a over the fields that tell streams apart.
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  };
  mix(k.source, sizeof k.source);
  mix(k.destination, sizeof k.destination);
  mix(&k.sourcePort, sizeof k.sourcePort);
  mix(&k.destinationPort, sizeof k.destinationPort);
  mix(&k.ssrc, sizeof k.ssrc);
  return static_cast<size_t>(h);
}

CaptureAnalysis::CaptureAnalysis(const CaptureAnalysisSettings& s, TeskAnalyzerCallback* cb)
    : settings(s), callback(cb) {}

CaptureAnalysis::~CaptureAnalysis() = default;

void CaptureAnalysis::addFrame(int64_t timeMicros, int linkType, const uint8_t* frame,
                               size_t capturedLength) {
  captureCounts.frames++;
  UdpDatagram d;
  switch (decodeFrame(linkType, frame, capturedLength, &d)) {
    case FrameKind::Udp:
      addDatagram(timeMicros, d);
      break;
    case FrameKind::Fragment:
      captureCounts.fragments++;
      break;
    case FrameKind::Truncated:
      captureCounts.truncated++;
      break;
    case FrameKind::NotIp:
    case FrameKind::NotUdp:
      captureCounts.notUdp++;
      break;
  }
}

bool CaptureAnalysis::readSip(int64_t timeMicros, const UdpDatagram& d) {
  // A SIP message starts with a method or "SIP/2.0": never with RTP's or
  // pulvo's first byte.
  if (d.payloadLength == 0 || d.payload[0] < 'A' || d.payload[0] > 'Z') return false;
  bool any = false;
  size_t at = 0, used = 0;
  SipMessage message;
  while (at < d.payloadLength &&
         parseSipMessage(d.payload + at, d.payloadLength - at, &message, &used) == SipParse::Ok) {
    any = true;
    captureCounts.sip++;
    sipMedia.learn(static_cast<double>(timeMicros) / kMicros, message);
    at += used;
  }
  return any;
}

const AnnouncedMedia* CaptureAnalysis::announcedFor(const UdpDatagram& d) const {
  if (sipMedia.size() == 0) return nullptr;
  uint8_t address[16] = {};
  if (d.family == 4) {
    address[10] = address[11] = 0xff;
    std::memcpy(address + 12, d.destination, 4);
  } else {
    std::memcpy(address, d.destination, 16);
  }
  return sipMedia.find(address, d.destinationPort);
}

bool CaptureAnalysis::classify(const UdpDatagram& d, Key* key, Payload* pulvo,
                               RtpHeader* rtp) const {
  *key = Key{};
  key->family = d.family;
  std::memcpy(key->source, d.source, sizeof key->source);
  std::memcpy(key->destination, d.destination, sizeof key->destination);
  key->sourcePort = d.sourcePort;
  key->destinationPort = d.destinationPort;
  if (decodePulvoPacket(d, pulvo)) {
    key->pulvo = true;
    return true;
  }
  if (!parseRtpHeader(d.payload, d.payloadLength, rtp)) return false;
  key->ssrc = rtp->ssrc;
  return true;
}

CaptureAnalysis::Stream* CaptureAnalysis::streamFor(int64_t timeMicros, const UdpDatagram& d,
                                                     const Key& key, const Payload& pulvo,
                                                     const RtpHeader& rtp, bool* firstPacket) {
  auto found = streams.find(key);
  if (found != streams.end() && found->second->meter) advance(*found->second, settled(timeMicros));
  // A stream that has ended is done with: a later data packet of the same
  // key starts a new stream, the rest of a pulvo sender's end-of-stream
  // packets are dropped.
  if (found != streams.end() && found->second->ended) {
    if (key.pulvo && pulvo.isEndOfStream()) return nullptr;
    streams.erase(found);
    found = streams.end();
  }
  *firstPacket = found == streams.end();
  if (!*firstPacket) return found->second.get();
  // Only an audio payload type, or a pulvo data packet, starts a stream;
  // comfort noise, telephone events and the like join one.
  const AnnouncedMedia* announced = key.pulvo ? nullptr : announcedFor(d);
  const SdpPayloadType* named =
      announced == nullptr ? nullptr : findPayloadType(announced->audio, rtp.payloadType);
  const bool noVoice = named != nullptr && codecOfEncoding(named->encoding).noVoice;
  if (key.pulvo ? pulvo.isEndOfStream() : !startsRtpStream(rtp.payloadType) || noVoice) {
    captureCounts.otherUdp++;
    return nullptr;
  }
  unconfirmed.emplace_back(timeMicros, key);
  return streams.emplace(key, newStream(d, key, pulvo, rtp)).first->second.get();
}

void CaptureAnalysis::count(Stream& s, const Payload& payload, bool rtp, bool placeholder,
                            int64_t timeMicros) {
  if (payload.isEndOfStream()) return;
  if (s.info.packets == 0 || payload.seqNum < s.firstSeq) s.firstSeq = payload.seqNum;
  if (s.info.packets == 0 || payload.seqNum > s.highestSeq) s.highestSeq = payload.seqNum;
  s.info.packets++;
  if (s.duplicates.repeat(payload.seqNum)) s.info.duplicates++;
  s.info.lastPacketTime = static_cast<double>(timeMicros) / kMicros;
  if (rtp && !placeholder) s.lastRtpTimestamp = payload.sendSec * 1e6 + payload.sendUsec;
}

bool CaptureAnalysis::awaitConfirmation(Stream& s, const Key& key, const Payload& payload,
                                        bool firstPacket, bool placeholder, int64_t timeMicros) {
  if (s.confirmed) return false;
  if (firstPacket) {
    s.firstTime = timeMicros;
    s.firstRtpTimestamp = payload.sendSec * 1e6 + payload.sendUsec;
    s.firstPayload = payload;
    s.info.firstPacketTime = static_cast<double>(timeMicros) / kMicros;
    return true;
  }
  if (payload.isEndOfStream()) {  // one data packet, then the end: nothing to measure
    streams.erase(key);
    return true;
  }
  // Datagrams that only look like RTP rarely carry the same payload type
  // and a sequence number just after the first: until one does, the
  // stream waits (and is forgotten after the time-out).
  if (!key.pulvo && (placeholder || payload.seqNum <= s.firstPayload.seqNum ||
                     payload.seqNum - s.firstPayload.seqNum > kMaxConfirmingStep)) {
    return true;
  }
  confirm(s);
  if (s.meter) advance(s, settled(timeMicros));
  return false;
}

void CaptureAnalysis::addDatagram(int64_t timeMicros, const UdpDatagram& d) {
  captureCounts.udp++;
  forgetLoneFirstPackets(timeMicros);
  // Signalling is read whatever port the streams are chosen by.
  if (readSip(timeMicros, d)) return;
  if (settings.port != 0 && d.sourcePort != settings.port && d.destinationPort != settings.port) {
    captureCounts.filtered++;
    return;
  }
  Key key;
  Payload pulvoPayload;
  RtpHeader rtp;
  if (!classify(d, &key, &pulvoPayload, &rtp)) {
    captureCounts.otherUdp++;
    return;
  }
  bool firstPacket = false;
  Stream* stream = streamFor(timeMicros, d, key, pulvoPayload, rtp, &firstPacket);
  if (stream == nullptr) return;
  Stream& s = *stream;
  captureCounts.voice++;
  // Another payload type on the stream's SSRC holds its place in the
  // sequence only.
  const bool placeholder = !key.pulvo && rtp.payloadType != s.info.payloadType;
  if (placeholder) (isComfortNoise(rtp.payloadType) ? s.info.comfortNoise : s.info.events)++;
  const Payload payload =
      key.pulvo ? pulvoPayload : s.rtp.toPayload(rtp, s.info.codec, placeholder);
  count(s, payload, !key.pulvo, placeholder, timeMicros);
  if (awaitConfirmation(s, key, payload, firstPacket, placeholder, timeMicros)) return;
  if (!s.selected) {
    captureCounts.filtered++;
    return;
  }
  if (s.meter) s.meter->add(arrivalOfMicros(timeMicros), payload);
  s.lastTime = timeMicros;
}

// A tick is taken once the de-jitter length after it has passed on capture
// time, as the receive test takes it: the ticks before a datagram at
// `timeMicros` that are due.
int64_t CaptureAnalysis::settled(int64_t timeMicros) const {
  return timeMicros - int64_t{settings.window.dejitterLength} * 1000 - 1;
}

void CaptureAnalysis::forgetLoneFirstPackets(int64_t timeMicros) {
  while (!unconfirmed.empty() &&
         (unconfirmed.front().first < timeMicros - int64_t{settings.window.timeout} * 1000 ||
          unconfirmed.size() > kMaxUnconfirmed)) {
    auto found = streams.find(unconfirmed.front().second);
    if (found != streams.end() && !found->second->confirmed) streams.erase(found);
    unconfirmed.pop_front();
  }
}

// A stream is recognised at its second packet, which also gives its packet
// interval. Its meter starts as a receive test's does when the first packet
// is already waiting: one microsecond after it, the capture clock's
// smallest step, so that it lies before the first window.
void CaptureAnalysis::confirm(Stream& s) {
  s.confirmed = true;
  s.info.index = ++recognised;
  // An RTP stream's interval is known from its second packet on.
  if (!s.info.pulvoStream) s.firstPayload.packetInterval = s.rtp.packetInterval();
  s.info.packetInterval = s.firstPayload.packetInterval;
  s.selected = settings.stream == 0 || settings.stream == s.info.index;
  if (!s.selected) return;
  callback->streamFound(s.info);
  if (!s.info.scored) return;

  WindowSettings window = settings.window;
  window.mayFallSilent = !s.info.pulvoStream;  // RTP senders suppress silence
  window.voiceCodec = s.voiceCodec;
  s.meter = std::make_unique<Meter>(window, "QoSCalc(stream " + std::to_string(s.info.index) + "): ",
                                    &fileLogSink());
  s.meter->add(arrivalOfMicros(s.firstTime), s.firstPayload);
  s.nextTick = s.firstTime + 1;
  s.meter->begin(timeOfMicros(s.nextTick));
}

void CaptureAnalysis::advance(Stream& s, int64_t lastTickMicros) {
  while (s.meter && s.nextTick <= lastTickMicros) {
    TeskSample sample;
    switch (s.meter->tick(timeOfMicros(s.nextTick), &sample)) {
      case Meter::Tick::Sample:
        callback->doCallback(s.info.index, static_cast<double>(s.nextTick) / kMicros, sample);
        break;
      case Meter::Tick::EndOfStream:
        report(s, false);
        break;
      case Meter::Tick::GaveUp:
        report(s, true);
        break;
      case Meter::Tick::WarmUp:
      case Meter::Tick::Dropped:
        break;
    }
    // On capture time a tick takes no time.
    s.nextTick += int64_t{settings.window.sampleInterval} * 1000;
  }
}

void CaptureAnalysis::report(Stream& s, bool gaveUp) {
  s.ended = true;
  // Nothing of an ended stream is needed but its totals.
  s.meter.reset();
  if (!s.info.pulvoStream) {
    // A dynamic type's clock, from how far its timestamps went against
    // capture time (a second of packets at least), for its interval.
    const double seconds = static_cast<double>(s.lastTime - s.firstTime) / kMicros;
    if (!s.info.scored && isDynamicPayloadType(static_cast<uint8_t>(s.info.payloadType)) &&
        seconds >= 1.0) {
      const double ticks = (s.lastRtpTimestamp - s.firstRtpTimestamp) / 1e6 * kVoiceClockRate;
      s.info.clockRate = nearestClockRate(ticks / seconds);
    }
    s.info.packetInterval = s.rtp.intervalAt(s.info.clockRate);
  }
  s.info.lostPackets = static_cast<long long>(s.highestSeq - s.firstSeq) + 1 -
                       static_cast<long long>(s.info.packets);
  if (gaveUp && result == 0) {
    result = TIMEOUT_ERROR;
    failureNote.note("stream " + std::to_string(s.info.index) + " (" + s.info.source + " -> " +
                  s.info.destination + ") had no packet for longer than the time-out");
  }
  callback->streamEnded(s.info, gaveUp ? TIMEOUT_ERROR : 0);
}

int CaptureAnalysis::finish() {
  // In order of recognition, so that the streams end in their order.
  std::vector<Stream*> open;
  for (auto& entry : streams) {
    const Stream& s = *entry.second;
    if (s.confirmed && s.selected && !s.ended) open.push_back(entry.second.get());
  }
  std::sort(open.begin(), open.end(),
            [](const Stream* a, const Stream* b) { return a->info.index < b->info.index; });
  // The end of the capture is the end of each stream: a window still open
  // then gives no sample, as at an end-of-stream packet.
  for (Stream* s : open) {
    advance(*s, s->lastTime);
    if (!s->ended) report(*s, false);
  }
  streams.clear();
  for (const TeskSipCall& call : sipMedia.calls()) callback->callSeen(call);
  if (recognised == 0 || (settings.stream != 0 && settings.stream > recognised)) {
    failureNote.note(recognised == 0 ? "no RTP voice or pulvo test stream found"
                                  : "no stream " + std::to_string(settings.stream) + " (" +
                                        std::to_string(recognised) + " found)");
    return TIMEOUT_ERROR;
  }
  return result;
}
