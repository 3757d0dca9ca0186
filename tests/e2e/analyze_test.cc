// pulvo analyze on capture files written here: the output of both formats,
// and every way a capture or its parameters can be wrong.
#include <gtest/gtest.h>

#include <fstream>

#include "capture_decode.h"
#include "test_util.h"

namespace {

constexpr int64_t kT0 = 1700000000LL * 1000000;  // 2023-11-14T22:13:20Z

std::string Write(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir.path() + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Two calls of 6 s on Ethernet: PCMU over IPv4 (packet 100 lost) and PCMA
// over IPv6 behind a VLAN tag, with a TCP segment and an IP fragment between.
std::vector<CapturedFrame> TwoCalls() {
  std::vector<CapturedFrame> frames;
  for (uint32_t i = 0; i < 300; ++i) {
    const int64_t at = kT0 + i * 20000;
    if (i != 100) {
      frames.push_back({at, CaptureFrame(kLinkEthernet, 4, 40000, 5004,
                                         RtpDatagram(0, static_cast<uint16_t>(i), i * 160, 0x11))});
    }
    frames.push_back({at + 300, CaptureFrame(kLinkEthernet, 6, 40002, 5006,
                                             RtpDatagram(8, static_cast<uint16_t>(i), i * 160, 0x22))});
  }
  std::vector<uint8_t> fragment = CaptureFrame(kLinkEthernet, 4, 1, 2, {1});
  fragment[14 + 6] = 0x20;
  frames.push_back({kT0 + 6000000, fragment});
  std::vector<uint8_t> tcp = CaptureFrame(kLinkEthernet, 4, 1, 2, {1});
  tcp[14 + 9] = 6;
  frames.push_back({kT0 + 6000001, tcp});
  return frames;
}

TEST(AnalyzeTest, TextAndJsonOfTwoCallsInPcapAndPcapng) {
  TempDir dir;
  const std::string pcapng = Write(dir, "calls.pcapng", PcapNgFile(kLinkEthernet, TwoCalls()));
  const std::string pcap = Write(dir, "calls.pcap", PcapFile(kLinkEthernet, TwoCalls()));

  ProcessResult text = RunPulvo({"analyze:file=" + pcapng, "-v"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Capture: 601 frames, 599 UDP datagrams, 599 of voice streams, 0 other "
                          "UDP, 0 left out by port or stream, 1 IP fragments skipped, 1 not UDP"),
            std::string::npos)
      << text.out;
  const std::string tail = text.out.substr(text.out.find("stream 1:"));
  const std::vector<std::string> lines = Lines(tail);
  ASSERT_EQ(lines.size(), 8u) << tail;  // per stream: heading, 2 samples, totals
  EXPECT_EQ(lines[0], "stream 1: 192.0.2.1:40000 -> 192.0.2.2:5004  ssrc = 0x00000011  "
                      "codec = G711 (PT 0)  packet interval = 20 ms");
  EXPECT_EQ(lines[1], "test id = 1   mos = 3.35949  lost packets = 1  estimated packets = 200  "
                      "loss rate = 0.005  average burst size = 1  avg jitter = 0  ");
  EXPECT_EQ(lines[3], "stream 1 totals: packets = 299  lost = 1");
  EXPECT_EQ(lines[4], "stream 2: [2001:db8::1]:40002 -> [2001:db8::2]:5006  ssrc = 0x00000022  "
                      "codec = G711 (PT 8)  packet interval = 20 ms");
  EXPECT_EQ(lines[5], "test id = 1   mos = 4.0504  lost packets = 0  estimated packets = 200  "
                      "loss rate = 0  average burst size = 1  avg jitter = 0  ");

  // A gzip-compressed capture reads as the capture, a cut one as damaged.
  ASSERT_EQ(RunProcess({"/bin/gzip", "-k", pcapng}).exitCode, 0);
  const std::string inflated = RunPulvo({"analyze:file=" + pcapng + ".gz", "-v"}).out;
  EXPECT_EQ(inflated.substr(inflated.find("Capture:")), text.out.substr(text.out.find("Capture:")));
  const std::string gz = dir.ReadFile("calls.pcapng.gz");
  const std::string cut = Write(dir, "cut.pcapng.gz", std::vector<uint8_t>(gz.begin(), gz.begin() + gz.size() / 2));
  ProcessResult damaged = RunPulvo({"analyze:file=" + cut});
  EXPECT_EQ(damaged.exitCode, 4);
  EXPECT_NE(damaged.err.find("cut.pcapng.gz: truncated"), std::string::npos) << damaged.err;

  // --emodel adds the E-model's column: 1 lost in 200 is 0.5 % random loss;
  // the conversation's delay is the packet and the de-jitter buffer, and
  // with --one-way-delay the network's too.
  ProcessResult rated = RunPulvo({"--emodel", "analyze:file=" + pcap});
  EXPECT_EQ(Lines(rated.out)[1], lines[1] + "E-model R = 91.3445  E-model MOS = 4.37053  "
                                            "conversational R = 87.9702  conversational MOS = "
                                            "4.28616  mouth-to-ear = 140 ms (network 0 ms, "
                                            "assumed)  ");
  rated = RunPulvo({"--emodel", "--one-way-delay", "150", "analyze:file=" + pcap});
  EXPECT_NE(Lines(rated.out)[1].find("E-model R = 91.3445  E-model MOS = 4.37053  conversational "
                                     "R = 72.0419  conversational MOS = 3.69125"),
            std::string::npos)
      << rated.out;
  EXPECT_NE(Lines(rated.out)[1].find("mouth-to-ear = 290 ms (network 150 ms, assumed)"),
            std::string::npos);
  EXPECT_EQ(RunPulvo({"--one-way-delay=-5", "analyze:file=" + pcap}).exitCode, 11);

  ProcessResult json = RunPulvo({"-j", "analyze:fi=" + pcap + ",tid=9,po=5006"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(JsonSampleCount(json.out), 2);
  const std::string object =
      R"(\{"TestId":9,"MOS":4\.0504\d*,"LostPackets":0,"EstimatedPackets":200,"LossRate":0\.0,)"
      R"("AverageBurstSize":1\.0,"AvgJitter":0,"EModelR":93\.2,"EModelMOS":4\.40928\d*,)"
      R"("ConversationalR":89\.82\d*,"ConversationalMOS":4\.33\d*,"MouthToEarDelay":140\.0,)"
      R"("NetworkDelay":0\.0,"DelaySource":"assumed","Wideband":false,)"
      R"("Stream":1,"SSRC":34,)"
      R"("Source":"\[2001:db8::1\]:40002","Destination":"\[2001:db8::2\]:5006",)"
      R"("Time":"2023-11-14T22:13:2[45]\.000Z"\})";
  EXPECT_EQ(CountMatches(json.out, object), 2) << json.out;
  // and after them the stream's totals
  EXPECT_NE(json.out.find(R"(,{"Stream":1,"SSRC":34,"Source":"[2001:db8::1]:40002",)"
                          R"("Destination":"[2001:db8::2]:5006","PayloadType":8,"Codec":"G711",)"
                          R"("ClockRate":8000,"PacketInterval":20,"Packets":300,"Lost":0,)"
                          R"("Duplicates":0,"ComfortNoise":0,"Events":0,"First":"2023-11-14T22:13:20.000Z",)"),
            std::string::npos)
      << json.out;
}

// Nothing that a file or a parameter holds crashes the program: each is an
// error that names the file and the reason. Frames cut by the snap length
// after the RTP header are measured as whole ones.
// A burst released after a stall reaches the capture within one tick of its
// clock: packets 100 to 102 of a clean call carry one time stamp, and every
// one of them is counted.
TEST(AnalyzeTest, PacketsStampedAlikeAreAllCounted) {
  TempDir dir;
  std::vector<CapturedFrame> frames;
  for (uint32_t i = 0; i < 300; ++i) {
    const int64_t at = kT0 + (i == 100 || i == 101 ? 102 : i) * 20000;
    frames.push_back({at, CaptureFrame(kLinkEthernet, 4, 40000, 5004,
                                       RtpDatagram(0, static_cast<uint16_t>(i), i * 160, 0x11))});
  }
  const std::string pcap = Write(dir, "alike.pcap", PcapFile(kLinkEthernet, frames));
  ProcessResult text = RunPulvo({"analyze:file=" + pcap});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  const std::ptrdiff_t windows = CountMatches(text.out, "lost packets = ");
  EXPECT_GT(windows, 0);
  EXPECT_EQ(CountMatches(text.out, "mos = 4\\.0504  lost packets = 0  "), windows) << text.out;
  EXPECT_NE(text.out.find("stream 1 totals: packets = 300  lost = 0"), std::string::npos) << text.out;
}

// A call with its SIP: each stream's heading and totals name the call and
// who receives it, its dynamic payload types get their codec from the SDP,
// and a G.722 stream is rated by the E-model on the wideband scale.
TEST(AnalyzeTest, StreamsOfASipCallNameTheirCallAndCodec) {
  TempDir dir;
  const auto sip = [](const std::string& head, const std::string& media) {
    const std::string sdp = "v=0\r\nc=IN IP4 192.0.2.2\r\nt=0 0\r\n" + media;
    const std::string text = head + "Call-ID: c1\r\nFrom: <sip:alice@a>;tag=1\r\nTo: <sip:bob@b>\r\n"
                             "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    return CaptureFrame(kLinkEthernet, 4, 5060, 5060, std::vector<uint8_t>(text.begin(), text.end()));
  };
  std::vector<CapturedFrame> frames = {
      {kT0, sip("INVITE sip:bob@b SIP/2.0\r\nCSeq: 1 INVITE\r\n",
                "m=audio 5004 RTP/AVP 96\r\na=rtpmap:96 PCMU/8000\r\n")},
      {kT0 + 1000, sip("SIP/2.0 200 OK\r\nCSeq: 1 INVITE\r\n",
                       "m=audio 5006 RTP/AVP 97\r\na=rtpmap:97 G722/8000\r\n")}};
  for (uint32_t i = 0; i < 300; ++i) {
    for (uint16_t port : {5004, 5006}) {
      frames.push_back({kT0 + 10000 + i * 20000 + port,
                        CaptureFrame(kLinkEthernet, 4, 40000, port,
                                     RtpDatagram(port == 5004 ? 96 : 97, static_cast<uint16_t>(i),
                                                 i * 160, port))});
    }
  }
  const std::string bye = "BYE sip:bob@b SIP/2.0\r\nCSeq: 2 BYE\r\nCall-ID: c1\r\n\r\n";
  frames.push_back({kT0 + 7000000, CaptureFrame(kLinkEthernet, 4, 5060, 5060,
                                                std::vector<uint8_t>(bye.begin(), bye.end()))});
  const std::string pcap = Write(dir, "sip.pcap", PcapFile(kLinkEthernet, frames));
  ProcessResult text = RunPulvo({"-v", "analyze:file=" + pcap});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find(", 3 SIP messages\n"), std::string::npos) << text.out;
  // The call's record closes the results: both ways, and the wideband one,
  // R 112.6 or 87.3 on the narrowband scale, is the worse.
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4],
            "call c1: alice -> bob  invited = 2023-11-14T22:13:20.000Z  answered after 0.001 s  "
            "lasted 6.999 s  ended by BYE");
  EXPECT_TRUE(MatchesWhole(lines[lines.size() - 3],
                           "call c1 to alice: stream 1  G711  packets = 300  lost = 0  loss = 0 %  "
                           "windows = [0-9]+  mos mean = 4.0504  worst = 4.0504  E-model R mean = "
                           "93.2  worst = 93.2  conversational R = 89.82[0-9]*  jitter = 0 ms  satisfied"))
      << lines[lines.size() - 3];
  EXPECT_TRUE(MatchesWhole(lines[lines.size() - 2],
                           "call c1 to bob: stream 2  G722  .*  mos = none  E-model R mean = 116 "
                           "\\(wideband\\)  worst = 116  conversational R = 112.5[0-9]*  .*"))
      << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), "call c1 verdict: satisfied (the worse direction: to bob)");
  EXPECT_NE(text.out.find("codec = G711 (PT 96)  packet interval = 20 ms  call = c1  to = alice\n"
                          "test id = 1   mos = 4.0504  "),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("codec = G722 (PT 97)  packet interval = 20 ms  call = c1  to = bob\n"
                          "stream 2: E-model only: the MOS model knows G711 and GSM0610 only; rated "
                          "on the wideband scale\ntest id = 1   mos = none  lost packets = 0  "),
            std::string::npos);
  EXPECT_NE(text.out.find("E-model R = 116 (wideband)"), std::string::npos);
  ProcessResult json = RunPulvo({"-j", "analyze:file=" + pcap});
  EXPECT_NE(json.out.find(R"("Codec":"G722",)"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find(R"("CallId":"c1","To":"bob","EModelOnly":true,"Wideband":true})"),
            std::string::npos);
  EXPECT_NE(json.out.find(R"(,{"Call":"c1","From":"alice","To":"bob","Invited":"2023-11-14T22:13:20.000Z",)"
                          R"("Answered":"2023-11-14T22:13:20.001Z","Ended":"2023-11-14T22:13:27.000Z",)"
                          R"("EndedBy":"BYE","Duration":6.999,"Directions":[{"Direction":"to alice",)"
                          R"("Stream":1,"Codec":"G711","Packets":300,"Lost":0,"LossRate":0.0,)"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find(R"("Verdict":{"Direction":"to bob","Satisfaction":"satisfied",)"),
            std::string::npos);
}

TEST(AnalyzeTest, DamagedCapturesAndBadParameters) {
  TempDir dir;
  const std::vector<uint8_t> good = PcapFile(kLinkEthernet, TwoCalls());
  std::vector<uint8_t> wrongMagic = good;
  wrongMagic[0] ^= 0xFF;
  std::vector<CapturedFrame> noise;
  for (int i = 0; i < 100; ++i) {
    noise.push_back({kT0 + i * 1000, CaptureFrame(kLinkRaw, 4, 53, 53, {0x12, 0x34, 0, 0})});
  }
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;  // empty name: no file at all
    std::string parameters;
    int exitCode;
    std::string error;  // a part of the line on standard error
  };
  const Case cases[] = {
      {"missing.pcap", {}, "", 4, "missing.pcap: No such file or directory"},
      {"empty.pcap", {0}, "", 4, "empty.pcap: "},
      {"magic.pcap", wrongMagic, "", 4, "magic.pcap: unknown file format"},
      {"cut.pcap", std::vector<uint8_t>(good.begin(), good.begin() + 5000), "", 4,
       "cut.pcap: truncated dump file"},
      {"wifi.pcap", PcapFile(105, {}), "", 4, "wifi.pcap: link-layer type 105"},
      {"noise.pcap", PcapFile(kLinkRaw, noise), "", 1, "no RTP voice or pulvo test stream found"},
      {"snap.pcap", PcapFile(kLinkEthernet, TwoCalls(), 80), "", 0, ""},
      {"good.pcap", good, ",ws=1", 4, "windowsize 1 is out of its range 2 - 20"},
      {"good.pcap", good, ",sai=4", 4, "sampling window cannot be shorter than sampling interval"},
      {"good.pcap", good, ",co=AMR", 4, "codec must be G711 or GSM0610"},
      {"good.pcap", good, ",st=3", 1, "no stream 3 (2 found)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + c.parameters);
    std::string path = dir.path() + "/" + c.name;
    if (!c.bytes.empty()) path = Write(dir, c.name, c.bytes);
    const ProcessResult r = RunPulvo({"analyze:file=" + path + c.parameters});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.error.empty()) {
      EXPECT_EQ(r.err, "");
      EXPECT_NE(r.out.find("stream 2 totals: packets = 300  lost = 0"), std::string::npos);
    } else {
      EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
  }
  const ProcessResult noFile = RunPulvo({"analyze:ws=4"});
  EXPECT_EQ(noFile.exitCode, 4);
  EXPECT_EQ(noFile.err, "pulvo: PARAMETER_ERROR: Error in analyzer parameter: no capture file given\n");
}

}  // namespace
