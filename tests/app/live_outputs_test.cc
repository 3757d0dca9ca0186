#include "live_outputs.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "result_callbacks.h"

namespace {

TestDescription Receiver() {
  TestDescription d;
  d.command = "recv";
  d.testId = 7;
  d.localEnd = "[::1]:50000";
  d.parameters = {{"LocalAddress", "::1", false, 0}, {"LocalPort", "", true, 50000}};
  return d;
}

TeskSample Sample(double mos, double lossRate) {
  TeskSample s;
  s.mos = mos;
  s.lossRate = lossRate;
  s.averageBurstSize = 1.5;
  s.lostPackets = 3;
  s.estimatedPackets = 200;
  s.avgJitter = 12;
  s.testId = 7;
  return s;
}

TEST(LiveOutputsTest, Rfc3339InUtcWithMilliseconds) {
  EXPECT_EQ(FormatRfc3339(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(FormatRfc3339(951782400.25), "2000-02-29T00:00:00.250Z");
  EXPECT_EQ(FormatRfc3339(1796657662.9996), "2026-12-07T15:34:23.000Z");  // rounds up a second
}

// A sample line holds the designed JSON object's members, in their order and
// with the same values, then the added ones.
TEST(LiveOutputsTest, SampleLineExtendsTheDesignedObject) {
  JSONReceiverCallback designed;
  designed.onSample(Sample(3.25, 0.015));
  designed.finalizeResults();
  std::string array;
  designed.readResults(array);
  rapidjson::Document expected, line;
  expected.Parse(array.c_str());
  const std::string text = ReceiverSampleLine(Receiver(), 1796657662.5, Sample(3.25, 0.015));
  line.Parse(text.c_str());
  ASSERT_FALSE(line.HasParseError()) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);

  const auto& object = expected[0];
  auto member = line.MemberBegin() + 3;  // after Event, Time and Command
  for (auto m = object.MemberBegin(); m != object.MemberEnd(); ++m, ++member) {
    EXPECT_STREQ(member->name.GetString(), m->name.GetString());
    EXPECT_TRUE(member->value == m->value) << m->name.GetString();
  }
  EXPECT_STREQ(member->name.GetString(), "EModelR");
  EXPECT_STREQ((member + 1)->name.GetString(), "EModelMOS");
  EXPECT_STREQ(line["Event"].GetString(), "sample");
  EXPECT_STREQ(line["Time"].GetString(), "2026-12-07T15:34:22.500Z");
  EXPECT_STREQ(line["Command"].GetString(), "recv");
  EXPECT_STREQ(line["LocalAddress"].GetString(), "::1");
  EXPECT_EQ(line["LocalPort"].GetUint(), 50000u);
}

TEST(LiveOutputsTest, NonFiniteNumbersAreNullAndNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  rapidjson::Document line;
  line.Parse(ReceiverSampleLine(Receiver(), 0, Sample(nan, 1.0)).c_str());
  EXPECT_TRUE(line["MOS"].IsNull());
  MetricsState state;
  state.haveReceiverSample = true;
  state.receiver = Sample(nan, 1.0);
  EXPECT_NE(PrometheusText(Receiver(), state).find("pulvo_mos{command=\"recv\",test_id=\"7\",local=\"[::1]:50000\"} NaN\n"),
            std::string::npos);
}

TEST(LiveOutputsTest, PrometheusGaugesWithHelpTypeAndLabels) {
  TestDescription sender;
  sender.command = "send";
  sender.testId = 2;
  sender.localEnd = "127.0.0.1:49999";
  sender.remoteEnd = "198.51.100.3:50000";
  sender.codec = "G\"711\\";
  MetricsState state;
  state.running = true;
  EXPECT_EQ(PrometheusText(sender, state),
            "# HELP pulvo_test_running Whether the pulvo test is running (1) or has ended (0).\n"
            "# TYPE pulvo_test_running gauge\n"
            "pulvo_test_running{command=\"send\",test_id=\"2\",local=\"127.0.0.1:49999\","
            "remote=\"198.51.100.3:50000\",codec=\"G\\\"711\\\\\"} 1\n");

  state.haveReceiverSample = true;
  state.receiver = Sample(3.25, 0.015);
  state.lastSampleTime = 1796657662.5;
  const std::string text = PrometheusText(Receiver(), state);
  const char* names[] = {"pulvo_last_sample_timestamp_seconds", "pulvo_mos", "pulvo_loss_ratio",
                         "pulvo_lost_packets", "pulvo_estimated_packets",
                         "pulvo_average_burst_size_packets", "pulvo_average_jitter_seconds",
                         "pulvo_emodel_r", "pulvo_emodel_mos"};
  for (const char* name : names) {
    EXPECT_NE(text.find(std::string("# TYPE ") + name + " gauge\n"), std::string::npos) << name;
    EXPECT_NE(text.find(std::string("# HELP ") + name + " "), std::string::npos) << name;
  }
  EXPECT_NE(text.find("pulvo_average_jitter_seconds{command=\"recv\",test_id=\"7\",local=\"[::1]:50000\"} 0.012\n"),
            std::string::npos);
  EXPECT_NE(text.find("} 1796657662.5\n"), std::string::npos);
}

TEST(LiveOutputsTest, UnwritableFilesAreRefusedBeforeTheTest) {
  LiveOutputs outputs;
  std::string error;
  EXPECT_FALSE(outputs.Open("no/such/folder/x.jsonl", "", Receiver(), error));
  EXPECT_EQ(error.rfind("cannot write no/such/folder/x.jsonl: ", 0), 0u) << error;
  LiveOutputs metrics;
  EXPECT_FALSE(metrics.Open("", "no/such/folder/x.prom", Receiver(), error));
  EXPECT_EQ(error.rfind("cannot write no/such/folder/x.prom: ", 0), 0u) << error;
}

}  // namespace
