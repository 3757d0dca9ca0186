// Whole tests over 127.0.0.1: pulvo send against a socket of the test,
// pulvo recv against pulvo send, and pulvo recv against crafted streams.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "packet.h"
#include "sleep_utils.h"
#include "test_util.h"

namespace {

using std::chrono::milliseconds;

ProcessResult Pulvo(std::vector<std::string> args) { return RunPulvo(std::move(args)); }

// A text result of a clean G711 stream: every sample line the same, then
// the empty line that ends a text result.
void ExpectCleanTextLines(const std::string& out, unsigned estimated) {
  std::vector<std::string> lines = Lines(out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "");
  lines.pop_back();
  for (const std::string& line : lines) {
    EXPECT_EQ(line, "test id = 1   mos = 4.0504  lost packets = 0  estimated packets = " +
                        std::to_string(estimated) +
                        "  loss rate = 0  average burst size = 1  avg jitter = 0  ");
  }
}

// A JSON result of a clean stream of 100 packets a window.
void ExpectCleanJsonSamples(const std::string& out, double mos) {
  std::vector<JsonSample> samples = ParseJsonSamples(out);
  ASSERT_GE(samples.size(), 2u);
  for (const JsonSample& s : samples) {
    EXPECT_NEAR(s.mos, mos, 5e-7);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_EQ(s.estimated, 100u);
    EXPECT_EQ(s.lossRate, 0.0);
    EXPECT_EQ(s.burstSize, 1.0);
  }
}

TEST(LoopbackTest, SendProducesTheDesignedStream) {
  UdpPeer receiver;
  ProcessResult r = Pulvo({"send:rp=" + std::to_string(receiver.port()) +
                           ",lp=" + std::to_string(FreeUdpPort()) + ",td=2,sai=1,co=GSM0610,"
                           "fe=gsmpiggyback1,tid=9"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "test id = 9 sent_packets = 50 ");
  EXPECT_EQ(lines.back(), "");

  uint32_t dataPackets = 0, eosPackets = 0;
  uint32_t lastSec = 0;
  for (;;) {
    std::vector<uint8_t> d = receiver.Receive(300);
    if (d.empty()) break;
    ASSERT_EQ(d.size(), 20u);  // 48-byte datagrams for GSM0610
    Payload p;
    ASSERT_TRUE(decodePacket(d.data(), d.size(), p));
    EXPECT_EQ(d[13], 0x11);
    EXPECT_EQ(d[14], 0x20);
    if (p.isEndOfStream()) {
      EXPECT_EQ(p.seqNum, dataPackets);
      eosPackets++;
    } else {
      EXPECT_EQ(eosPackets, 0u) << "data after end of stream";
      EXPECT_EQ(p.seqNum, dataPackets);
      EXPECT_GE(p.sendSec, lastSec);
      lastSec = p.sendSec;
      dataPackets++;
    }
  }
  EXPECT_GE(dataPackets, 95u);
  EXPECT_LE(dataPackets, 101u);
  EXPECT_GE(eosPackets, 90u);
  EXPECT_LE(eosPackets, 101u);
}

TEST(LoopbackTest, SendWithJsonResults) {
  UdpPeer receiver;
  ProcessResult r = Pulvo({"-j", "send:rp=" + std::to_string(receiver.port()) +
                                     ",lp=" + std::to_string(FreeUdpPort()) + ",td=2,sai=1"});
  ASSERT_EQ(r.exitCode, 0);
  rapidjson::Document doc;
  doc.Parse(r.out.c_str());
  ASSERT_FALSE(doc.HasParseError()) << r.out;
  ASSERT_TRUE(doc.IsArray());
  ASSERT_GE(doc.Size(), 1u);
  EXPECT_EQ(doc[0]["TestId"].GetUint(), 1u);
  EXPECT_EQ(doc[0]["SentPackets"].GetUint(), 50u);
}

TEST(LoopbackTest, ReceiverWithoutSenderTimesOut) {
  ProcessResult r = Pulvo({"recv:to=1,lp=" + std::to_string(FreeUdpPort())});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_GT(r.seconds, 0.9);
  EXPECT_LT(r.seconds, 4.0);
}

// pulvo recv against pulvo send: a clean G711 stream in text and a clean
// GSM0610 stream in JSON, measured side by side. The JSON receiver also
// writes the live JSON lines and the metrics file.
TEST(LoopbackTest, ReceiverMeasuresPulvoSend) {
  TempDir dir;
  const uint16_t textPort = FreeUdpPort(), jsonPort = FreeUdpPort();
  auto textReceiver = (
      StartPulvo({"recv:ws=2,sai=1,to=5,lp=" + std::to_string(textPort)}));
  std::unique_ptr<BackgroundProcess> jsonReceiver(
      StartPulvo({"-j", "--json-lines", dir.path() + "/live.jsonl",
                  "recv:ws=2,sai=1,to=5,lp=" + std::to_string(jsonPort),
                  "--metrics=" + dir.path() + "/pulvo.prom"}));
  ASSERT_TRUE(WaitForUdpPort(textPort) && WaitForUdpPort(jsonPort));
  std::unique_ptr<BackgroundProcess> textSender(StartPulvo(
      {"send:td=5,rp=" + std::to_string(textPort) + ",lp=" + std::to_string(FreeUdpPort())}));
  std::unique_ptr<BackgroundProcess> jsonSender(
      StartPulvo({"send:td=5,co=GSM0610,rp=" + std::to_string(jsonPort) +
                  ",lp=" + std::to_string(FreeUdpPort())}));

  EXPECT_EQ(textSender->Wait(30).exitCode, 0);
  EXPECT_EQ(jsonSender->Wait(30).exitCode, 0);
  ProcessResult text = textReceiver->Wait(30);
  ProcessResult json = jsonReceiver->Wait(30);
  ASSERT_EQ(text.exitCode, 0) << text.err;
  ASSERT_EQ(json.exitCode, 0) << json.err;

  // Two warm-up ticks, then one sample per second until the end of stream.
  ExpectCleanTextLines(text.out, 100);
  ExpectCleanJsonSamples(json.out, 3.598181);

  // One start line, the designed objects as sample lines, one end line.
  rapidjson::Document designed;
  designed.Parse(json.out.c_str());
  const std::vector<std::string> live = Lines(dir.ReadFile("live.jsonl"));
  ASSERT_EQ(live.size(), designed.Size() + 2);
  for (size_t i = 0; i < live.size(); ++i) {
    rapidjson::Document line;
    line.Parse(live[i].c_str());
    ASSERT_FALSE(line.HasParseError()) << live[i];
    EXPECT_STREQ(line["Command"].GetString(), "recv");
    const char* event = i == 0 ? "start" : i + 1 == live.size() ? "end" : "sample";
    EXPECT_STREQ(line["Event"].GetString(), event);
    if (i == 0 || i + 1 == live.size()) continue;
    for (const auto& m : designed[i - 1].GetObject()) {
      EXPECT_TRUE(line[m.name.GetString()] == m.value) << m.name.GetString();
    }
  }
  EXPECT_NE(live.back().find("\"ExitCode\":0,\"Reason\":\"completed\""), std::string::npos);
  const std::string metrics = dir.ReadFile("pulvo.prom");
  EXPECT_NE(metrics.find("pulvo_test_running{command=\"recv\",test_id=\"1\",local=\"127.0.0.1:" +
                         std::to_string(jsonPort) + "\"} 0\n"),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("pulvo_mos{"), std::string::npos);
}

// The same measurement over ::1: the same samples in text and JSON, the
// sender's local address following the remote one's family, and the sender
// logged in IPv6's usual form.
TEST(LoopbackTest, IPv6LoopbackMeasuresAsIPv4Does) {
  TempDir dir;
  const uint16_t textPort = FreeUdpPort(true), jsonPort = FreeUdpPort(true);
  const uint16_t sendPort = FreeUdpPort(true);
  BackgroundProcess textReceiver(
      {PulvoBinary(), "-l", "recv:la=::1,ws=2,sai=1,to=5,lp=" + std::to_string(textPort)},
      dir.path());
  std::unique_ptr<BackgroundProcess> jsonReceiver(
      StartPulvo({"-j", "recv:la=::,ws=2,sai=1,to=5,lp=" + std::to_string(jsonPort)}));
  ASSERT_TRUE(WaitForUdpPort(textPort) && WaitForUdpPort(jsonPort));
  std::unique_ptr<BackgroundProcess> textSender(StartPulvo(
      {"send:td=5,ra=::1,rp=" + std::to_string(textPort) + ",lp=" + std::to_string(sendPort)}));
  std::unique_ptr<BackgroundProcess> jsonSender(StartPulvo(
      {"send:td=5,ra=::1,la=::1,rp=" + std::to_string(jsonPort) + ",lp=" + std::to_string(FreeUdpPort(true))}));
  EXPECT_EQ(textSender->Wait(30).exitCode, 0);
  EXPECT_EQ(jsonSender->Wait(30).exitCode, 0);
  ProcessResult text = textReceiver.Wait(30);
  ProcessResult json = jsonReceiver->Wait(30);
  ASSERT_EQ(text.exitCode, 0) << text.err;
  ASSERT_EQ(json.exitCode, 0) << json.err;

  ExpectCleanTextLines(text.out, 100);
  ExpectCleanJsonSamples(json.out, 4.050403);
  ASSERT_EQ(dir.Files().size(), 1u);
  EXPECT_NE(dir.ReadFile(dir.Files()[0]).find("Initial client found: [::1]:" + std::to_string(sendPort)),
            std::string::npos);
}

// A sampling interval that does not divide the window: every window is
// still 3 s long, so a clean stream reads clean. The log of a normal end
// runs from the drain to the result in the designed order.
TEST(LoopbackTest, WindowNotDividedByTheIntervalStaysWhole) {
  TempDir dir;
  const uint16_t port = FreeUdpPort();
  BackgroundProcess receiver({PulvoBinary(), "-l", "recv:ws=3,sai=2,to=5,lp=" + std::to_string(port)},
                             dir.path());
  ASSERT_TRUE(WaitForUdpPort(port));
  EXPECT_EQ(Pulvo({"send:td=7,rp=" + std::to_string(port) + ",lp=" + std::to_string(FreeUdpPort())})
                .exitCode,
            0);
  ProcessResult r = receiver.Wait(30);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ExpectCleanTextLines(r.out, 150);
  ASSERT_EQ(dir.Files().size(), 1u);
  const std::string log = dir.ReadFile(dir.Files()[0]);
  const size_t exited = log.find("Qos thread exited, reading EOS packets");
  const size_t terminated = log.find("QoSCalc thread terminated", exited);
  const size_t result = log.find("Error code: 0", terminated);
  EXPECT_NE(exited, std::string::npos);
  EXPECT_NE(terminated, std::string::npos);
  EXPECT_NE(result, std::string::npos);
}

// A sender of the test's own: 20 ms pacing, send times it chooses, and a
// hook that may drop, hold back or add datagrams.
class CraftedSender {
 public:
  explicit CraftedSender(uint16_t toPort) : port(toPort) {}

  // `count` packets, then end-of-stream packets for 600 ms. `shape` gets the
  // sequence number and returns the datagrams to send in its turn.
  void Run(uint32_t count,
           const std::function<std::vector<std::vector<uint8_t>>(uint32_t, const TimeOfDay&)>&
               shape) {
    auto next = std::chrono::steady_clock::now();
    for (uint32_t seq = 0; seq < count; ++seq) {
      for (const auto& d : shape(seq, platformTimeOfDay())) peer.SendTo(port, d);
      next += milliseconds(20);
      std::this_thread::sleep_until(next);
    }
    for (int i = 0; i < 30; ++i) {
      peer.SendTo(port, MakePacket(count, 0, 0));
      next += milliseconds(20);
      std::this_thread::sleep_until(next);
    }
  }

 private:
  UdpPeer peer;
  uint16_t port;
};

std::vector<uint8_t> Stamped(uint32_t seq, const TimeOfDay& t, int64_t shiftMicros = 0) {
  const int64_t micros = t.sec * 1000000 + t.usec - shiftMicros;
  return MakePacket(seq, static_cast<uint32_t>(micros / 1000000),
                    static_cast<uint32_t>(micros % 1000000));
}

// Three impaired streams into three receivers at once. Each sample covers a
// 2 s window (100 packets); a window edge can move a counted event in or out.
TEST(LoopbackTest, ReceiverCountsLossLatenessAndReordering) {
  const uint16_t lossPort = FreeUdpPort(), latePort = FreeUdpPort(), swapPort = FreeUdpPort();
  auto receiverFor = [](uint16_t port) {
    return std::unique_ptr<BackgroundProcess>(
        StartPulvo({"-j", "recv:ws=2,sai=1,to=5,lp=" + std::to_string(port)}));
  };
  auto lossReceiver = receiverFor(lossPort);
  auto lateReceiver = receiverFor(latePort);
  auto swapReceiver = receiverFor(swapPort);
  ASSERT_TRUE(WaitForUdpPort(lossPort) && WaitForUdpPort(latePort) && WaitForUdpPort(swapPort));

  std::vector<std::vector<uint8_t>> held(1);
  std::thread loss([&] {
    // Every 25th packet dropped; short junk datagrams in between.
    CraftedSender(lossPort).Run(250, [](uint32_t seq, const TimeOfDay& t) {
      std::vector<std::vector<uint8_t>> out;
      if (seq % 25 != 24) out.push_back(Stamped(seq, t));
      out.push_back(std::vector<uint8_t>(7, 0x71));
      return out;
    });
  });
  std::thread late([&] {
    // From packet 120 on, transit is 200 ms longer: packet 120 is late.
    CraftedSender(latePort).Run(250, [](uint32_t seq, const TimeOfDay& t) {
      return std::vector<std::vector<uint8_t>>{Stamped(seq, t, seq >= 120 ? 200000 : 0)};
    });
  });
  std::thread swap([&] {
    // Packets 10k+5 and 10k+6 trade places.
    CraftedSender(swapPort).Run(250, [&held](uint32_t seq, const TimeOfDay& t) {
      std::vector<std::vector<uint8_t>> out;
      if (seq % 10 == 5) {
        held[0] = Stamped(seq, t);
      } else {
        out.push_back(Stamped(seq, t));
        if (seq % 10 == 6) out.push_back(held[0]);
      }
      return out;
    });
  });
  loss.join();
  late.join();
  swap.join();

  ProcessResult lossResult = lossReceiver->Wait(30);
  ProcessResult lateResult = lateReceiver->Wait(30);
  ProcessResult swapResult = swapReceiver->Wait(30);
  ASSERT_EQ(lossResult.exitCode, 0);
  ASSERT_EQ(lateResult.exitCode, 0);
  ASSERT_EQ(swapResult.exitCode, 0);

  std::vector<JsonSample> samples = ParseJsonSamples(lossResult.out);
  ASSERT_GE(samples.size(), 2u);
  for (const JsonSample& s : samples) {
    EXPECT_GE(s.lost, 3u);
    EXPECT_LE(s.lost, 5u);
    EXPECT_EQ(s.burstSize, 1.0);
    EXPECT_EQ(s.estimated, 100u);
    EXPECT_LT(s.mos, 4.05);
  }

  samples = ParseJsonSamples(lateResult.out);
  ASSERT_GE(samples.size(), 2u);
  unsigned withLate = 0;
  for (const JsonSample& s : samples) {
    EXPECT_LE(s.lost, 1u);
    if (s.lost == 1) {
      withLate++;
      EXPECT_GE(s.jitter, 2u);  // the 200 ms step over about 100 packets
    }
  }
  EXPECT_GE(withLate, 1u);

  samples = ParseJsonSamples(swapResult.out);
  ASSERT_GE(samples.size(), 2u);
  for (const JsonSample& s : samples) {
    EXPECT_EQ(s.lost, 0u);  // disorder undoes the loss its gap counted
    EXPECT_NEAR(s.mos, 4.050403, 5e-7);
  }
}

}  // namespace
