#ifndef PULVO_PROBE_METRICS_H
#define PULVO_PROBE_METRICS_H

// pulvo probe's paths in the Prometheus text format. Labels are few and
// stable: the path's name, its peer, the direction and the codec; never a
// call's or a packet's identifiers.

#include <string>
#include <vector>

#include "tesk_probe.h"

std::string ProbeMetricsText(const std::vector<TeskProbePathStatus>& paths);

#endif  // PULVO_PROBE_METRICS_H
