#ifndef PULVO_CALL_RESULTS_H
#define PULVO_CALL_RESULTS_H

// The results of `pulvo call`: per tick, one text line or JSON object for
// each direction that was scored, the round trip beside it.

#include <string>

#include "call_format.h"

class LiveOutputs;

// The caller as the command runs it: text lines as the ticks come, or one
// JSON array at the end; each tick also goes to the live outputs.
class CallResults : public TeskCaller {
 public:
  // `verbose`: what was not scored is said on standard error as it comes.
  CallResults(const TeskCallConfig& callConfig, bool asText, bool withEModel, bool verbose,
              LiveOutputs* outputs)
      : TeskCaller(callConfig),
        text(asText),
        emodel(withEModel),
        sayUnscored(verbose),
        authenticated(!callConfig.keyFile.empty()),
        live(outputs) {}
  void onSample(const TeskCallSample& sample) override;
  // The JSON array with the verdict last, closed; for text, the verdict's
  // lines.
  std::string Finish();
  const TeskVerdict& Verdict() const { return verdict; }

 private:
  void Direction(const TeskCallDirection& direction, const TeskCallSample& c);

  const bool text, emodel, sayUnscored, authenticated;
  TeskUnscoredAnswers unscoredSaid;
  LiveOutputs* const live;
  JSONSampleArray samples;
  TeskVerdict verdict;
  TeskWayBack wayBack = TeskWayBack::Known;
  struct PathState {
    int hops = -1, remarked = -1;
  };
  PathState forwardPath, reversePath;
};

#endif  // PULVO_CALL_RESULTS_H
