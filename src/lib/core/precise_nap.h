#ifndef TESK_PRECISE_NAP_H
#define TESK_PRECISE_NAP_H

// A nap that ends when it should, not merely after it.
//
// A sleeping thread wakes late: timer slack, idle states and, on a virtual
// machine, the host all add to it, typically 30 to 400 µs. A stream paced by
// sleeping loses that much every period. The precise nap learns, per thread,
// how late its sleeps wake and sleeps short by that much, in two stages, then
// spins the last few microseconds:
//
//   1. a long sleep that ends before the fine stage should begin, leaving a
//      margin of the long sleeps' lateness;
//   2. a short sleep that ends just before the deadline, leaving a margin of
//      the short sleeps' lateness, which is small and steady;
//   3. a spin on the clock up to the deadline.
//
// Only the fine margin costs CPU, so it is learnt tightly; the long margin is
// generous.

#include <cstdint>

// How late the short sleeps wake: a smoothed mean and mean deviation, the
// estimator TCP uses for round-trip times. Lateness beyond
// kMaxLearntLatenessNanos is learnt as that much, so that one preemption
// cannot make the margin huge.
struct WakeLateness {
  double meanNanos;
  double deviationNanos;
};
constexpr double kMaxLearntLatenessNanos = 2e6;

void wakeLatenessObserve(WakeLateness& lateness, int64_t lateNanos);

// How late the long sleeps wake, as a running estimate of the 99th
// percentile: each observation above it raises it by a step, each one below
// lowers it by a 99th of that step, so it settles where 1 % lie above. The
// long sleeps' lateness has a long tail that a mean and deviation follow
// poorly, and overestimating it costs nothing but a longer short sleep.
struct LatenessPercentile {
  double nanos;
};
void latenessPercentileObserve(LatenessPercentile& percentile, int64_t lateNanos);

struct PreciseNapState {
  LatenessPercentile longSleep{300e3};
  WakeLateness shortSleep{40e3, 10e3};
};

// Margins, in nanoseconds, left before the deadline (fine) and before the
// fine stage (coarse). The fine margin is capped so that a host whose short
// sleeps are very late naps a little late instead of spinning long.
int64_t preciseNapFineMargin(const PreciseNapState& state);
int64_t preciseNapCoarseMargin(const PreciseNapState& state);

struct PreciseNapClock {
  int64_t (*nowNanos)(void* context);  // a monotonic clock
  void (*sleepUntilNanos)(void* context, int64_t deadline);
  void* context;
};

// Returns at the first clock reading at or after `microseconds` from now;
// returns at once for 0.
void preciseNap(unsigned int microseconds, PreciseNapState& state, const PreciseNapClock& clock);

#endif  // TESK_PRECISE_NAP_H
