#include "call_results.h"

#include <cmath>
#include <iostream>
#include <sstream>

#include "live_outputs.h"

std::string FormatCallLine(const char* direction, const TeskSample& s, const TeskCallSample& c) {
  std::ostringstream line;
  line << direction << ": " << FormatReceiverSampleLine(s) << "round trip = ";
  if (c.answers == 0) {
    line << "unknown";
  } else {
    line << c.roundTripMinMs << "/" << c.roundTripMeanMs << "/" << c.roundTripMaxMs << " ms";
  }
  const double oneWay = &s == &c.forward ? c.forwardDelayMs : c.reverseDelayMs;
  line << "  one-way delay = ";
  if (std::isnan(oneWay)) {
    line << "unknown";
  } else {
    line << oneWay << " ms";
  }
  line << "  ";
  return line.str();
}

void WriteCallSampleMembers(JsonWriter& w, const char* direction, const TeskSample& s,
                            const TeskCallSample& c) {
  w.Key("Direction");
  w.String(direction);
  WriteReceiverSampleMembers(w, s);
  w.Key("RoundTripMin");
  WriteJsonDouble(w, c.roundTripMinMs);
  w.Key("RoundTripMean");
  WriteJsonDouble(w, c.roundTripMeanMs);
  w.Key("RoundTripMax");
  WriteJsonDouble(w, c.roundTripMaxMs);
  w.Key("OneWayDelay");
  WriteJsonDouble(w, &s == &c.forward ? c.forwardDelayMs : c.reverseDelayMs);
  w.Key("Answers");
  w.Uint(c.answers);
}

void CallResults::Direction(const char* name, const TeskSample& s, const TeskCallSample& c) {
  if (text) {
    std::cout << FormatCallLine(name, s, c) << (emodel ? FormatEModelColumn(s) : "") << std::endl;
    return;
  }
  JsonWriter& w = samples.writer();
  w.StartObject();
  WriteCallSampleMembers(w, name, s, c);
  if (emodel) WriteEModelMembers(w, s);
  w.EndObject();
}

void CallResults::onSample(const TeskCallSample& sample) {
  if (sample.haveForward) Direction("forward", sample.forward, sample);
  if (sample.haveReverse) Direction("reverse", sample.reverse, sample);
  if (live != nullptr) live->CallSample(WallClockSeconds(), sample);
}

std::string CallResults::Finish() {
  if (text) return "";
  samples.Finish();
  return samples.Text();
}
