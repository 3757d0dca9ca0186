#ifndef TESK_VERDICT_H
#define TESK_VERDICT_H

// One verdict per direction of a call, and one for the call: what its
// windows' E-model ratings add up to, in G.107's words for how satisfied
// users would be. The conversational rating decides; the listening one and
// the delay it assumed are kept beside it.

#include <string>
#include <vector>

#include "tesk_export.h"
#include "tesk_sample.h"

struct TeskDirectionVerdict {
  std::string direction;  // "forward", "reverse", "round-trip", or a stream's name
  unsigned int windows = 0;
  // Means over the windows, and the worst window's conversational R.
  double listeningR = 0.0;
  double conversationalR = 0.0;
  double conversationalMos = 0.0;  // of the mean R
  double worstConversationalR = 0.0;
  double mouthToEarMs = 0.0;
  double networkDelayMs = 0.0;
  TeskDelaySource delaySource = TeskDelaySource::Assumed;  // of the last window
  bool wideband = false;
  // G.107's user satisfaction of the mean conversational R: "very
  // satisfied", "satisfied", "some users dissatisfied", "many users
  // dissatisfied", "nearly all users dissatisfied" or "not recommended".
  std::string satisfaction;
};

class TESK_EXPORT TeskVerdict {
 public:
  // One scored window of `direction`.
  void add(const std::string& direction, const TeskSample& window);
  // Each direction that had a window, in the order they first came.
  std::vector<TeskDirectionVerdict> directions() const;
  // The call's verdict: its worse direction (the lower mean conversational
  // R), into `worse` unless it is null; false when no window was scored.
  bool call(TeskDirectionVerdict* worse) const;

 private:
  struct Tally {
    std::string direction;
    unsigned int windows = 0;
    double listening = 0, conversational = 0, worst = 0, mouthToEar = 0, network = 0;
    TeskDelaySource source = TeskDelaySource::Assumed;
    bool wideband = false;
  };
  std::vector<Tally> tallies;
};

#endif  // TESK_VERDICT_H
