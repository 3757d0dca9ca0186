#ifndef PULVO_RESULT_CALLBACKS_H
#define PULVO_RESULT_CALLBACKS_H

// The two output formats. Text callbacks print one line per sample as it
// arrives; JSON callbacks collect one compact array that is printed after the
// test. The library calls doCallback from one thread at a time and not after
// the test has returned, so no lock is needed here.

#include <ostream>
#include <string>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "pulvo_runners.h"

// The text lines, apart from the stream they go to.
std::string FormatSenderSampleLine(unsigned int sentPackets, unsigned int testId);
std::string FormatReceiverSampleLine(const TeskSample& sample);
// The E-model's column, for --emodel: "E-model R = 89.5602  E-model MOS = 4.32808
// conversational R = 88.9  conversational MOS = 4.31  mouth-to-ear = 140 ms (network 0 ms,
// assumed)  ", "(wideband)" after R on G.107.1's scale.
std::string FormatEModelColumn(const TeskSample& sample);

// How the network part of a conversational rating's delay was obtained:
// "assumed", "measured" or "half the round trip"; as a JSON value "assumed",
// "measured" or "half-round-trip".
const char* DelaySourceText(TeskDelaySource source);
const char* DelaySourceName(TeskDelaySource source);

class TextSenderCallback : public PulvoSenderCallback {
 public:
  ~TextSenderCallback() override = default;
  void doCallback(unsigned int sentPackets, unsigned int testId) override;
  bool finalizeResults() override { return true; }
  void readResults(std::string&) override {}
};

// With `withEModel`, each line ends with the E-model's column.
class TextReceiverCallback : public PulvoReceiverCallback {
 public:
  explicit TextReceiverCallback(bool withEModel = false) : emodel(withEModel) {}
  ~TextReceiverCallback() override = default;
  void onSample(const TeskSample& sample) override;
  bool finalizeResults() override { return true; }
  void readResults(std::string&) override {}

 private:
  bool emodel;
};

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Numbers that are not finite have no JSON form; they are written as null.
void WriteJsonDouble(JsonWriter& w, double value);

// The members of one sample object, in the designed order. The live JSON
// lines write the same members.
void WriteSenderSampleMembers(JsonWriter& w, unsigned int sentPackets, unsigned int testId);
void WriteReceiverSampleMembers(JsonWriter& w, const TeskSample& sample);
// The E-model's members after the designed ones, where they are asked for:
// "EModelR" and "EModelMOS" (listening), "ConversationalR",
// "ConversationalMOS", "MouthToEarDelay" and "NetworkDelay" (ms),
// "DelaySource" ("assumed", "measured", "half-round-trip"), "Wideband".
void WriteEModelMembers(JsonWriter& w, const TeskSample& sample);

// A JSON array writer shared by both JSON callbacks.
class JSONSampleArray {
 public:
  JSONSampleArray();
  rapidjson::Writer<rapidjson::StringBuffer>& writer() { return jsonWriter; }
  // Numbers that are not finite have no JSON form; they are written as null.
  void Double(double value);
  bool Finish() { return jsonWriter.EndArray(); }
  std::string Text() const { return buffer.GetString(); }

 private:
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> jsonWriter;
};

class JSONSenderCallback : public PulvoSenderCallback {
 public:
  ~JSONSenderCallback() override = default;
  void doCallback(unsigned int sentPackets, unsigned int testId) override;
  bool finalizeResults() override { return samples.Finish(); }
  void readResults(std::string& out) override { out = samples.Text(); }

 private:
  JSONSampleArray samples;
};

// With `withEModel`, each object ends with the E-model's members.
class JSONReceiverCallback : public PulvoReceiverCallback {
 public:
  explicit JSONReceiverCallback(bool withEModel = false) : emodel(withEModel) {}
  ~JSONReceiverCallback() override = default;
  void onSample(const TeskSample& sample) override;
  bool finalizeResults() override { return samples.Finish(); }
  void readResults(std::string& out) override { out = samples.Text(); }

 private:
  bool emodel;
  JSONSampleArray samples;
};

#endif  // PULVO_RESULT_CALLBACKS_H
