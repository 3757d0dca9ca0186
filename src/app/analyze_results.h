#ifndef PULVO_ANALYZE_RESULTS_H
#define PULVO_ANALYZE_RESULTS_H

// The results of `pulvo analyze`: the receive test's sample lines or
// objects, stream by stream. The library hands the samples of different
// streams over interleaved in capture time; they are kept per stream and
// printed together after the capture has been read, each stream's text
// under a heading line, each JSON object with the stream's members.

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tesk_analyze.h"

// "stream 1: 192.0.2.1:5004 -> 192.0.2.2:5004  ssrc = 0x1234abcd  codec = G711 (PT 0)
//  packet interval = 20 ms"
std::string FormatStreamHeading(const TeskStreamInfo& stream);
// "stream 1 totals: packets = 388  lost = 2", and why it ended early if it did.
std::string FormatStreamTotals(const TeskStreamInfo& stream, int result);

class AnalyzeResults : public TeskAnalyzerCallback {
 public:
  // JSON objects always carry the E-model's members; text lines carry its
  // column only `withEModel`.
  AnalyzeResults(bool resultsAsText, bool withEModel = false)
      : asText(resultsAsText), emodel(withEModel) {}

  void streamFound(const TeskStreamInfo& stream) override;
  void doCallback(unsigned int stream, double sampleTime, const TeskSample& sample) override;
  void streamEnded(const TeskStreamInfo& stream, int result) override;
  void callSeen(const TeskSipCall& call) override { calls.push_back(call); }

  // Text: the heading and sample lines of every stream, each line ended by
  // a newline. JSON: one array of every stream's samples, each stream's
  // followed by an object of its totals (the one without "MOS"), written
  // object by object so that a long capture needs no second copy of its
  // results. Then, for every call that a stream was sent in, its record:
  // the parties, when it was invited, answered and ended, and each
  // direction's totals, scores and verdict.
  void Print(std::ostream& out) const;

 private:
  struct Sample {
    double time;
    TeskSample values;
  };
  struct StreamResults {
    TeskStreamInfo info;
    std::vector<Sample> samples;
    int result = 0;
  };
  // The two forms of Print.
  void PrintText(std::ostream& out) const;
  void PrintJson(std::ostream& out) const;
  // The streams of each call, in order of recognition: one pass over the
  // streams for all the calls' records.
  using StreamsByCall = std::map<std::string, std::vector<const StreamResults*>>;
  StreamsByCall GroupByCall() const;
  // One call's record, of its `ways`: text lines, or one JSON object after
  // `separator`.
  void PrintCall(std::ostream& out, const TeskSipCall& call,
                 const std::vector<const StreamResults*>& ways, char separator) const;

  bool asText;
  bool emodel;
  std::map<unsigned int, StreamResults> streams;  // by index: the order of recognition
  std::vector<TeskSipCall> calls;
};

#endif  // PULVO_ANALYZE_RESULTS_H
