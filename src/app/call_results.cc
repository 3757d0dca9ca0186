#include "call_results.h"

#include <cmath>
#include <iostream>
#include <sstream>

#include "live_outputs.h"

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
  return line.str();
}

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

void CallResults::Direction(const TeskCallDirection& d, const TeskCallSample& c) {
  if (text) {
    std::cout << FormatCallLine(d, c) << (emodel ? FormatEModelColumn(*d.sample) : "")
              << std::endl;
    return;
  }
  JsonWriter& w = samples.writer();
  w.StartObject();
  WriteCallSampleMembers(w, d, c);
  if (emodel) WriteEModelMembers(w, *d.sample);
  w.EndObject();
}

void CallResults::onSample(const TeskCallSample& sample) {
  const std::string notice = WayBackNotice(sample.wayBack, wayBack);
  if (!notice.empty()) std::cerr << "pulvo: " << notice << std::endl;
  wayBack = sample.wayBack;
  if (sayUnscored && sample.unscored.total() > unscoredSaid.total()) {
    std::cerr << "pulvo: answers not scored since the last window: "
              << teskUnscoredText(sample.unscored.since(unscoredSaid), authenticated) << std::endl;
    unscoredSaid = sample.unscored;
  }
  if (sample.silent && text) {
    std::cout << FormatSilentCallLine(sample) << std::endl;
  } else if (sample.silent) {
    JsonWriter& w = samples.writer();
    w.StartObject();
    WriteSilentCallMembers(w, sample);
    w.EndObject();
  }
  for (const TeskCallDirection& d : scoredDirections(sample)) Direction(d, sample);
  if (live != nullptr) live->CallSample(WallClockSeconds(), sample);
}

std::string CallResults::Finish() {
  if (text) return "";
  samples.Finish();
  return samples.Text();
}
