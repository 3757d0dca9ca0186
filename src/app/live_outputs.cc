#include "live_outputs.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sstream>

#include "call_format.h"
#include "prometheus_text.h"
#include "result_callbacks.h"

namespace {

std::tm UtcTime(std::time_t seconds) {
  std::tm t{};
#if defined(_WIN32)
  gmtime_s(&t, &seconds);
#else
  gmtime_r(&seconds, &t);
#endif
  return t;
}

// One line: Event, Time and Command first, then what the caller adds.
class JsonLine {
 public:
  // `path`: the probe's path the line is of, when it is one.
  JsonLine(const char* event, const TestDescription& test, double time,
           const std::string& path = "")
      : w(buffer) {
    w.StartObject();
    w.Key("Event");
    w.String(event);
    w.Key("Time");
    w.String(FormatRfc3339(time).c_str());
    w.Key("Command");
    w.String(test.command.c_str());
    if (path.empty()) return;
    w.Key("Path");
    w.String(path.c_str());
  }
  JsonWriter& writer() { return w; }
  std::string Finish() {
    w.EndObject();
    return buffer.GetString();
  }

 private:
  rapidjson::StringBuffer buffer;
  JsonWriter w;
};

void Parameters(JsonWriter& w, const TestDescription& test) {
  for (const TestParameter& p : test.parameters) {
    w.Key(p.key.c_str());
    if (p.isNumber) {
      w.Uint64(p.number);
    } else {
      w.String(p.text.c_str());
    }
  }
}

// `extra` (",direction=\"forward\"") goes inside the braces, last.
std::string Labels(const TestDescription& test, const std::string& extra = "") {
  std::string labels = "{command=\"" + EscapeLabel(test.command) + "\",test_id=\"" +
                       std::to_string(test.testId) + "\",local=\"" + EscapeLabel(test.localEnd) +
                       "\"";
  if (!test.remoteEnd.empty()) labels += ",remote=\"" + EscapeLabel(test.remoteEnd) + "\"";
  if (!test.codec.empty()) labels += ",codec=\"" + EscapeLabel(test.codec) + "\"";
  return labels + extra + "}";
}

void Gauge(std::ostringstream& out, const char* name, const char* help, const std::string& labels,
           double value) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n"
      << name << labels << " " << MetricValue(value) << "\n";
}

// One metric family: its help and type once, then a sample per label set.
struct LabelledValue {
  std::string labels;
  double value;
};
void Family(std::ostringstream& out, const char* name, const char* help,
            const std::vector<LabelledValue>& values) {
  if (values.empty()) return;
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n";
  for (const LabelledValue& v : values) out << name << v.labels << " " << MetricValue(v.value) << "\n";
}

// The window gauges of one stream, or of both directions of a call.
struct ScoredWindow {
  std::string labels;
  const TeskSample* sample;
};
void WindowGauges(std::ostringstream& out, const std::vector<ScoredWindow>& windows) {
  const auto each = [&](double (*value)(const TeskSample&)) {
    std::vector<LabelledValue> values;
    for (const ScoredWindow& w : windows) values.push_back({w.labels, value(*w.sample)});
    return values;
  };
  Family(out, "pulvo_mos", "Mean opinion score of the last window (1 to 5; 0 when rejected).",
         each([](const TeskSample& s) { return s.mos; }));
  Family(out, "pulvo_loss_ratio", "Loss rate of the last window (0 to 1).",
         each([](const TeskSample& s) { return s.lossRate; }));
  Family(out, "pulvo_lost_packets", "Packets lost in the last window.",
         each([](const TeskSample& s) { return double(s.lostPackets); }));
  Family(out, "pulvo_estimated_packets", "Packets expected in a window.",
         each([](const TeskSample& s) { return double(s.estimatedPackets); }));
  Family(out, "pulvo_average_burst_size_packets",
         "Average number of packets per loss burst in the last window.",
         each([](const TeskSample& s) { return s.averageBurstSize; }));
  Family(out, "pulvo_average_jitter_seconds", "Average jitter of the last window.",
         each([](const TeskSample& s) { return s.avgJitter / 1000.0; }));
  Family(out, "pulvo_emodel_r",
         "ITU-T G.107 E-model listening rating R of the last window (93.2 for a clean path; "
         "no delay impairment).",
         each([](const TeskSample& s) { return s.emodelR; }));
  Family(out, "pulvo_emodel_mos", "MOS of the last window's E-model listening rating (1 to 4.5).",
         each([](const TeskSample& s) { return s.emodelMos; }));
  Family(out, "pulvo_emodel_conversational_r",
         "E-model conversational rating R of the last window: the listening one less G.107's "
         "delay impairment at the mouth-to-ear delay.",
         each([](const TeskSample& s) { return s.conversationalR; }));
  Family(out, "pulvo_emodel_conversational_mos",
         "MOS of the last window's E-model conversational rating (1 to 4.5).",
         each([](const TeskSample& s) { return s.conversationalMos; }));
  Family(out, "pulvo_mouth_to_ear_delay_seconds",
         "Mouth-to-ear delay the conversational rating assumed: the one-way network delay, "
         "the packet interval, the de-jitter buffer and the codec's own delay.",
         each([](const TeskSample& s) { return s.mouthToEarMs / 1000.0; }));
}

// Each direction's class and hops, where known.
void PathGauges(std::ostringstream& out, const TestDescription& test,
                const std::vector<TeskCallDirection>& directions) {
  std::vector<LabelledValue> sent, received, remarked, hops;
  for (const TeskCallDirection& d : directions) {
    const std::string labels = Labels(test, std::string(",direction=\"") + d.name + "\"");
    if (d.dscpSent >= 0) sent.push_back({labels, double(d.dscpSent)});
    if (d.dscpReceived >= 0) received.push_back({labels, double(d.dscpReceived)});
    if (d.dscpSent >= 0 && d.dscpReceived >= 0) remarked.push_back({labels, Remarked(d) ? 1.0 : 0.0});
    if (d.hops >= 0) hops.push_back({labels, double(d.hops)});
  }
  Family(out, "pulvo_dscp_sent", "DSCP the last window's packets were sent with.", sent);
  Family(out, "pulvo_dscp_received", "DSCP most of the last window's packets arrived with.",
         received);
  Family(out, "pulvo_dscp_remarked",
         "1 when the last window's packets arrived in another class than they were sent with.",
         remarked);
  Family(out, "pulvo_hops", "Routers the last window's packets crossed.", hops);
}

void CallGauges(std::ostringstream& out, const TestDescription& test, const TeskCallSample& c) {
  std::vector<ScoredWindow> windows;
  for (const TeskCallDirection& d : scoredDirections(c)) {
    windows.push_back({Labels(test, std::string(",direction=\"") + d.name + "\""), d.sample});
  }
  WindowGauges(out, windows);
  const std::string labels = Labels(test);
  Family(out, "pulvo_round_trip_answers", "Answers that came back for the last window's packets.",
         {{labels, double(c.answers)}});
  Family(out, "pulvo_round_trip_min_seconds",
         "Shortest round trip of the last window, net of the reflector's residence.",
         {{labels, c.roundTripMinMs / 1000}});
  Family(out, "pulvo_round_trip_mean_seconds",
         "Mean round trip of the last window, net of the reflector's residence.",
         {{labels, c.roundTripMeanMs / 1000}});
  Family(out, "pulvo_round_trip_max_seconds",
         "Longest round trip of the last window, net of the reflector's residence.",
         {{labels, c.roundTripMaxMs / 1000}});
  // One-way delays exist only where both clocks are synchronised.
  std::vector<LabelledValue> oneWay;
  for (const TeskCallDirection& d : scoredDirections(c)) {
    if (std::isnan(d.oneWayDelayMs)) continue;
    oneWay.push_back({Labels(test, std::string(",direction=\"") + d.name + "\""),
                      d.oneWayDelayMs / 1000});
  }
  Family(out, "pulvo_one_way_delay_seconds",
         "Mean one-way delay of the last window (both clocks synchronised).", oneWay);
  PathGauges(out, test, scoredDirections(c));
}

}  // namespace

std::string FormatRfc3339(double secondsSinceEpoch) {
  const double whole = std::floor(secondsSinceEpoch);
  int millis = static_cast<int>(std::lround((secondsSinceEpoch - whole) * 1000.0));
  std::time_t seconds = static_cast<std::time_t>(whole);
  if (millis == 1000) {
    millis = 0;
    seconds++;
  }
  const std::tm t = UtcTime(seconds);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
  return text;
}

std::string StartLine(const TestDescription& test, double time) {
  JsonLine line("start", test, time);
  line.writer().Key("TestId");
  line.writer().Uint(test.testId);
  Parameters(line.writer(), test);
  return line.Finish();
}

// The designed members of a sample come first, as the designed JSON has them.
std::string SenderSampleLine(const TestDescription& test, double time, unsigned int sentPackets) {
  JsonLine line("sample", test, time);
  WriteSenderSampleMembers(line.writer(), sentPackets, test.testId);
  Parameters(line.writer(), test);
  return line.Finish();
}

std::string ReceiverSampleLine(const TestDescription& test, double time,
                               const TeskSample& s) {
  JsonLine line("sample", test, time);
  WriteReceiverSampleMembers(line.writer(), s);
  WriteEModelMembers(line.writer(), s);
  Parameters(line.writer(), test);
  return line.Finish();
}

std::string CallSampleLine(const TestDescription& test, double time,
                           const TeskCallDirection& direction, const TeskCallSample& call,
                           const std::string& path) {
  JsonLine line("sample", test, time, path);
  WriteCallSampleMembers(line.writer(), direction, call);
  WriteEModelMembers(line.writer(), *direction.sample);
  Parameters(line.writer(), test);
  return line.Finish();
}

std::string EndLine(const TestDescription& test, double time, int exitCode,
                    const std::string& reason, unsigned int samples) {
  JsonLine line("end", test, time);
  JsonWriter& w = line.writer();
  w.Key("TestId");
  w.Uint(test.testId);
  w.Key("ExitCode");
  w.Int(exitCode);
  w.Key("Reason");
  w.String(reason.c_str());
  w.Key("Samples");
  w.Uint(samples);
  return line.Finish();
}

std::string PrometheusText(const TestDescription& test, const MetricsState& state) {
  const std::string labels = Labels(test);
  std::ostringstream out;
  Gauge(out, "pulvo_test_running", "Whether the pulvo test is running (1) or has ended (0).",
        labels, state.running ? 1 : 0);
  if (state.lastSampleTime != 0) {
    Gauge(out, "pulvo_last_sample_timestamp_seconds",
          "Time of the last sample, seconds since the Unix epoch.", labels, state.lastSampleTime);
  }
  if (state.haveSenderSample) {
    Gauge(out, "pulvo_sent_packets", "Test packets sent so far.", labels, state.sentPackets);
  }
  if (state.haveReceiverSample) WindowGauges(out, {{labels, &state.receiver}});
  if (state.haveCallSample) CallGauges(out, test, state.call);
  return out.str();
}

LiveOutputs::~LiveOutputs() {
  if (jsonLines != nullptr) std::fclose(jsonLines);
}

bool LiveOutputs::Open(const std::string& jsonLinesPath, const std::string& metricsFile,
                       const TestDescription& description, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex);
  test = description;
  if (!jsonLinesPath.empty()) {
    jsonLines = std::fopen(jsonLinesPath.c_str(), "a");
    if (jsonLines == nullptr) {
      error = "cannot write " + jsonLinesPath + ": " + std::strerror(errno);
      return false;
    }
  }
  metricsPath = metricsFile;
  if (!metricsPath.empty()) {
    metrics.running = true;
    if (!WriteMetrics(&error)) {
      metricsPath.clear();
      return false;
    }
  }
  return true;
}

void LiveOutputs::Start(double time) {
  std::lock_guard<std::mutex> lock(mutex);
  WriteLine(StartLine(test, time));
}

void LiveOutputs::SenderSample(double time, unsigned int sentPackets) {
  std::lock_guard<std::mutex> lock(mutex);
  metrics.haveSenderSample = true;
  metrics.sentPackets = sentPackets;
  Record(time, SenderSampleLine(test, time, sentPackets));
}

void LiveOutputs::ReceiverSample(double time, const TeskSample& sample) {
  std::lock_guard<std::mutex> lock(mutex);
  metrics.haveReceiverSample = true;
  metrics.receiver = sample;
  Record(time, ReceiverSampleLine(test, time, sample));
}

void LiveOutputs::CallSample(double time, const TeskCallSample& sample, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  metrics.haveCallSample = true;
  metrics.call = sample;
  if (sample.silent) {
    JsonLine line("sample", test, time, path);
    WriteSilentCallMembers(line.writer(), sample);
    Parameters(line.writer(), test);
    WriteLine(line.Finish());
  }
  for (const TeskCallDirection& d : scoredDirections(sample)) {
    samples++;
    WriteLine(CallSampleLine(test, time, d, sample, path));
  }
  metrics.lastSampleTime = time;
  WriteMetrics(nullptr);
}

void LiveOutputs::Verdict(double time, const TeskVerdict& verdict) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!verdict.call(nullptr)) return;
  JsonLine line("verdict", test, time);
  line.writer().Key("TestId");
  line.writer().Uint(test.testId);
  WriteVerdictMembers(line.writer(), verdict);
  Parameters(line.writer(), test);
  WriteLine(line.Finish());
}

void LiveOutputs::Record(double time, const std::string& line) {
  samples++;
  WriteLine(line);
  metrics.lastSampleTime = time;
  WriteMetrics(nullptr);
}

void LiveOutputs::End(double time, int exitCode, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex);
  WriteLine(EndLine(test, time, exitCode, reason, samples));
  metrics.running = false;
  WriteMetrics(nullptr);
}

// One write per line, flushed at once: a reader following the file sees
// whole lines, and two pulvo processes may share one file.
void LiveOutputs::WriteLine(const std::string& line) {
  if (jsonLines == nullptr) return;
  const std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), jsonLines);
  std::fflush(jsonLines);
}

// Written beside the file under a name the textfile collector ignores, then
// renamed over it, so that a scrape never reads half a file.
bool LiveOutputs::WriteMetrics(std::string* error) {
  if (metricsPath.empty()) return true;
  const size_t slash = metricsPath.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? "" : metricsPath.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? metricsPath : metricsPath.substr(slash + 1);
  const std::string temporary = dir + "." + base + ".tmp";
  const std::string text = PrometheusText(test, metrics);
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  bool ok = file != nullptr;
  if (ok) {
    ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
  }
  if (ok) {
#if defined(_WIN32)
    std::remove(metricsPath.c_str());  // rename does not replace a file there
#endif
    ok = std::rename(temporary.c_str(), metricsPath.c_str()) == 0;
  }
  if (!ok && error != nullptr) *error = "cannot write " + metricsPath + ": " + std::strerror(errno);
  return ok;
}

double WallClockSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
