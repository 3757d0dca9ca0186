#ifndef PULVO_PROBE_METRICS_H
#define PULVO_PROBE_METRICS_H

// The long-running commands' metrics in the Prometheus text format: pulvo
// probe's paths and pulvo reflect's counters. Labels are few and
// stable: the path's name, its peer, the direction and the codec; never a
// call's or a packet's identifiers.

#include <string>
#include <vector>

#include "tesk_probe.h"
#include "tesk_stamp.h"

std::string ProbeMetricsText(const std::vector<TeskProbePathStatus>& paths);
// pulvo reflect's counters, for its own /metrics.
std::string ReflectorMetricsText(const TeskReflectorCounts& counts);

#endif  // PULVO_PROBE_METRICS_H
