// Capture files as they come: libpcap's reader, the link-layer, IP and UDP
// decoding, the RTP and pulvo stream tables and the windows on capture time.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "capture_analysis.h"
#include "capture_file.h"

namespace {

// Every window's E-model ratings are numbers, whatever the capture held:
// listening R at most a clean path's, the conversational at most the
// listening one, the delay behind it never negative.
struct Discard : TeskAnalyzerCallback {
  void streamFound(const TeskStreamInfo&) override {}
  void doCallback(unsigned, double, const TeskSample& s) override {
    const double clean = s.wideband ? 129.0 : 93.2;
    if (!std::isfinite(s.emodelR) || !std::isfinite(s.conversationalR) || s.emodelR > clean ||
        s.conversationalR > s.emodelR || !(s.mouthToEarMs >= 0.0) || s.emodelMos < 1.0 ||
        s.conversationalMos > s.emodelMos) {
      std::abort();
    }
  }
  void streamEnded(const TeskStreamInfo&, int) override {}
};

struct Sink : CaptureFrameSink {
  explicit Sink(CaptureAnalysis& target) : analysis(target) {}
  void frame(int64_t micros, int linkType, const uint8_t* data, size_t length) override {
    analysis.addFrame(micros, linkType, data, length);
  }
  CaptureAnalysis& analysis;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  Discard results;
  CaptureAnalysisSettings settings;
  settings.window.windowSize = 2000;
  settings.window.sampleInterval = 1000;
  settings.dynamicCodec = 0;
  CaptureAnalysis analysis(settings, &results);
  Sink sink(analysis);
  std::string error;
  readCaptureStream(file, sink, &error);
  analysis.finish();
  return 0;
}
