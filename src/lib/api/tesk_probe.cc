#include "tesk_probe.h"

#include "probe_runner.h"
#include "test_error.h"

struct TeskProbe::Impl : ProbeHooks {
  explicit Impl(TeskProbe* probe) : owner(probe) {}
  void sample(const std::string& path, const TeskCallSample& s) override { owner->onSample(path, s); }
  void everySecond() override { owner->onTick(); }
  TeskProbe* owner;
  ProbeRunner runner;
};

TeskProbe::TeskProbe() : impl(std::make_unique<Impl>(this)) {}
TeskProbe::~TeskProbe() = default;

bool TeskProbe::setPaths(const std::vector<TeskProbePath>& paths, std::string* error) {
  return impl->runner.setPaths(paths, error);
}

int TeskProbe::run(unsigned int durationMs) {
  SystemEnvironment env;
  const TestOutcome outcome = impl->runner.run(durationMs, env, *impl);
  setLastTestError(outcome.reason);
  return outcome.code;
}

std::vector<TeskProbePathStatus> TeskProbe::status() const { return impl->runner.status(); }
