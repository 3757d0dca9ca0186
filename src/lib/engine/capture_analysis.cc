#include "capture_analysis.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "rtp_stream.h"
#include "test_error.h"

namespace {

constexpr int64_t kMicros = 1000000;
// Streams waiting for their second packet at any one time: far more than
// real calls on one link, few enough to bound the memory that random
// datagrams can take.
constexpr size_t kMaxUnconfirmed = 100000;

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
  bool selected = false;
  bool confirmed = false;
  bool ended = false;   // the meter has ended and the stream been reported
  int64_t firstTime = 0;
  Payload firstPayload;
  uint32_t firstSeq = 0, highestSeq = 0;  // of the data packets, for the totals
  std::unique_ptr<Meter> meter;  // while the stream is measured
  int64_t nextTick = 0;  // capture time of the meter's next tick, microseconds
};

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

void CaptureAnalysis::addDatagram(int64_t timeMicros, const UdpDatagram& d) {
  captureCounts.udp++;
  forgetLoneFirstPackets(timeMicros);
  if (settings.port != 0 && d.sourcePort != settings.port && d.destinationPort != settings.port) {
    captureCounts.filtered++;
    return;
  }
  Key key{};
  key.family = d.family;
  std::memcpy(key.source, d.source, sizeof key.source);
  std::memcpy(key.destination, d.destination, sizeof key.destination);
  key.sourcePort = d.sourcePort;
  key.destinationPort = d.destinationPort;

  Payload pulvoPayload;
  RtpHeader rtp;
  int codec = kNoCodec;
  if (decodePulvoPacket(d, &pulvoPayload)) {
    key.pulvo = true;
  } else if (parseRtpHeader(d.payload, d.payloadLength, &rtp)) {
    key.ssrc = rtp.ssrc;
    codec = codecOfPayloadType(rtp.payloadType);
    if (codec == kNoCodec && isDynamicPayloadType(rtp.payloadType)) codec = settings.dynamicCodec;
  } else {
    captureCounts.otherUdp++;
    return;
  }

  auto found = streams.find(key);
  if (found != streams.end() && found->second->meter) advance(*found->second, timeMicros);
  // A stream that has ended is done with: a later data packet of the same
  // key starts a new stream, the rest of a pulvo sender's end-of-stream
  // packets are dropped.
  if (found != streams.end() && found->second->ended) {
    if (key.pulvo && pulvoPayload.isEndOfStream()) return;
    streams.erase(found);
    found = streams.end();
  }
  const bool firstPacket = found == streams.end();
  if (firstPacket) {
    // Only a known voice payload type, or a pulvo data packet, starts a
    // stream; comfort noise, DTMF events and the like join one.
    if (key.pulvo ? pulvoPayload.isEndOfStream() : codec == kNoCodec) {
      captureCounts.otherUdp++;
      return;
    }
    auto stream = std::make_unique<Stream>();
    stream->info.source = formatEndpoint(d.family, d.source, d.sourcePort);
    stream->info.destination = formatEndpoint(d.family, d.destination, d.destinationPort);
    stream->info.pulvoStream = key.pulvo;
    stream->info.ssrc = key.ssrc;
    stream->info.payloadType = key.pulvo ? -1 : rtp.payloadType;
    stream->info.codec = static_cast<unsigned char>(key.pulvo ? pulvoPayload.codec : codec);
    stream->info.fec = static_cast<unsigned char>(key.pulvo ? pulvoPayload.fec : 0);
    found = streams.emplace(key, std::move(stream)).first;
    unconfirmed.emplace_back(timeMicros, key);
  }
  Stream& s = *found->second;
  captureCounts.voice++;
  const Payload payload = key.pulvo ? pulvoPayload : s.rtp.toPayload(rtp, s.info.codec);
  if (!payload.isEndOfStream()) {
    if (s.info.packets == 0 || payload.seqNum < s.firstSeq) s.firstSeq = payload.seqNum;
    if (s.info.packets == 0 || payload.seqNum > s.highestSeq) s.highestSeq = payload.seqNum;
    s.info.packets++;
  }

  if (!s.confirmed) {
    if (firstPacket) {
      s.firstTime = timeMicros;
      s.firstPayload = payload;
      s.info.firstPacketTime = static_cast<double>(timeMicros) / kMicros;
      return;
    }
    if (payload.isEndOfStream()) {  // one data packet, then the end: nothing to measure
      streams.erase(found);
      return;
    }
    confirm(s);
    if (s.meter) advance(s, timeMicros);
  }
  if (!s.selected) {
    captureCounts.filtered++;
    return;
  }
  if (s.meter) s.meter->add(arrivalOfMicros(timeMicros), payload);
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

  s.meter = std::make_unique<Meter>(settings.window, "QoSCalc(stream " +
                                                         std::to_string(s.info.index) + "): ");
  s.meter->add(arrivalOfMicros(s.firstTime), s.firstPayload);
  s.nextTick = s.firstTime + 1;
  s.meter->begin(timeOfMicros(s.nextTick));
}

void CaptureAnalysis::advance(Stream& s, int64_t timeMicros) {
  while (s.meter && s.nextTick <= timeMicros) {
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
    if (entry.second->meter) open.push_back(entry.second.get());
  }
  std::sort(open.begin(), open.end(),
            [](const Stream* a, const Stream* b) { return a->info.index < b->info.index; });
  // The end of the capture is the end of each stream: a window still open
  // then gives no sample, as at an end-of-stream packet.
  for (Stream* s : open) report(*s, false);
  streams.clear();
  if (recognised == 0 || (settings.stream != 0 && settings.stream > recognised)) {
    failureNote.note(recognised == 0 ? "no RTP voice or pulvo test stream found"
                                  : "no stream " + std::to_string(settings.stream) + " (" +
                                        std::to_string(recognised) + " found)");
    return TIMEOUT_ERROR;
  }
  return result;
}
