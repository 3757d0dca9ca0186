#include "probe_metrics.h"

#include <sstream>

#include "call_format.h"
#include "prometheus_text.h"

namespace {

class Exposition {
 public:
  // One family: HELP and TYPE once, then its samples.
  void Family(const char* name, const char* type, const char* help) {
    out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    family = name;
  }
  void Sample(const TeskProbePathStatus& p, const char* direction, double value) {
    out << family << "{path=\"" << EscapeLabel(p.name) << "\",peer=\"" << EscapeLabel(p.peer) << "\"";
    if (direction != nullptr) out << ",direction=\"" << direction << "\"";
    out << ",codec=\"" << EscapeLabel(p.codec) << "\"} " << MetricValue(value) << "\n";
  }
  std::string Text() const { return out.str(); }

 private:
  std::ostringstream out;
  std::string family;
};

// The windows a path publishes: none while its reflector is silent, so that
// a dead path shows as down and never with its last score.
std::vector<TeskCallDirection> Windows(const TeskProbePathStatus& p) {
  if (!p.haveSample || !p.answering) return {};
  return scoredDirections(p.last);
}

}  // namespace

namespace {

using Paths = std::vector<TeskProbePathStatus>;

// Each path's state and its totals since it was configured.
void PathCounters(Exposition& e, const Paths& paths) {
  e.Family("pulvo_probe_path_up", "gauge",
           "Whether the path's reflector answered within its time-out (1) or not (0).");
  for (const TeskProbePathStatus& p : paths) e.Sample(p, nullptr, p.answering ? 1 : 0);
  e.Family("pulvo_probe_restarts_total", "counter",
           "Calls started afresh on the path after its reflector fell silent.");
  for (const TeskProbePathStatus& p : paths) e.Sample(p, nullptr, p.restarts);
  e.Family("pulvo_probe_sent_packets_total", "counter", "Test packets sent on the path.");
  for (const TeskProbePathStatus& p : paths) e.Sample(p, nullptr, static_cast<double>(p.sent));
  e.Family("pulvo_probe_received_packets_total", "counter",
           "Test packets that arrived: at the reflector (forward), back here (reverse).");
  for (const TeskProbePathStatus& p : paths) {
    // A request whose answer was lost did reach the reflector.
    e.Sample(p, "forward", static_cast<double>(p.answers + p.reverseLost));
    e.Sample(p, "reverse", static_cast<double>(p.answers));
  }
  e.Family("pulvo_probe_lost_packets_total", "counter", "Test packets lost on the way.");
  for (const TeskProbePathStatus& p : paths) {
    e.Sample(p, "forward", static_cast<double>(p.forwardLost));
    e.Sample(p, "reverse", static_cast<double>(p.reverseLost));
  }
}

// The last window's scores and figures, per path and direction.
void WindowFigures(Exposition& e, const Paths& paths) {
  struct WindowGauge {
    const char* name;
    const char* help;
    double (*value)(const TeskSample&);
  };
  const WindowGauge gauges[] = {
      {"pulvo_probe_mos", "MOS of the last window (1 to 5; 0 when rejected).",
       [](const TeskSample& s) { return s.mos; }},
      {"pulvo_probe_loss_ratio", "Loss rate of the last window (0 to 1).",
       [](const TeskSample& s) { return s.lossRate; }},
      {"pulvo_probe_average_burst_size_packets", "Average packets per loss burst, last window.",
       [](const TeskSample& s) { return s.averageBurstSize; }},
      {"pulvo_probe_average_jitter_seconds", "Average jitter of the last window.",
       [](const TeskSample& s) { return s.avgJitter / 1000.0; }},
      {"pulvo_probe_emodel_mos", "MOS of the last window's E-model listening rating (1 to 4.5).",
       [](const TeskSample& s) { return s.emodelMos; }},
      {"pulvo_probe_emodel_conversational_r",
       "E-model conversational rating R of the last window (the delay impairment included).",
       [](const TeskSample& s) { return s.conversationalR; }},
      {"pulvo_probe_emodel_conversational_mos",
       "MOS of the last window's E-model conversational rating (1 to 4.5).",
       [](const TeskSample& s) { return s.conversationalMos; }},
      {"pulvo_probe_mouth_to_ear_delay_seconds",
       "Mouth-to-ear delay of the conversational rating (half the round trip for the network "
       "unless both clocks are synchronised).",
       [](const TeskSample& s) { return s.mouthToEarMs / 1000.0; }},
  };
  for (const WindowGauge& g : gauges) {
    e.Family(g.name, "gauge", g.help);
    for (const TeskProbePathStatus& p : paths) {
      for (const TeskCallDirection& d : Windows(p)) e.Sample(p, d.name, g.value(*d.sample));
    }
  }
}

// Each way's class and hops, and the round trip.
void PathFigures(Exposition& e, const Paths& paths) {
  const struct {
    const char* name;
    const char* help;
    int (*value)(const TeskCallDirection&);
  } pathGauges[] = {
      {"pulvo_probe_dscp_received", "DSCP most of the last window's packets arrived with.",
       [](const TeskCallDirection& d) { return d.dscpReceived; }},
      {"pulvo_probe_dscp_remarked",
       "1 when the last window's packets arrived in another class than they were sent with.",
       [](const TeskCallDirection& d) {
         return d.dscpSent < 0 || d.dscpReceived < 0 ? -1 : Remarked(d) ? 1 : 0;
       }},
      {"pulvo_probe_hops", "Routers the last window's packets crossed.",
       [](const TeskCallDirection& d) { return d.hops; }},
  };
  for (const auto& g : pathGauges) {
    e.Family(g.name, "gauge", g.help);
    for (const TeskProbePathStatus& p : paths) {
      for (const TeskCallDirection& d : Windows(p)) {
        if (g.value(d) >= 0) e.Sample(p, d.name, g.value(d));
      }
    }
  }
  e.Family("pulvo_probe_round_trip_seconds", "gauge",
           "Mean round trip of the last window, net of the reflector's residence.");
  for (const TeskProbePathStatus& p : paths) {
    if (p.haveSample && p.answering && p.last.answers > 0) {
      e.Sample(p, nullptr, p.last.roundTripMeanMs / 1000);
    }
  }
}

}  // namespace

std::string ProbeMetricsText(const std::vector<TeskProbePathStatus>& paths) {
  Exposition e;
  PathCounters(e, paths);
  WindowFigures(e, paths);
  PathFigures(e, paths);
  return e.Text();
}

std::string ReflectorMetricsText(const TeskReflectorCounts& c) {
  std::ostringstream out;
  const auto family = [&](const char* name, const char* type, const char* help) {
    out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
  };
  family("pulvo_reflect_received_packets_total", "counter", "STAMP packets received.");
  out << "pulvo_reflect_received_packets_total " << c.received << "\n";
  family("pulvo_reflect_reflected_packets_total", "counter", "STAMP packets answered.");
  out << "pulvo_reflect_reflected_packets_total " << c.reflected << "\n";
  family("pulvo_reflect_refused_packets_total", "counter", "Packets refused an answer, by reason.");
  const struct {
    const char* reason;
    unsigned long long count;
  } refused[] = {{"too_short", c.tooShort},        {"not_allowed", c.notAllowed},
                 {"over_rate", c.overRate},        {"over_sessions", c.overSessions},
                 {"auth_failed", c.authFailed},    {"replayed", c.replayed}};
  for (const auto& r : refused) {
    out << "pulvo_reflect_refused_packets_total{reason=\"" << r.reason << "\"} " << r.count << "\n";
  }
  if (c.twamp) {
    out << "pulvo_reflect_refused_packets_total{reason=\"not_requested\"} " << c.notRequested
        << "\n";
  }
  family("pulvo_reflect_sessions", "gauge", "Sessions open.");
  out << "pulvo_reflect_sessions " << c.sessions << "\n";
  family("pulvo_reflect_sessions_forgotten_total", "counter", "Sessions forgotten for being idle.");
  out << "pulvo_reflect_sessions_forgotten_total " << c.sessionsForgotten << "\n";
  if (!c.twamp) return out.str();
  const struct {
    const char* name;
    const char* help;
    unsigned long long count;
  } control[] = {
      {"pulvo_reflect_twamp_control_connections_total", "TWAMP control connections taken.",
       c.controlConnections},
      {"pulvo_reflect_twamp_control_refused_total",
       "TWAMP control connections refused (a limit, a source not allowed, a mode or message "
       "not served).",
       c.controlRefused},
      {"pulvo_reflect_twamp_servwait_closed_total",
       "TWAMP control connections closed for their silence (SERVWAIT).", c.servWaitClosed},
      {"pulvo_reflect_twamp_sessions_total", "TWAMP test sessions set up.", c.twampSessions},
      {"pulvo_reflect_twamp_sessions_refused_total", "TWAMP test sessions refused.",
       c.twampSessionsRefused},
      {"pulvo_reflect_twamp_refwait_ended_total",
       "TWAMP test sessions ended without test packets (REFWAIT).", c.refWaitEnded},
  };
  for (const auto& f : control) {
    family(f.name, "counter", f.help);
    out << f.name << " " << f.count << "\n";
  }
  return out.str();
}
