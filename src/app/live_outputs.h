#ifndef PULVO_LIVE_OUTPUTS_H
#define PULVO_LIVE_OUTPUTS_H

// Outputs for monitoring, beside the designed text and JSON results: a JSON
// lines file that gets one line per sample as it happens (with a start and
// an end line, so a failed run is complete too), and a Prometheus text file
// for the node exporter's textfile collector, rewritten after every sample.
//
// Thread safety: receiver samples arrive on the library's thread, the start
// and the end on the main thread; every method takes one lock.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tesk_call.h"
#include "tesk_sample.h"
#include "tesk_verdict.h"

// One parameter of a test as it appears in the outputs: a text or a number.
struct TestParameter {
  std::string key;
  std::string text;
  bool isNumber = false;
  uint64_t number = 0;
};

// What a reader needs to tell tests apart.
struct TestDescription {
  std::string command;  // "send", "recv" or "call"
  unsigned int testId = 0;
  std::vector<TestParameter> parameters;  // in output order
  std::string localEnd, remoteEnd;        // "addr:port", "[v6]:port"; remote empty for recv
  std::string codec;                      // empty when the command does not know it
};

// "2026-12-07T15:32:25.123Z" for seconds since the Unix epoch.
std::string FormatRfc3339(double secondsSinceEpoch);

// The JSON lines, each without its newline.
std::string StartLine(const TestDescription& test, double time);
std::string SenderSampleLine(const TestDescription& test, double time, unsigned int sentPackets);
std::string ReceiverSampleLine(const TestDescription& test, double time,
                               const TeskSample& sample);
// A call's direction ("forward", "reverse" or "round-trip") with the round
// trip; a probe's names its path.
std::string CallSampleLine(const TestDescription& test, double time,
                           const TeskCallDirection& direction, const TeskCallSample& call,
                           const std::string& path = "");
std::string EndLine(const TestDescription& test, double time, int exitCode,
                    const std::string& reason, unsigned int samples);

// What the metrics file shows: the last sample of the test.
struct MetricsState {
  bool running = false;
  bool haveReceiverSample = false;
  TeskSample receiver;
  unsigned int sentPackets = 0;
  bool haveSenderSample = false;
  double lastSampleTime = 0;  // 0 before the first sample
  bool haveCallSample = false;  // a call's directions, each labelled
  TeskCallSample call;
};

// The Prometheus text exposition of the state, with # HELP and # TYPE.
std::string PrometheusText(const TestDescription& test, const MetricsState& state);

class LiveOutputs {
 public:
  LiveOutputs() = default;
  ~LiveOutputs();
  LiveOutputs(const LiveOutputs&) = delete;
  LiveOutputs& operator=(const LiveOutputs&) = delete;

  // Opens the JSON lines file for appending and writes the metrics file
  // once, so that an unwritable path shows before the test. Empty paths are
  // left out. False with `error` set when a file cannot be written.
  bool Open(const std::string& jsonLinesPath, const std::string& metricsPath,
            const TestDescription& test, std::string& error);
  bool Active() const { return jsonLines != nullptr || !metricsPath.empty(); }

  void Start(double time);
  void SenderSample(double time, unsigned int sentPackets);
  void ReceiverSample(double time, const TeskSample& sample);
  // One line per scored direction; the metrics carry both.
  // A call's sample, or with `path` one of a probe's paths.
  void CallSample(double time, const TeskCallSample& sample, const std::string& path = "");
  // A call's verdict, one "verdict" line with its members before the end;
  // nothing when no window was scored.
  void Verdict(double time, const TeskVerdict& verdict);
  void End(double time, int exitCode, const std::string& reason);

 private:
  // A sample's line and metrics, once the metrics state holds the sample.
  void Record(double time, const std::string& line);
  void WriteLine(const std::string& line);
  bool WriteMetrics(std::string* error);

  std::mutex mutex;
  TestDescription test;
  std::FILE* jsonLines = nullptr;
  std::string metricsPath;
  MetricsState metrics;
  unsigned int samples = 0;
};

// The time of day in seconds, as the outputs stamp it.
double WallClockSeconds();

#endif  // PULVO_LIVE_OUTPUTS_H
