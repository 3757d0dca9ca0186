#include "analyze_results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "call_format.h"
#include "live_outputs.h"
#include "result_callbacks.h"
#include "tesk.h"
#include "tesk_verdict.h"

namespace {

// The codec's name: the model's for a stream it scores, the SIP's name or
// RFC 3551's for the others.
std::string CodecName(const TeskStreamInfo& s) {
  if (s.scored && s.modelScored) return teskCodecName(s.codec);
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

// The members a stream has only when they apply: why it has no MOS, its
// call, or that only the E-model rated it.
void WriteOptionalTotals(JsonWriter& w, const TeskStreamInfo& s) {
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
}

// Which stream a JSON object speaks of: its number, SSRC and two ends.
void WriteStreamIdentity(JsonWriter& w, unsigned int index, const TeskStreamInfo& s) {
  w.Key("Stream");
  w.Uint(index);
  w.Key("SSRC");
  w.Uint(s.ssrc);
  w.Key("Source");
  w.String(s.source.c_str());
  w.Key("Destination");
  w.String(s.destination.c_str());
}

void WriteStreamTotals(JsonWriter& w, unsigned int index, const TeskStreamInfo& s, int result) {
  w.StartObject();
  WriteStreamIdentity(w, index, s);
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
  WriteOptionalTotals(w, s);
  w.EndObject();
}

// One sample's object: the receive test's members and the stream's.
void WriteStreamSample(JsonWriter& w, unsigned int index, const TeskStreamInfo& info,
                       double time, const TeskSample& values) {
  w.StartObject();
  WriteReceiverSampleMembers(w, values);
  WriteEModelMembers(w, values);
  WriteStreamIdentity(w, index, info);
  w.Key("Time");
  w.String(FormatRfc3339(time).c_str());
  w.EndObject();
}

// One direction of a call: a stream's totals and what its windows scored.
struct CallDirection {
  std::string name;  // "to alice", or the stream's number when no party was named
  const TeskStreamInfo* info;
  unsigned int windows = 0, rated = 0;  // rated: windows the trained model scored (not 0)
  double meanMos = 0, worstMos = 0, meanR = 0, worstR = 0, meanJitter = 0;
};

template <typename Samples>
CallDirection SummarizeDirection(const TeskStreamInfo& info, const Samples& samples,
                                 TeskVerdict* verdict) {
  CallDirection d;
  d.name = info.party.empty() ? "stream " + std::to_string(info.index) : "to " + info.party;
  d.info = &info;
  for (const auto& sample : samples) {
    const TeskSample& s = sample.values;
    if (s.modelScored && s.mos > 0) {
      d.worstMos = d.rated == 0 ? s.mos : std::min(d.worstMos, s.mos);
      d.meanMos += s.mos;
      d.rated++;
    }
    d.worstR = d.windows == 0 ? s.emodelR : std::min(d.worstR, s.emodelR);
    d.meanR += s.emodelR;
    d.meanJitter += s.avgJitter;
    d.windows++;
    verdict->add(d.name, s);
  }
  if (d.rated != 0) d.meanMos /= d.rated;
  if (d.windows != 0) {
    d.meanR /= d.windows;
    d.meanJitter /= d.windows;
  }
  return d;
}

// Capture times are seconds since the epoch in a double: a difference of two
// of them is good to the microsecond, and said to the millisecond.
double Milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

double LossRatio(const TeskStreamInfo& s) {
  const double expected = static_cast<double>(s.packets) + static_cast<double>(s.lostPackets);
  return expected > 0 && s.lostPackets > 0 ? static_cast<double>(s.lostPackets) / expected : 0.0;
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
    PrintText(out);
  } else {
    PrintJson(out);
  }
}

void AnalyzeResults::PrintText(std::ostream& out) const {
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
  const StreamsByCall byCall = GroupByCall();
  for (const TeskSipCall& call : calls) {
    const auto ways = byCall.find(call.callId);
    if (ways != byCall.end()) PrintCall(out, call, ways->second, '\n');
  }
}

void AnalyzeResults::PrintJson(std::ostream& out) const {
  rapidjson::StringBuffer buffer;
  JsonWriter w;
  char separator = '[';
  for (const auto& [index, stream] : streams) {
    for (const Sample& s : stream.samples) {
      buffer.Clear();
      w.Reset(buffer);
      WriteStreamSample(w, index, stream.info, s.time, s.values);
      out << separator << buffer.GetString();
      separator = ',';
    }
    buffer.Clear();
    w.Reset(buffer);
    WriteStreamTotals(w, index, stream.info, stream.result);
    out << separator << buffer.GetString();
    separator = ',';
  }
  const StreamsByCall byCall = GroupByCall();
  for (const TeskSipCall& call : calls) {
    const auto ways = byCall.find(call.callId);
    if (ways == byCall.end()) continue;  // no stream of it was chosen
    PrintCall(out, call, ways->second, separator);
    separator = ',';
  }
  if (separator == '[') out << '[';
  out << ']';
}

AnalyzeResults::StreamsByCall AnalyzeResults::GroupByCall() const {
  StreamsByCall byCall;
  for (const auto& [index, stream] : streams) {
    if (!stream.info.callId.empty()) byCall[stream.info.callId].push_back(&stream);
  }
  return byCall;
}

namespace {

// A call's record: its directions summed up and judged.
struct CallRecord {
  explicit CallRecord(const TeskSipCall& dialog) : call(dialog) {}

  const TeskSipCall& call;
  std::vector<CallDirection> directions;
  double lasted = -1;  // s from the answer (or the INVITE) to its end; -1: not ended
  bool judged = false;
  TeskDirectionVerdict worse;
  std::vector<TeskDirectionVerdict> judgedWays;

  // A direction's verdict; null for one the E-model did not rate.
  const TeskDirectionVerdict* judgedWay(const std::string& name) const {
    for (const TeskDirectionVerdict& v : judgedWays) {
      if (v.direction == name) return &v;
    }
    return nullptr;
  }
};

void WriteCallText(std::ostream& out, const CallRecord& r) {
  const TeskSipCall& call = r.call;
  out << "call " << call.callId << ": " << call.caller << " -> " << call.callee
      << "  invited = " << FormatRfc3339(call.invited);
  if (call.answered != 0) out << "  answered after " << Milliseconds(call.answered - call.invited) << " s";
  if (r.lasted >= 0) {
    out << "  lasted " << r.lasted << " s  ended by " << call.endedBy;
  } else {
    out << "  not ended in the capture";
  }
  out << "\n";
  for (const CallDirection& d : r.directions) {
    out << "call " << call.callId << " " << d.name << ": stream " << d.info->index << "  "
        << CodecName(*d.info) << "  packets = " << d.info->packets
        << "  lost = " << d.info->lostPackets << "  loss = " << 100 * LossRatio(*d.info)
        << " %  windows = " << d.windows;
    if (d.rated != 0) {
      out << "  mos mean = " << d.meanMos << "  worst = " << d.worstMos;
    } else {
      out << "  mos = none";
    }
    const TeskDirectionVerdict* v = r.judgedWay(d.name);
    if (v != nullptr) {
      out << "  E-model R mean = " << d.meanR << (d.info->wideband ? " (wideband)" : "")
          << "  worst = " << d.worstR << "  conversational R = " << v->conversationalR
          << "  jitter = " << d.meanJitter << " ms  " << v->satisfaction;
    }
    out << "\n";
  }
  if (r.judged) {
    out << "call " << call.callId << " verdict: " << r.worse.satisfaction
        << " (the worse direction: " << r.worse.direction << ")\n";
  }
}

void WriteText(JsonWriter& w, const std::string& text) {
  if (text.empty()) {
    w.Null();
  } else {
    w.String(text.c_str());
  }
}

void WriteDirectionJson(JsonWriter& w, const CallDirection& d, const TeskDirectionVerdict* v) {
  w.StartObject();
  w.Key("Direction");
  w.String(d.name.c_str());
  w.Key("Stream");
  w.Uint(d.info->index);
  w.Key("Codec");
  w.String(CodecName(*d.info).c_str());
  w.Key("Packets");
  w.Uint64(d.info->packets);
  w.Key("Lost");
  w.Int64(d.info->lostPackets);
  w.Key("LossRate");
  WriteJsonDouble(w, LossRatio(*d.info));
  w.Key("Windows");
  w.Uint(d.windows);
  const std::pair<const char*, double> figures[] = {
      {"MeanMOS", d.rated != 0 ? d.meanMos : NAN},
      {"WorstMOS", d.rated != 0 ? d.worstMos : NAN},
      {"MeanEModelR", v != nullptr ? d.meanR : NAN},
      {"WorstEModelR", v != nullptr ? d.worstR : NAN},
      {"ConversationalR", v != nullptr ? v->conversationalR : NAN}};
  for (const auto& [key, value] : figures) {
    w.Key(key);
    WriteJsonDouble(w, value);
  }
  w.Key("Satisfaction");
  WriteText(w, v != nullptr ? v->satisfaction : "");
  w.Key("AvgJitter");
  WriteJsonDouble(w, v != nullptr ? d.meanJitter : NAN);
  w.Key("Wideband");
  w.Bool(d.info->wideband);
  w.EndObject();
}

std::string CallJson(const CallRecord& r) {
  rapidjson::StringBuffer buffer;
  JsonWriter w(buffer);
  const TeskSipCall& call = r.call;
  w.StartObject();
  w.Key("Call");
  w.String(call.callId.c_str());
  w.Key("From");
  w.String(call.caller.c_str());
  w.Key("To");
  w.String(call.callee.c_str());
  for (const auto& [key, time] : {std::pair<const char*, double>{"Invited", call.invited},
                                  {"Answered", call.answered},
                                  {"Ended", call.ended}}) {
    w.Key(key);
    WriteText(w, time != 0 ? FormatRfc3339(time) : "");
  }
  w.Key("EndedBy");
  WriteText(w, call.endedBy);
  w.Key("Duration");
  WriteJsonDouble(w, r.lasted >= 0 ? r.lasted : NAN);
  w.Key("Directions");
  w.StartArray();
  for (const CallDirection& d : r.directions) WriteDirectionJson(w, d, r.judgedWay(d.name));
  w.EndArray();
  w.Key("Verdict");
  if (r.judged) {
    WriteVerdictSummary(w, r.worse);
  } else {
    w.Null();
  }
  w.EndObject();
  return buffer.GetString();
}

}  // namespace

void AnalyzeResults::PrintCall(std::ostream& out, const TeskSipCall& call,
                               const std::vector<const StreamResults*>& ways,
                               char separator) const {
  TeskVerdict verdict;
  CallRecord record(call);
  for (const StreamResults* stream : ways) {
    record.directions.push_back(SummarizeDirection(stream->info, stream->samples, &verdict));
  }
  const double from = call.answered != 0 ? call.answered : call.invited;
  if (call.ended != 0) record.lasted = Milliseconds(call.ended - from);
  record.judged = verdict.call(&record.worse);
  record.judgedWays = verdict.directions();
  if (asText) {
    WriteCallText(out, record);
  } else {
    out << separator << CallJson(record);
  }
}
