#include "analyze_results.h"

#include <cstdio>
#include <sstream>

#include "live_outputs.h"
#include "result_callbacks.h"

namespace {

// The codec's name: the model's for a stream it scores, the SIP's name or
// RFC 3551's for the others.
std::string CodecName(const TeskStreamInfo& s) {
  if (s.scored && s.modelScored) return s.codec == 1 ? "GSM0610" : "G711";
  if (!s.encoding.empty()) return s.encoding;
  switch (s.payloadType) {
    case 4:
      return "G723";
    case 9:
      return "G722";
    case 18:
      return "G729";
    default:
      return "unknown";
  }
}

std::string CodecText(const TeskStreamInfo& s) {
  std::string text = CodecName(s);
  if (!s.pulvoStream) text += " (PT " + std::to_string(s.payloadType) + ")";
  return text;
}

void WriteStreamTotals(JsonWriter& w, unsigned int index, const TeskStreamInfo& s, int result) {
  w.StartObject();
  w.Key("Stream");
  w.Uint(index);
  w.Key("SSRC");
  w.Uint(s.ssrc);
  w.Key("Source");
  w.String(s.source.c_str());
  w.Key("Destination");
  w.String(s.destination.c_str());
  w.Key("PayloadType");
  if (s.pulvoStream) {
    w.Null();
  } else {
    w.Int(s.payloadType);
  }
  w.Key("Codec");
  w.String(CodecName(s).c_str());
  w.Key("ClockRate");
  w.Uint(s.clockRate);
  w.Key("PacketInterval");
  w.Uint(s.packetInterval);
  w.Key("Packets");
  w.Uint64(s.packets);
  w.Key("Lost");
  w.Int64(s.lostPackets);
  w.Key("Duplicates");
  w.Uint64(s.duplicates);
  w.Key("ComfortNoise");
  w.Uint64(s.comfortNoise);
  w.Key("Events");
  w.Uint64(s.events);
  w.Key("First");
  w.String(FormatRfc3339(s.firstPacketTime).c_str());
  w.Key("Last");
  w.String(FormatRfc3339(s.lastPacketTime).c_str());
  w.Key("TimedOut");
  w.Bool(result == TIMEOUT_ERROR);
  if (!s.scored) {
    w.Key("NoMOS");
    w.String(s.unscoredReason.c_str());
  }
  if (!s.callId.empty()) {
    w.Key("CallId");
    w.String(s.callId.c_str());
    w.Key("To");
    w.String(s.party.c_str());
  }
  if (s.scored && !s.modelScored) {
    w.Key("EModelOnly");
    w.Bool(true);
    w.Key("Wideband");
    w.Bool(s.wideband);
  }
  w.EndObject();
}

}  // namespace

std::string FormatStreamHeading(const TeskStreamInfo& s) {
  std::ostringstream line;
  line << "stream " << s.index << ": " << s.source << " -> " << s.destination << "  ";
  if (s.pulvoStream) {
    line << "pulvo test stream";
  } else {
    char ssrc[16];
    std::snprintf(ssrc, sizeof ssrc, "0x%08x", s.ssrc);
    line << "ssrc = " << ssrc;
  }
  line << "  codec = " << CodecText(s);
  if (s.pulvoStream && s.fec != 0) line << "  fec = gsmpiggyback" << static_cast<int>(s.fec);
  line << "  packet interval = " << s.packetInterval << " ms";
  if (!s.callId.empty()) {
    line << "  call = " << s.callId;
    if (!s.party.empty()) line << "  to = " << s.party;
  }
  return line.str();
}

std::string FormatStreamTotals(const TeskStreamInfo& s, int result) {
  std::ostringstream line;
  line << "stream " << s.index << " totals: packets = " << s.packets << "  lost = " << s.lostPackets;
  if (s.duplicates != 0) line << "  duplicates = " << s.duplicates;
  if (s.comfortNoise != 0) line << "  comfort noise = " << s.comfortNoise;
  if (s.events != 0) line << "  events = " << s.events;
  if (result == TIMEOUT_ERROR) line << "  (ended: no packet for longer than the time-out)";
  return line.str();
}

void AnalyzeResults::streamEnded(const TeskStreamInfo& stream, int result) {
  StreamResults& r = streams[stream.index];
  r.info = stream;
  r.result = result;
}

void AnalyzeResults::streamFound(const TeskStreamInfo& stream) {
  streams[stream.index].info = stream;
}

void AnalyzeResults::doCallback(unsigned int stream, double sampleTime, const TeskSample& sample) {
  streams[stream].samples.push_back({sampleTime, sample});
}

void AnalyzeResults::Print(std::ostream& out) const {
  if (asText) {
    for (const auto& [index, stream] : streams) {
      out << FormatStreamHeading(stream.info) << "\n";
      if (!stream.info.scored) {
        out << "stream " << index << ": no MOS: " << stream.info.unscoredReason << "\n";
      } else if (!stream.info.modelScored) {
        out << "stream " << index << ": E-model only: the MOS model knows G711 and GSM0610 only"
            << (stream.info.wideband ? "; rated on the wideband scale" : "") << "\n";
      }
      // The E-model's column is the only score of a stream the model does
      // not know.
      const bool column = emodel || !stream.info.modelScored;
      for (const Sample& s : stream.samples) {
        out << FormatReceiverSampleLine(s.values) << (column ? FormatEModelColumn(s.values) : "")
            << "\n";
      }
      out << FormatStreamTotals(stream.info, stream.result) << "\n";
    }
    return;
  }
  rapidjson::StringBuffer buffer;
  JsonWriter w;
  char separator = '[';
  for (const auto& [index, stream] : streams) {
    for (const Sample& s : stream.samples) {
      buffer.Clear();
      w.Reset(buffer);
      w.StartObject();
      WriteReceiverSampleMembers(w, s.values);
      WriteEModelMembers(w, s.values);
      w.Key("Stream");
      w.Uint(index);
      w.Key("SSRC");
      w.Uint(stream.info.ssrc);
      w.Key("Source");
      w.String(stream.info.source.c_str());
      w.Key("Destination");
      w.String(stream.info.destination.c_str());
      w.Key("Time");
      w.String(FormatRfc3339(s.time).c_str());
      w.EndObject();
      out << separator << buffer.GetString();
      separator = ',';
    }
    buffer.Clear();
    w.Reset(buffer);
    WriteStreamTotals(w, index, stream.info, stream.result);
    out << separator << buffer.GetString();
    separator = ',';
  }
  if (separator == '[') out << '[';
  out << ']';
}
