#include "precise_nap.h"

#include <algorithm>
#include <cmath>

namespace {

// The fine margin is the mean lateness plus two mean deviations: a rare
// overshoot of a few microseconds is cheaper than spinning longer on every nap.
constexpr double kFineDeviations = 2.0;
constexpr double kMaxFineMarginNanos = 200e3;
constexpr double kPercentileStepNanos = 20e3;

double clampLateness(int64_t lateNanos) {
  return std::min(std::max(0.0, static_cast<double>(lateNanos)), kMaxLearntLatenessNanos);
}

}  // namespace

void wakeLatenessObserve(WakeLateness& w, int64_t lateNanos) {
  const double late = clampLateness(lateNanos);
  w.deviationNanos += (std::fabs(late - w.meanNanos) - w.deviationNanos) / 4.0;
  w.meanNanos += (late - w.meanNanos) / 8.0;
}

void latenessPercentileObserve(LatenessPercentile& p, int64_t lateNanos) {
  if (clampLateness(lateNanos) > p.nanos) {
    p.nanos += kPercentileStepNanos;
  } else {
    p.nanos = std::max(0.0, p.nanos - kPercentileStepNanos / 99.0);
  }
}

int64_t preciseNapFineMargin(const PreciseNapState& s) {
  const double margin = s.shortSleep.meanNanos + kFineDeviations * s.shortSleep.deviationNanos;
  return static_cast<int64_t>(std::min(margin, kMaxFineMarginNanos));
}

int64_t preciseNapCoarseMargin(const PreciseNapState& s) { return static_cast<int64_t>(s.longSleep.nanos); }

void preciseNap(unsigned int microseconds, PreciseNapState& state, const PreciseNapClock& clock) {
  if (microseconds == 0) return;
  int64_t now = clock.nowNanos(clock.context);
  const int64_t deadline = now + static_cast<int64_t>(microseconds) * 1000;
  const int64_t fine = preciseNapFineMargin(state);
  const int64_t coarse = preciseNapCoarseMargin(state);

  if (deadline - now > fine + coarse) {
    const int64_t wakeAt = deadline - fine - coarse;
    clock.sleepUntilNanos(clock.context, wakeAt);
    now = clock.nowNanos(clock.context);
    latenessPercentileObserve(state.longSleep, now - wakeAt);
  }
  if (deadline - now > fine) {
    const int64_t wakeAt = deadline - fine;
    clock.sleepUntilNanos(clock.context, wakeAt);
    now = clock.nowNanos(clock.context);
    wakeLatenessObserve(state.shortSleep, now - wakeAt);
  }
  while (now < deadline) now = clock.nowNanos(clock.context);
}
