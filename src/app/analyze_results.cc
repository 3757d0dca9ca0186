#include "analyze_results.h"

#include <cstdio>
#include <sstream>

#include "live_outputs.h"
#include "result_callbacks.h"

namespace {

std::string CodecText(const TeskStreamInfo& s) {
  std::string text = s.codec == 1 ? "GSM0610" : "G711";
  if (!s.pulvoStream) text += " (PT " + std::to_string(s.payloadType) + ")";
  return text;
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
  return line.str();
}

std::string FormatStreamTotals(const TeskStreamInfo& s, int result) {
  std::ostringstream line;
  line << "stream " << s.index << " totals: packets = " << s.packets << "  lost = " << s.lostPackets;
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
      for (const Sample& s : stream.samples) {
        out << FormatReceiverSampleLine(s.values) << (emodel ? FormatEModelColumn(s.values) : "")
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
  }
  if (separator == '[') out << '[';
  out << ']';
}
