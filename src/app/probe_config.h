#ifndef PULVO_PROBE_CONFIG_H
#define PULVO_PROBE_CONFIG_H

// pulvo probe's configuration file: one line per path and where to serve
// the metrics.
//
//   # comments and blank lines are skipped
//   metrics 127.0.0.1:9863
//   path branch-1 ra=198.51.100.3,rp=862,co=G711
//   path branch-2 ra=2001:db8::3,kf=/etc/pulvo/stamp.key
//
// A path's parameters are those of pulvo call, with the same names, ranges
// and checks, but for testduration (a probe's calls go on) and the local
// address and port (every path goes out of the probe's one socket).

#include <cstdint>
#include <string>
#include <vector>

#include "tesk_probe.h"

struct ProbeSettings {
  std::string metricsAddress = "127.0.0.1";  // loopback unless told otherwise
  uint16_t metricsPort = 9863;
  std::vector<TeskProbePath> paths;
};

// The settings from `text` (read from `name`); false with "name:line:
// reason" for the first error.
bool ParseProbeConfig(const std::string& text, const std::string& name, ProbeSettings* out,
                      std::string* error);
bool ReadProbeConfig(const std::string& path, ProbeSettings* out, std::string* error);

#endif  // PULVO_PROBE_CONFIG_H
