#include "result_callbacks.h"

#include <cmath>
#include <iostream>
#include <sstream>

std::string FormatSenderSampleLine(unsigned int sentPackets, unsigned int testId) {
  std::ostringstream line;
  line << "test id = " << testId << " sent_packets = " << sentPackets << " ";
  return line.str();
}

std::string FormatReceiverSampleLine(double mos, unsigned int lostPackets,
                                     unsigned int estimatedPackets, double lossRate,
                                     double averageBurstSize, unsigned int avgJitter,
                                     unsigned int testId) {
  std::ostringstream line;
  line << "test id = " << testId << "   " << "mos = " << mos << "  " << "lost packets = "
       << lostPackets << "  " << "estimated packets = " << estimatedPackets << "  "
       << "loss rate = " << lossRate << "  " << "average burst size = " << averageBurstSize
       << "  " << "avg jitter = " << avgJitter << "  ";
  return line.str();
}

void TextSenderCallback::doCallback(unsigned int sentPackets, unsigned int testId) {
  std::cout << FormatSenderSampleLine(sentPackets, testId) << std::endl;
}

void TextReceiverCallback::doCallback(double mos, unsigned int, unsigned int, unsigned int,
                                      unsigned int, unsigned int lostPackets,
                                      unsigned int estimatedPackets, double lossRate,
                                      double averageBurstSize, unsigned int avgJitter,
                                      unsigned int testId) {
  std::cout << FormatReceiverSampleLine(mos, lostPackets, estimatedPackets, lossRate,
                                        averageBurstSize, avgJitter, testId)
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

void WriteReceiverSampleMembers(JsonWriter& w, double mos, unsigned int lostPackets,
                                unsigned int estimatedPackets, double lossRate,
                                double averageBurstSize, unsigned int avgJitter,
                                unsigned int testId) {
  w.Key("TestId");
  w.Uint(testId);
  w.Key("MOS");
  WriteJsonDouble(w, mos);
  w.Key("LostPackets");
  w.Uint(lostPackets);
  w.Key("EstimatedPackets");
  w.Uint(estimatedPackets);
  w.Key("LossRate");
  WriteJsonDouble(w, lossRate);
  w.Key("AverageBurstSize");
  WriteJsonDouble(w, averageBurstSize);
  w.Key("AvgJitter");
  w.Uint(avgJitter);
}

void JSONSampleArray::Double(double value) { WriteJsonDouble(jsonWriter, value); }

void JSONSenderCallback::doCallback(unsigned int sentPackets, unsigned int testId) {
  auto& w = samples.writer();
  w.StartObject();
  WriteSenderSampleMembers(w, sentPackets, testId);
  w.EndObject();
}

void JSONReceiverCallback::doCallback(double mos, unsigned int, unsigned int, unsigned int,
                                      unsigned int, unsigned int lostPackets,
                                      unsigned int estimatedPackets, double lossRate,
                                      double averageBurstSize, unsigned int avgJitter,
                                      unsigned int testId) {
  auto& w = samples.writer();
  w.StartObject();
  WriteReceiverSampleMembers(w, mos, lostPackets, estimatedPackets, lossRate, averageBurstSize,
                             avgJitter, testId);
  w.EndObject();
}
