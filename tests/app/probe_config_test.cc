#include "probe_config.h"

#include <gtest/gtest.h>

#include <vector>

#include "probe_metrics.h"

namespace {

// Every line's error names the file and the line; a good file gives the
// paths with the call's parameters and the metrics address.
TEST(ProbeConfigTest, PathsAndTheLineOfEachError) {
  ProbeSettings s;
  std::string error;
  ASSERT_TRUE(ParseProbeConfig("# fleet\n\nmetrics [::1]:9100\npath a ra=192.0.2.1,co=GSM0610 # x\n"
                               "path b ra=2001:db8::3,rp=8620,ws=8,sai=2\n",
                               "p.conf", &s, &error))
      << error;
  EXPECT_EQ(s.metricsAddress, "::1");
  EXPECT_EQ(s.metricsPort, 9100);
  ASSERT_EQ(s.paths.size(), 2u);
  EXPECT_EQ(s.paths[0].call.codec, 1);
  EXPECT_EQ(s.paths[0].call.remotePort, 862);
  EXPECT_EQ(s.paths[1].call.remoteAddress, "2001:db8::3");
  EXPECT_EQ(s.paths[1].call.windowSize, 8000);
  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"path a ra=192.0.2.1\nroute b\n", "p.conf:2: unknown keyword route (metrics, path)"},
      {"path a\n", "p.conf:1: path takes a name and the call's parameters"},
      {"path a ra=192.0.2.1\npath a ra=192.0.2.2\n", "p.conf:2: path a is named twice"},
      {"path a ra=192.0.2.1,xx=1\n", "p.conf:1: path a: unknown parameter xx"},
      {"path a ra=192.0.2.1,td=5\n", "p.conf:1: path a: unknown parameter td"},
      {"path a lp=5000\n", "p.conf:1: path a: lp cannot be chosen per path"},
      {"path a co=G729\n", "p.conf:1: path a: codec G729 is neither G711 nor GSM0610"},
      {"path a ws=99\n", "p.conf:1: path a: windowsize 99 is out of its range"},
      {"metrics localhost:9100\npath a ra=192.0.2.1\n", "p.conf:1: metrics takes one ADDRESS:PORT"},
      {"metrics 127.0.0.1:0\n", "p.conf:1: metrics takes one ADDRESS:PORT"},
      {"# nothing\n", "p.conf: no path"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(ParseProbeConfig(b.text, "p.conf", &s, &error)) << b.text;
    EXPECT_EQ(error.rfind(b.error, 0), 0u) << error;
  }
}

// Each family once, its samples labelled by path, peer, direction and codec
// only; a direction without a window has no window gauges.
TEST(ProbeConfigTest, MetricsExposition) {
  TeskProbePathStatus up, down;
  up.name = "a\"b";
  up.peer = "[::1]:862";
  up.codec = "G711";
  up.answering = true;
  up.haveSample = true;
  up.last.haveForward = true;
  up.last.forward.mos = 4.0;
  up.last.answers = 200;
  up.last.roundTripMeanMs = 250;
  up.last.forwardDscpSent = 46;
  up.last.forwardDscpReceived = 0;
  up.last.forwardHops = 3;
  up.sent = 300;
  up.answers = 290;
  up.forwardLost = 6;
  up.reverseLost = 4;
  down.name = "c";
  down.peer = "192.0.2.1:862";
  down.codec = "GSM0610";
  const std::string text = ProbeMetricsText({up, down});
  const std::string labels = "{path=\"a\\\"b\",peer=\"[::1]:862\"";
  for (const std::string& line : std::vector<std::string>{
           "# TYPE pulvo_probe_path_up gauge\n", "pulvo_probe_path_up" + labels + ",codec=\"G711\"} 1\n",
        "pulvo_probe_path_up{path=\"c\",peer=\"192.0.2.1:862\",codec=\"GSM0610\"} 0\n",
        "pulvo_probe_received_packets_total" + labels + ",direction=\"forward\",codec=\"G711\"} 294\n",
        "pulvo_probe_lost_packets_total" + labels + ",direction=\"reverse\",codec=\"G711\"} 4\n",
        "pulvo_probe_mos" + labels + ",direction=\"forward\",codec=\"G711\"} 4\n",
        "pulvo_probe_round_trip_seconds" + labels + ",codec=\"G711\"} 0.25\n",
        "pulvo_probe_dscp_remarked" + labels + ",direction=\"forward\",codec=\"G711\"} 1\n",
        "pulvo_probe_hops" + labels + ",direction=\"forward\",codec=\"G711\"} 3\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_EQ(text.find("direction=\"reverse\",codec=\"G711\"} 0\n# HELP pulvo_probe_loss"),
            std::string::npos);
  EXPECT_EQ(text.find("pulvo_probe_mos{path=\"c\""), std::string::npos);  // no window yet
  size_t families = 0;
  for (size_t at = text.find("# TYPE "); at != std::string::npos; at = text.find("# TYPE ", at + 1)) {
    families++;
  }
  EXPECT_EQ(families, 17u);
}

}  // namespace
