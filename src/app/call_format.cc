#include "call_format.h"

#include <cmath>
#include <sstream>

std::string FormatCallLine(const TeskCallDirection& d, const TeskCallSample& c) {
  std::ostringstream line;
  line << d.name << ": " << FormatReceiverSampleLine(*d.sample) << "round trip = ";
  if (c.answers == 0) {
    line << "unknown";
  } else {
    line << c.roundTripMinMs << "/" << c.roundTripMeanMs << "/" << c.roundTripMaxMs << " ms";
  }
  line << "  one-way delay = ";
  if (std::isnan(d.oneWayDelayMs)) {
    line << "unknown";
  } else {
    line << d.oneWayDelayMs << " ms";
  }
  line << "  ";
  // The round trip has no class or hops of its own.
  if (d.dscpSent < 0 && d.dscpReceived < 0 && d.hops < 0) return line.str();
  const auto known = [](int value) { return value < 0 ? std::string("unknown") : std::to_string(value); };
  line << "dscp = " << known(d.dscpSent) << "/" << known(d.dscpReceived)
       << (Remarked(d) ? " re-marked" : "") << "  hops = " << known(d.hops) << "  ";
  return line.str();
}

bool Remarked(const TeskCallDirection& d) {
  return d.dscpSent >= 0 && d.dscpReceived >= 0 && d.dscpSent != d.dscpReceived;
}

namespace {

void WriteKnown(JsonWriter& w, const char* key, int value) {
  w.Key(key);
  if (value < 0) {
    w.Null();
  } else {
    w.Int(value);
  }
}

}  // namespace

void WriteCallSampleMembers(JsonWriter& w, const TeskCallDirection& d, const TeskCallSample& c) {
  w.Key("Direction");
  w.String(d.name);
  WriteReceiverSampleMembers(w, *d.sample);
  w.Key("RoundTripMin");
  WriteJsonDouble(w, c.roundTripMinMs);
  w.Key("RoundTripMean");
  WriteJsonDouble(w, c.roundTripMeanMs);
  w.Key("RoundTripMax");
  WriteJsonDouble(w, c.roundTripMaxMs);
  w.Key("OneWayDelay");
  WriteJsonDouble(w, d.oneWayDelayMs);
  w.Key("Answers");
  w.Uint(c.answers);
  WriteKnown(w, "DscpSent", d.dscpSent);
  WriteKnown(w, "DscpReceived", d.dscpReceived);
  WriteKnown(w, "Hops", d.hops);
}

std::string FormatSilentCallLine(const TeskCallSample& c) {
  std::ostringstream line;
  line << "silent: test id = " << c.testId << "   answers = " << c.answers
       << "  no answer from the reflector  ";
  return line.str();
}

void WriteSilentCallMembers(JsonWriter& w, const TeskCallSample& c) {
  w.Key("Direction");
  w.String("silent");
  w.Key("TestId");
  w.Uint(c.testId);
  w.Key("Answers");
  w.Uint(c.answers);
}

std::string WayBackNotice(TeskWayBack now, TeskWayBack before) {
  if (now == before) return "";
  switch (now) {
    case TeskWayBack::CopiesSenderNumbers:
      return "the reflector's numbers follow the requests' (a stateless reflector, or one "
             "that has lost no request yet): a loss cannot be told by direction, so the round "
             "trip is scored as one";
    case TeskWayBack::NumbersRunAhead:
      return "the reflector numbers its answers beyond the requests sent (one count for all "
             "its sessions): the way back is unknown, so the round trip is scored as one";
    case TeskWayBack::Known:
      return "the reflector's numbers now differ from the requests': it keeps a count per "
             "session, and both directions are scored apart";
  }
  return "";
}

std::string PathNotice(const TeskCallDirection& d, int hopsBefore, int remarkedBefore) {
  std::string notice;
  if (d.hops >= 0 && hopsBefore >= 0 && d.hops != hopsBefore) {
    notice += std::string("the ") + d.name + " path changed: " + std::to_string(hopsBefore) +
              " hops, now " + std::to_string(d.hops);
  }
  const int remarked = Remarked(d) ? 1 : d.dscpReceived >= 0 ? 0 : -1;
  if (remarked == 1 && remarkedBefore != 1) {
    notice += std::string(notice.empty() ? "" : "; ") + "the " + d.name +
              " path re-marks the call's class: DSCP " + std::to_string(d.dscpSent) +
              " arrives as " + std::to_string(d.dscpReceived);
  } else if (remarked == 0 && remarkedBefore == 1) {
    notice += std::string(notice.empty() ? "" : "; ") + "the " + d.name +
              " path keeps the call's class again: DSCP " + std::to_string(d.dscpSent);
  }
  return notice;
}

std::string FormatVerdict(const TeskVerdict& verdict) {
  std::ostringstream out;
  for (const TeskDirectionVerdict& v : verdict.directions()) {
    out << "verdict " << v.direction << ": " << v.satisfaction
        << "  conversational R = " << v.conversationalR << (v.wideband ? " (wideband)" : "")
        << "  MOS = " << v.conversationalMos << "  worst window R = " << v.worstConversationalR
        << "  listening R = " << v.listeningR << "  windows = " << v.windows
        << "  mouth-to-ear = " << v.mouthToEarMs << " ms (network " << v.networkDelayMs
        << " ms, " << DelaySourceText(v.delaySource) << ")\n";
  }
  TeskDirectionVerdict worse;
  if (verdict.call(&worse)) {
    out << "verdict call: " << worse.satisfaction << " (the worse direction: " << worse.direction
        << ")\n";
  }
  return out.str();
}

namespace {

void WriteVerdictHead(JsonWriter& w, const TeskDirectionVerdict& v) {
  w.Key("Direction");
  w.String(v.direction.c_str());
  w.Key("Satisfaction");
  w.String(v.satisfaction.c_str());
  w.Key("ConversationalR");
  WriteJsonDouble(w, v.conversationalR);
  w.Key("ConversationalMOS");
  WriteJsonDouble(w, v.conversationalMos);
}

}  // namespace

void WriteVerdictSummary(JsonWriter& w, const TeskDirectionVerdict& v) {
  w.StartObject();
  WriteVerdictHead(w, v);
  w.EndObject();
}

bool WriteVerdictMembers(JsonWriter& w, const TeskVerdict& verdict) {
  TeskDirectionVerdict worse;
  if (!verdict.call(&worse)) return false;
  w.Key("Direction");
  w.String("verdict");
  w.Key("Directions");
  w.StartArray();
  for (const TeskDirectionVerdict& v : verdict.directions()) {
    w.StartObject();
    WriteVerdictHead(w, v);
    w.Key("WorstConversationalR");
    WriteJsonDouble(w, v.worstConversationalR);
    w.Key("ListeningR");
    WriteJsonDouble(w, v.listeningR);
    w.Key("Windows");
    w.Uint(v.windows);
    w.Key("MouthToEarDelay");
    WriteJsonDouble(w, v.mouthToEarMs);
    w.Key("NetworkDelay");
    WriteJsonDouble(w, v.networkDelayMs);
    w.Key("DelaySource");
    w.String(DelaySourceName(v.delaySource));
    w.Key("Wideband");
    w.Bool(v.wideband);
    w.EndObject();
  }
  w.EndArray();
  w.Key("Call");
  WriteVerdictSummary(w, worse);
  return true;
}
