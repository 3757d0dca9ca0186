#include "tesk_analyze.h"

#include <vector>

#include "capture_analysis.h"
#include "capture_file.h"
#include "tesk_log.h"
#include "test_error.h"

namespace {

class AnalysisSink : public CaptureFrameSink {
 public:
  explicit AnalysisSink(CaptureAnalysis& target) : analysis(target) {}
  void frame(int64_t timeMicros, int linkType, const uint8_t* data, size_t length) override {
    analysis.addFrame(timeMicros, linkType, data, length);
  }

 private:
  CaptureAnalysis& analysis;
};

}  // namespace

TeskAnalyzer::TeskAnalyzer(std::string file, unsigned short windowMs, unsigned short sampleMs,
                           unsigned short dejitterMs, unsigned int timeoutMs, unsigned int id,
                           TeskAnalyzerCallback* handler)
    : captureFile(std::move(file)),
      windowSize(windowMs),
      sampleInterval(sampleMs),
      dejitterLength(dejitterMs),
      timeout(timeoutMs),
      testId(id),
      callback(handler) {}

// The receive test's rules for the window, with the capture in place of the
// socket.
int TeskAnalyzer::analyzeCapture() {
  FailureNote failure;
  const std::string prefix = "Error in analyzer parameter: ";
  std::vector<std::string> errors;
  if (captureFile.empty()) errors.push_back(prefix + "no capture file given");
  CaptureAnalysisSettings settings;
  settings.window.windowSize = windowSize;
  settings.window.sampleInterval = sampleInterval;
  settings.window.dejitterLength = dejitterLength;
  settings.window.timeout = timeout;
  settings.window.testId = testId;
  settings.window.networkDelayMs = oneWayDelayMs;
  settings.port = port;
  settings.stream = stream;
  settings.dynamicCodec = dynamicCodec;
  settings.eventPayloadType = eventPayloadType;
  settings.window.validate(prefix, &errors);
  if (dynamicCodec < -1 || dynamicCodec > 1) errors.push_back(prefix + "unknown codec");
  if (eventPayloadType != 0 && (eventPayloadType < 96 || eventPayloadType > 127)) {
    errors.push_back(prefix + "event payload type not dynamic (96-127)");
  }
  if (callback == nullptr) errors.push_back(prefix + "invalid callback");
  if (!TESK_PARAMETERS_ACCEPTED(errors, failure)) {
    setLastTestError(failure.text());
    return PARAMETER_ERROR;
  }

  CaptureAnalysis analysis(settings, callback);
  AnalysisSink sink(analysis);
  std::string readError;
  const bool readWhole = readCaptureFile(captureFile, sink, &readError);
  const int result = analysis.finish();
  captureCounts = analysis.counts();
  if (!readWhole) {
    // libpcap names the file in some of its messages, not in others; the
    // damage is the reason, whatever the streams read before it said.
    const bool named = readError.compare(0, captureFile.size(), captureFile) == 0;
    setLastTestError(named ? readError : captureFile + ": " + readError);
    TESK_LOG(7, "Capture " << captureFile << " cannot be read: " << readError);
    return PARAMETER_ERROR;
  }
  setLastTestError(outcomeOf(result, analysis.failure()).reason);
  return result;
}
