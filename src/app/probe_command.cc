// pulvo probe: many two-way calls from one process, their figures served at
// /metrics, the configuration read again on SIGHUP.

#include <iostream>

#include "call_format.h"
#include "interrupt.h"
#include "live_outputs.h"
#include "metrics_http.h"
#include "probe_config.h"
#include "probe_metrics.h"
#include "pulvo_main.h"

namespace {

class ProbeApp : public TeskProbe {
 public:
  ProbeApp(std::string configPath, bool asText, const ProbeSettings& started)
      : path(std::move(configPath)), text(asText), running(started) {}

  // The JSON lines file of --json-lines, when there is one.
  void setLiveOutputs(LiveOutputs* outputs) { live = outputs; }

  void onSample(const std::string& name, const TeskCallSample& s) override {
    if (live != nullptr) live->CallSample(WallClockSeconds(), s, name);
    if (!text) return;
    if (s.silent) std::cout << name << " " << FormatSilentCallLine(s) << "\n";
    for (const TeskCallDirection& d : scoredDirections(s)) {
      std::cout << name << " " << FormatCallLine(d, s) << "\n";
    }
    std::cout << std::flush;
  }

  // A configuration read again on SIGHUP replaces the paths; one with an
  // error is refused and the running one kept, and so is one that moves
  // /metrics, which is served from where the probe started.
  void onTick() override {
    if (!TakeReloadRequest()) return;
    ProbeSettings settings;
    std::string error;
    if (ReadProbeConfig(path, &settings, &error) &&
        (settings.metricsAddress != running.metricsAddress ||
         settings.metricsPort != running.metricsPort)) {
      error = "the metrics line moves /metrics from " +
              EndText(running.metricsAddress, running.metricsPort) +
              ", which only a restart does";
    }
    if (!error.empty() || !setPaths(settings.paths, &error)) {
      std::cerr << "pulvo: probe: configuration not reloaded, the running one is kept: " << error
                << std::endl;
      return;
    }
    std::cerr << "pulvo: probe: configuration reloaded: " << settings.paths.size() << " paths"
              << std::endl;
  }

 private:
  const std::string path;
  const bool text;
  const ProbeSettings running;  // as the probe started: where /metrics is
  LiveOutputs* live = nullptr;
};

TestDescription DescribeProbe(const std::string& config, const ProbeSettings& settings) {
  TestDescription d;
  d.command = "probe";
  d.localEnd = EndText(settings.metricsAddress, settings.metricsPort);
  d.parameters = {TextParameter("Config", config),
                  NumberParameter("Paths", settings.paths.size())};
  return d;
}

}  // namespace

int PulvoMain::ParseAndStartProbe(const OnOffOptionSet& options, ProbeCmdParams* params,
                                  char* parameterText) {
  if (!ParseParametersStrictly(params, parameterText)) return normalizeErrorCode(PARAMETER_ERROR);
  const std::string range = params->FirstValueOutOfRange();
  ProbeSettings settings;
  std::string error = range;
  const std::string& config = params->Text("config");
  if (error.empty()) ReadProbeConfig(config, &settings, &error);
  ProbeApp probe(config, options.IsResultsAsTextOn(), settings);
  if (error.empty()) probe.setPaths(settings.paths, &error);
  if (!error.empty()) {
    std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << error << std::endl;
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  std::unique_ptr<MetricsEndpoint> endpoint = MetricsEndpoint::Start(
      settings.metricsAddress, settings.metricsPort,
      [&probe] { return ProbeMetricsText(probe.status()); }, &error);
  if (endpoint == nullptr) {
    std::cerr << "pulvo: " << teskErrorName(SOCKET_ERROR) << ": " << error << std::endl;
    return normalizeErrorCode(SOCKET_ERROR);
  }
  // --json-lines: every path's windows, each line naming its path.
  if (!OpenLiveOutputs(DescribeProbe(config, settings))) return kExitPulvoException;
  probe.setLiveOutputs(live);
  InstallReloadHandler();
  const int result = probe.run(static_cast<unsigned int>(params->Millis("duration")));
  endpoint.reset();
  // A probe runs until it is stopped: a stop by signal is its end.
  if (result < 0) std::cerr << FailureLine(result) << std::endl;
  const int exitCode = normalizeErrorCode(result);
  EndLiveOutputs(exitCode, result);
  return exitCode;
}
