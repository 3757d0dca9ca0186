#include "result_callbacks.h"

#include <cmath>
#include <iostream>
#include <sstream>

std::string FormatSenderSampleLine(unsigned int sentPackets, unsigned int testId) {
  std::ostringstream line;
  line << "test id = " << testId << " sent_packets = " << sentPackets << " ";
  return line.str();
}

std::string FormatReceiverSampleLine(const TeskSample& s) {
  std::ostringstream line;
  line << "test id = " << s.testId << "   " << "mos = ";
  if (s.modelScored) {
    line << s.mos;
  } else {
    line << "none";
  }
  line << "  " << "lost packets = "
       << s.lostPackets << "  " << "estimated packets = " << s.estimatedPackets << "  "
       << "loss rate = " << s.lossRate << "  " << "average burst size = " << s.averageBurstSize
       << "  " << "avg jitter = " << s.avgJitter << "  ";
  return line.str();
}

const char* DelaySourceText(TeskDelaySource source) {
  switch (source) {
    case TeskDelaySource::Measured:
      return "measured";
    case TeskDelaySource::HalfRoundTrip:
      return "half the round trip";
    default:
      return "assumed";
  }
}

const char* DelaySourceName(TeskDelaySource source) {
  return source == TeskDelaySource::HalfRoundTrip ? "half-round-trip" : DelaySourceText(source);
}

std::string FormatEModelColumn(const TeskSample& s) {
  std::ostringstream column;
  column << "E-model R = " << s.emodelR << (s.wideband ? " (wideband)" : "")
         << "  E-model MOS = " << s.emodelMos << "  conversational R = " << s.conversationalR
         << "  conversational MOS = " << s.conversationalMos
         << "  mouth-to-ear = " << s.mouthToEarMs << " ms (network " << s.networkDelayMs << " ms, "
         << DelaySourceText(s.delaySource) << ")  ";
  return column.str();
}

void TextSenderCallback::doCallback(unsigned int sentPackets, unsigned int testId) {
  std::cout << FormatSenderSampleLine(sentPackets, testId) << std::endl;
}

void TextReceiverCallback::onSample(const TeskSample& sample) {
  std::cout << FormatReceiverSampleLine(sample) << (emodel ? FormatEModelColumn(sample) : "")
            << std::endl;
}

JSONSampleArray::JSONSampleArray() {
  buffer.Clear();
  jsonWriter.Reset(buffer);
  jsonWriter.StartArray();
}

void WriteJsonDouble(JsonWriter& w, double value) {
  if (std::isfinite(value)) {
    w.Double(value);
  } else {
    w.Null();
  }
}

void WriteSenderSampleMembers(JsonWriter& w, unsigned int sentPackets, unsigned int testId) {
  w.Key("TestId");
  w.Uint(testId);
  w.Key("SentPackets");
  w.Uint(sentPackets);
}

void WriteReceiverSampleMembers(JsonWriter& w, const TeskSample& s) {
  w.Key("TestId");
  w.Uint(s.testId);
  w.Key("MOS");
  if (s.modelScored) {
    WriteJsonDouble(w, s.mos);
  } else {
    w.Null();
  }
  w.Key("LostPackets");
  w.Uint(s.lostPackets);
  w.Key("EstimatedPackets");
  w.Uint(s.estimatedPackets);
  w.Key("LossRate");
  WriteJsonDouble(w, s.lossRate);
  w.Key("AverageBurstSize");
  WriteJsonDouble(w, s.averageBurstSize);
  w.Key("AvgJitter");
  w.Uint(s.avgJitter);
}

void WriteEModelMembers(JsonWriter& w, const TeskSample& s) {
  w.Key("EModelR");
  WriteJsonDouble(w, s.emodelR);
  w.Key("EModelMOS");
  WriteJsonDouble(w, s.emodelMos);
  w.Key("ConversationalR");
  WriteJsonDouble(w, s.conversationalR);
  w.Key("ConversationalMOS");
  WriteJsonDouble(w, s.conversationalMos);
  w.Key("MouthToEarDelay");
  WriteJsonDouble(w, s.mouthToEarMs);
  w.Key("NetworkDelay");
  WriteJsonDouble(w, s.networkDelayMs);
  w.Key("DelaySource");
  w.String(DelaySourceName(s.delaySource));
  w.Key("Wideband");
  w.Bool(s.wideband);
}

void JSONSampleArray::Double(double value) { WriteJsonDouble(jsonWriter, value); }

void JSONSenderCallback::doCallback(unsigned int sentPackets, unsigned int testId) {
  auto& w = samples.writer();
  w.StartObject();
  WriteSenderSampleMembers(w, sentPackets, testId);
  w.EndObject();
}

void JSONReceiverCallback::onSample(const TeskSample& sample) {
  auto& w = samples.writer();
  w.StartObject();
  WriteReceiverSampleMembers(w, sample);
  if (emodel) WriteEModelMembers(w, sample);
  w.EndObject();
}
