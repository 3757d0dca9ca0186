#include "call_results.h"

#include <iostream>

#include "live_outputs.h"

void CallResults::Direction(const TeskCallDirection& d, const TeskCallSample& c) {
  verdict.add(d.name, *d.sample);
  if (text) {
    std::cout << FormatCallLine(d, c) << (emodel ? FormatEModelColumn(*d.sample) : "")
              << std::endl;
    return;
  }
  JsonWriter& w = samples.writer();
  w.StartObject();
  WriteCallSampleMembers(w, d, c);
  if (emodel) WriteEModelMembers(w, *d.sample);
  w.EndObject();
}

void CallResults::onSample(const TeskCallSample& sample) {
  const std::string notice = WayBackNotice(sample.wayBack, wayBack);
  if (!notice.empty()) std::cerr << "pulvo: " << notice << std::endl;
  wayBack = sample.wayBack;
  for (const TeskCallDirection& d : scoredDirections(sample)) {
    const bool forward = d.name == std::string("forward");
    if (!forward && d.name != std::string("reverse")) continue;
    PathState& path = forward ? forwardPath : reversePath;
    const std::string change = PathNotice(d, path.hops, path.remarked);
    if (!change.empty()) std::cerr << "pulvo: " << change << std::endl;
    if (d.hops >= 0) path.hops = d.hops;
    if (d.dscpReceived >= 0) path.remarked = Remarked(d) ? 1 : 0;
  }
  if (sayUnscored && sample.unscored.total() > unscoredSaid.total()) {
    std::cerr << "pulvo: answers not scored since the last window: "
              << teskUnscoredText(sample.unscored.since(unscoredSaid), authenticated) << std::endl;
    unscoredSaid = sample.unscored;
  }
  if (sample.silent && text) {
    std::cout << FormatSilentCallLine(sample) << std::endl;
  } else if (sample.silent) {
    JsonWriter& w = samples.writer();
    w.StartObject();
    WriteSilentCallMembers(w, sample);
    w.EndObject();
  }
  for (const TeskCallDirection& d : scoredDirections(sample)) Direction(d, sample);
  if (live != nullptr) live->CallSample(WallClockSeconds(), sample);
}

std::string CallResults::Finish() {
  if (text) return FormatVerdict(verdict);
  if (verdict.call(nullptr)) {
    samples.writer().StartObject();
    WriteVerdictMembers(samples.writer(), verdict);
    samples.writer().EndObject();
  }
  samples.Finish();
  return samples.Text();
}
