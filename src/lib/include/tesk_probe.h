#ifndef TESK_PROBE_H
#define TESK_PROBE_H

// Many two-way calls from one process, one thread and one socket: a probe
// keeps calling a list of STAMP reflectors, scores every path per window
// and per direction as pulvo call does, and keeps each path's latest
// figures and totals for a metrics endpoint. A path whose reflector stops
// answering is reported as such and called again.

#include <memory>
#include <string>
#include <vector>

#include "tesk_call.h"
#include "tesk_errors.h"
#include "tesk_export.h"

struct TeskProbePath {
  std::string name;     // unique within the probe
  TeskCallConfig call;  // testDuration is ignored: the call goes on
};

struct TeskProbePathStatus {
  std::string name, peer, codec;
  bool answering = false;  // an answer came within the path's time-out
  unsigned int restarts = 0;  // times the call was started afresh after silence
  bool haveSample = false;
  TeskCallSample last;
  // Since the path was configured.
  unsigned long long sent = 0, answers = 0, forwardLost = 0, reverseLost = 0;
};

class TESK_EXPORT TeskProbe {
 public:
  TeskProbe();
  virtual ~TeskProbe();

  // Replaces the paths: a path whose name and settings did not change keeps
  // its call and its totals. Call before run() or from onTick(). False,
  // with the reason and nothing changed, when a path is refused.
  bool setPaths(const std::vector<TeskProbePath>& paths, std::string* error);

  // On the probe's thread: each scored window of a path, and about once a
  // second (where a caller reloads its configuration, for example).
  virtual void onSample(const std::string& /*path*/, const TeskCallSample& /*sample*/) {}
  virtual void onTick() {}

  // Runs until the duration ends (0: until the process is asked to stop);
  // 0 or a TeskError.
  int run(unsigned int durationMs);

  // The paths' figures now; safe from any thread.
  std::vector<TeskProbePathStatus> status() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl;
};

#endif  // TESK_PROBE_H
