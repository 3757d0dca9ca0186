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
  line << "test id = " << s.testId << "   " << "mos = " << s.mos << "  " << "lost packets = "
       << s.lostPackets << "  " << "estimated packets = " << s.estimatedPackets << "  "
       << "loss rate = " << s.lossRate << "  " << "average burst size = " << s.averageBurstSize
       << "  " << "avg jitter = " << s.avgJitter << "  ";
  return line.str();
}

std::string FormatEModelColumn(const TeskSample& s) {
  std::ostringstream column;
  column << "E-model R = " << s.emodelR << "  E-model MOS = " << s.emodelMos << "  ";
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
  WriteJsonDouble(w, s.mos);
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
