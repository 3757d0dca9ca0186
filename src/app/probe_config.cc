#include "probe_config.h"

#include <fstream>
#include <sstream>

#include "address_text.h"
#include "call_command.h"
#include "host_names.h"

namespace {

// "name=value,name=value": false with the reason for a pair that is no
// parameter of a call.
bool SetCallParameters(const std::string& text, CallCmdParams* params, std::string* error) {
  std::stringstream pairs(text);
  std::string pair;
  while (std::getline(pairs, pair, ',')) {
    const size_t equals = pair.find('=');
    std::string name = pair.substr(0, equals);
    if (equals == std::string::npos || name.empty()) {
      *error = "\"" + pair + "\" is not name=value";
      return false;
    }
    if (!params->Find(name) || name == "testduration" || name == "td") {
      *error = "unknown parameter " + name;
      return false;
    }
    if (name == "localaddr" || name == "la" || name == "localport" || name == "lp") {
      *error = name + " cannot be chosen per path: a probe sends every path from one socket";
      return false;
    }
    params->SetCmdParamInputValue(name, pair.substr(equals + 1));
  }
  return true;
}

}  // namespace

bool ParseProbeConfig(const std::string& text, const std::string& name, ProbeSettings* out,
                      std::string* error) {
  ProbeSettings settings;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const auto fail = [&](const std::string& reason) {
      *error = name + ":" + std::to_string(number) + ": " + reason;
      return false;
    };
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string keyword, first, rest, extra;
    if (!(words >> keyword)) continue;
    words >> first >> rest >> extra;
    if (keyword == "metrics") {
      if (first.empty() || !rest.empty() ||
          !ParseMetricsEndpoint(first, &settings.metricsAddress, &settings.metricsPort)) {
        return fail("metrics takes one ADDRESS:PORT (127.0.0.1:9863, [::1]:9863)");
      }
    } else if (keyword == "path") {
      if (first.empty() || rest.empty() || !extra.empty()) {
        return fail("path takes a name and the call's parameters (path NAME ra=ADDRESS,...)");
      }
      for (const TeskProbePath& p : settings.paths) {
        if (p.name == first) return fail("path " + first + " is named twice");
      }
      CallCmdParams params;
      std::string reason;
      if (!SetCallParameters(rest, &params, &reason)) return fail("path " + first + ": " + reason);
      // Names are resolved at each reading: at the start and at each reload.
      std::vector<std::string> resolved;
      if (!ResolveHostNames(params, {"remoteaddr", "localaddr"}, &resolved, &reason)) {
        return fail("path " + first + ": " + reason);
      }
      reason = FirstCallError(params);
      if (!reason.empty()) return fail("path " + first + ": " + reason);
      settings.paths.push_back({first, CallConfigOf(params)});
    } else {
      return fail("unknown keyword " + keyword + " (metrics, path)");
    }
  }
  if (settings.paths.empty()) {
    *error = name + ": no path";
    return false;
  }
  *out = settings;
  return true;
}

bool ReadProbeConfig(const std::string& path, ProbeSettings* out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseProbeConfig(text.str(), path, out, error);
}
