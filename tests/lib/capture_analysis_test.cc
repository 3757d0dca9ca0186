#include "capture_analysis.h"

#include <gtest/gtest.h>

#include <set>

#include "emodel.h"
#include "test_util.h"

namespace {

constexpr int64_t kT0 = 1700000000LL * 1000000;  // µs

struct Recorder : TeskAnalyzerCallback {
  struct Sample {
    unsigned stream;
    double time;
    unsigned lost, estimated;
    double lossRate;
  };
  void streamFound(const TeskStreamInfo& s) override { found.push_back(s); }
  void doCallback(unsigned stream, double time, const TeskSample& s) override {
    samples.push_back({stream, time, s.lostPackets, s.estimatedPackets, s.lossRate});
    rated.push_back(s);
  }
  void streamEnded(const TeskStreamInfo& s, int result) override {
    ended.push_back(s);
    results.push_back(result);
  }
  std::vector<unsigned> Lost(unsigned stream = 1) const {
    std::vector<unsigned> out;
    for (const Sample& s : samples) {
      if (s.stream == stream) out.push_back(s.lost);
    }
    return out;
  }
  std::vector<TeskStreamInfo> found, ended;
  std::vector<int> results;
  std::vector<Sample> samples;
  std::vector<TeskSample> rated;
};

struct Feed {
  explicit Feed(const CaptureAnalysisSettings& settings) : analysis(settings, &recorder) {}
  void Rtp(int64_t micros, uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc,
           uint16_t port = 5004, bool marker = false) {
    std::vector<uint8_t> datagram = RtpDatagram(pt, seq, ts, ssrc);
    if (marker) datagram[1] |= 0x80;
    Datagram(micros, datagram, port);
  }
  void Datagram(int64_t micros, const std::vector<uint8_t>& payload, uint16_t port = 5004) {
    const std::vector<uint8_t> frame = CaptureFrame(kLinkRaw, 4, 7000, port, payload);
    analysis.addFrame(micros, kLinkRaw, frame.data(), frame.size());
  }
  Recorder recorder;
  CaptureAnalysis analysis;
};

// Over a range of windows and sampling intervals, streams that start just
// before their sequence number and timestamp wrap, and several drop
// patterns: every sample holds exactly the drops whose gap is closed (by
// the next packet received) inside that sample's window. The windows tick
// from 1 µs after the first packet, the first after a whole window, the last
// no later than the last packet.
TEST(CaptureAnalysisTest, EachWindowCountsTheDropsClosedInsideIt) {
  const std::set<uint32_t> none, every25 = [] {
    std::set<uint32_t> d;
    for (uint32_t i = 24; i < 1500; i += 25) d.insert(i);
    return d;
  }();
  const std::set<uint32_t> run = {300, 301, 302, 303, 304, 1000};
  for (auto [ws, sai] : {std::pair{4, 1}, {3, 2}, {10, 5}, {7, 3}, {20, 9}}) {
    for (const std::set<uint32_t>* drops : {&none, &every25, &run}) {
      SCOPED_TRACE(testing::Message() << "ws " << ws << " sai " << sai << " drops "
                                      << drops->size());
      CaptureAnalysisSettings settings;
      settings.window.windowSize = static_cast<uint16_t>(ws * 1000);
      settings.window.sampleInterval = static_cast<uint16_t>(sai * 1000);
      Feed feed(settings);
      std::vector<std::pair<int64_t, uint32_t>> received;  // time, index
      for (uint32_t i = 0; i < 1500; ++i) {
        if (drops->count(i) != 0) continue;
        const int64_t at = kT0 + i * 20000 + (i % 3) * 100;
        feed.Rtp(at, 0, static_cast<uint16_t>(65000 + i), 0xFFFFF000u + i * 160, 42);
        received.push_back({at, i});
      }
      EXPECT_EQ(feed.analysis.finish(), 0);

      std::vector<unsigned> expected;
      const int64_t first = received.front().first, last = received.back().first;
      for (int64_t k = (ws + sai - 1) / sai;; ++k) {
        const int64_t tick = first + 1 + k * sai * 1000000;
        if (tick > last) break;
        unsigned lost = 0;
        for (uint32_t d : *drops) {
          auto next = std::find_if(received.begin(), received.end(),
                                   [d](const auto& r) { return r.second > d; });
          if (next != received.end() && next->first >= tick - ws * 1000000 && next->first < tick)
            lost++;
        }
        expected.push_back(lost);
      }
      EXPECT_EQ(feed.recorder.Lost(), expected);
      for (const Recorder::Sample& s : feed.recorder.samples) {
        EXPECT_EQ(s.estimated, static_cast<unsigned>(ws * 50));
        if (drops->empty()) {
          EXPECT_EQ(s.lossRate, 0.0);
        }
      }
      ASSERT_EQ(feed.recorder.ended.size(), 1u);
      // A drop after the last packet received leaves no gap.
      const long long gaps = std::count_if(drops->begin(), drops->end(),
                                           [&](uint32_t d) { return d < received.back().second; });
      EXPECT_EQ(feed.recorder.ended[0].lostPackets, gaps);
    }
  }
}

// A new SSRC on the same addresses is a new stream; datagrams that are not
// RTP, datagrams that only look like it (never a next sequence number), a
// comfort-noise packet inside the stream and a packet stamped before its
// predecessor break nothing.
TEST(CaptureAnalysisTest, SsrcChangeNoiseAndOutOfOrderStamps) {
  Feed feed(CaptureAnalysisSettings{});
  for (uint32_t i = 0; i < 600; ++i) {
    const uint32_t ssrc = i < 300 ? 1 : 2;
    const int64_t at = kT0 + i * 20000 + (i == 150 ? -30000 : 0);
    feed.Rtp(at, i == 120 ? 13 : 8, static_cast<uint16_t>(i), i * 160, ssrc);
    feed.Datagram(at + 5, {0x00, 0x01, 0x02});
    feed.Datagram(at + 7, {0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 9});  // never confirmed
  }
  EXPECT_EQ(feed.analysis.finish(), 0);
  ASSERT_EQ(feed.recorder.found.size(), 2u);
  EXPECT_EQ(feed.recorder.found[0].ssrc, 1u);
  EXPECT_EQ(feed.recorder.found[0].payloadType, 8);
  EXPECT_EQ(feed.recorder.found[0].packetInterval, 20u);
  EXPECT_EQ(feed.recorder.found[1].ssrc, 2u);
  for (const TeskStreamInfo& s : feed.recorder.ended) {
    EXPECT_EQ(s.packets, 300u);
    EXPECT_EQ(s.lostPackets, 0);
  }
  EXPECT_EQ(feed.recorder.ended[0].comfortNoise, 1u);
  EXPECT_EQ(feed.analysis.counts().otherUdp, 600u);
  EXPECT_FALSE(feed.recorder.Lost(1).empty());
  EXPECT_FALSE(feed.recorder.Lost(2).empty());
}

// pulvo's own packets: the end-of-stream packet ends the stream without a
// sample for the open window, the rest of the end-of-stream packets are
// dropped, and the next test on the same addresses is a stream of its own.
TEST(CaptureAnalysisTest, PulvoTestStreamsEndAtTheirEndOfStreamPacket) {
  Feed feed(CaptureAnalysisSettings{});
  int64_t at = kT0;
  for (int test = 0; test < 2; ++test) {
    for (uint32_t seq = 0; seq < 500; ++seq, at += 20000) {
      const uint32_t sendSec = static_cast<uint32_t>(at / 1000000);
      feed.Datagram(at, MakePacket(seq, sendSec, static_cast<uint32_t>(at % 1000000)));
    }
    for (int i = 0; i < 5; ++i, at += 20000) feed.Datagram(at, MakePacket(500, 0, 0));
    at += 3000000;
  }
  EXPECT_EQ(feed.analysis.finish(), 0);
  ASSERT_EQ(feed.recorder.found.size(), 2u);
  EXPECT_TRUE(feed.recorder.found[0].pulvoStream);
  // 10 s of packets: ticks at 1 µs past 4 to 9 s give samples; the tick
  // past 10 s meets the end.
  EXPECT_EQ(feed.recorder.Lost(1), std::vector<unsigned>(6, 0));
  EXPECT_EQ(feed.recorder.Lost(2), std::vector<unsigned>(6, 0));
  EXPECT_EQ(feed.recorder.ended[0].packets, 500u);
}

// Dynamic payload types are scored only with a codec for them, and listed
// without; the port and the stream number leave the other streams out.
TEST(CaptureAnalysisTest, CodecForDynamicTypesAndTheChoiceOfStreams) {
  auto run = [](CaptureAnalysisSettings settings, Recorder* out) {
    Feed feed(settings);
    for (uint32_t i = 0; i < 300; ++i) {
      feed.Rtp(kT0 + i * 20000, 97, static_cast<uint16_t>(i), i * 160, 7, 6000);
      feed.Rtp(kT0 + i * 20000 + 50, 0, static_cast<uint16_t>(i), i * 160, 8, 6002);
      feed.Rtp(kT0 + i * 20000 + 90, 3, static_cast<uint16_t>(i), i * 160, 9, 6004);
    }
    const int result = feed.analysis.finish();
    *out = feed.recorder;
    return result;
  };
  Recorder r;
  CaptureAnalysisSettings settings;
  EXPECT_EQ(run(settings, &r), 0);
  ASSERT_EQ(r.found.size(), 3u);
  EXPECT_FALSE(r.found[0].scored);
  EXPECT_NE(r.found[0].unscoredReason.find("codec="), std::string::npos);
  EXPECT_EQ(r.ended.size(), 3u);
  for (const Recorder::Sample& s : r.samples) EXPECT_NE(s.stream, 1u);
  EXPECT_EQ(r.found[2].codec, 1);  // GSM
  settings.dynamicCodec = 1;
  EXPECT_EQ(run(settings, &r), 0);
  ASSERT_EQ(r.found.size(), 3u);
  EXPECT_EQ(r.found[0].payloadType, 97);
  EXPECT_EQ(r.found[0].codec, 1);
  settings.port = 6002;
  EXPECT_EQ(run(settings, &r), 0);
  ASSERT_EQ(r.found.size(), 1u);
  EXPECT_EQ(r.found[0].ssrc, 8u);
  settings.port = 0;
  settings.stream = 3;
  EXPECT_EQ(run(settings, &r), 0);
  ASSERT_EQ(r.found.size(), 1u);
  EXPECT_EQ(r.found[0].ssrc, 9u);
  for (const Recorder::Sample& s : r.samples) EXPECT_EQ(s.stream, 3u);
  settings.stream = 4;
  EXPECT_EQ(run(settings, &r), TIMEOUT_ERROR);
  settings.stream = 0;
  settings.port = 1;
  EXPECT_EQ(run(settings, &r), TIMEOUT_ERROR);  // no stream at all
}

// Codecs the trained model does not know but the E-model does are rated by
// the E-model alone: G.722 on the wideband scale, G.729 and G.723.1 on the
// narrowband one, each with its own impairment and look-ahead; other static
// types stay unscored.
TEST(CaptureAnalysisTest, CodecsOnlyTheEModelKnowsAreRatedByIt) {
  CaptureAnalysisSettings settings;
  settings.window.networkDelayMs = 50;
  Feed feed(settings);
  const uint8_t types[] = {9, 18, 4, 5};
  for (uint32_t i = 0; i < 300; ++i) {
    for (uint8_t k = 0; k < 4; ++k) {
      if (i % 50 == 10) continue;  // 2 % random loss in every stream
      feed.Rtp(kT0 + i * 20000 + k * 10, types[k], static_cast<uint16_t>(i), i * 160, 100 + k,
               static_cast<uint16_t>(7000 + 2 * k));
    }
  }
  EXPECT_EQ(feed.analysis.finish(), 0);
  const std::vector<TeskStreamInfo>& found = feed.recorder.found;
  ASSERT_EQ(found.size(), 4u);
  EXPECT_TRUE(found[0].scored && !found[0].modelScored && found[0].wideband);
  EXPECT_TRUE(found[1].scored && !found[1].modelScored && !found[1].wideband);
  EXPECT_FALSE(found[3].scored);
  std::set<unsigned> rated;
  for (size_t n = 0; n < feed.recorder.rated.size(); ++n) {
    const TeskSample& s = feed.recorder.rated[n];
    const unsigned stream = feed.recorder.samples[n].stream;
    rated.insert(stream);
    EXPECT_FALSE(s.modelScored);
    EXPECT_EQ(s.mos, 0.0);
    const VoiceCodec codec = stream == 1 ? VoiceCodec::G722
                             : stream == 2 ? VoiceCodec::G729
                                           : VoiceCodec::G723;
    EModelWindow w;
    w.codec = codec;
    w.lossRate = s.lossRate;
    w.averageBurstSize = s.averageBurstSize;
    w.mouthToEarMs = 50 + 20 + 120 + emodelCodec(codec).delayMs;
    const EModelScore e = emodelScore(w);
    EXPECT_EQ(s.wideband, stream == 1);
    EXPECT_DOUBLE_EQ(s.emodelR, e.r);
    EXPECT_DOUBLE_EQ(s.conversationalR, e.conversationalR);
    EXPECT_DOUBLE_EQ(s.mouthToEarMs, w.mouthToEarMs);
    EXPECT_GT(s.lossRate, 0.0);
  }
  EXPECT_EQ(rated, (std::set<unsigned>{1, 2, 3}));
}

// The SIP in a capture ties streams to calls: the offer and the answer say
// where each party receives and what its dynamic payload types carry, so a
// stream sent there is scored with that codec (a G.722 one by the E-model
// alone), a telephone event first does not start a stream, a name neither
// model knows is said, and a stream no SIP announced keeps the old rules.
TEST(CaptureAnalysisTest, SipAnnouncesTheCallAndTheCodecOfEachStream) {
  const auto message = [](const std::string& head, const std::string& sdp) {
    const std::string text = head + "Content-Type: application/sdp\r\nContent-Length: " +
                             std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    return std::vector<uint8_t>(text.begin(), text.end());
  };
  const std::string sdp = "v=0\r\nc=IN IP4 192.0.2.2\r\nt=0 0\r\n";
  CaptureAnalysisSettings settings;
  Feed feed(settings);
  feed.Datagram(kT0, message("INVITE sip:bob@x SIP/2.0\r\nCall-ID: call-1\r\nCSeq: 1 INVITE\r\n"
                             "From: <sip:alice@x>;tag=1\r\nTo: <sip:bob@x>\r\n",
                             sdp + "m=audio 6000 RTP/AVP 96 101\r\na=rtpmap:96 PCMA/8000\r\n"
                                   "a=rtpmap:101 telephone-event/8000\r\n"),
                5060);
  feed.Datagram(kT0 + 1000, message("SIP/2.0 200 OK\r\nCall-ID: call-1\r\nCSeq: 1 INVITE\r\n"
                                    "From: <sip:alice@x>;tag=1\r\nTo: <sip:bob@x>;tag=2\r\n",
                                    sdp + "m=audio 6002 RTP/AVP 97 98\r\na=rtpmap:97 G722/8000\r\n"
                                          "m=audio 6004 RTP/AVP 98\r\na=rtpmap:98 opus/48000/2\r\n"),
                5060);
  for (uint32_t i = 0; i < 300; ++i) {
    const int64_t at = kT0 + 100000 + i * 20000;
    // alice's way starts with an event; only voice starts a stream
    if (i == 0) feed.Rtp(at - 5000, 101, 0, 0, 1, 6000);
    if (i % 50 != 7) feed.Rtp(at, 96, static_cast<uint16_t>(i + 1), i * 160, 1, 6000);
    feed.Rtp(at + 10, 97, static_cast<uint16_t>(i), i * 160, 2, 6002);
    feed.Rtp(at + 20, 98, static_cast<uint16_t>(i), i * 960, 3, 6004);
    feed.Rtp(at + 30, 99, static_cast<uint16_t>(i), i * 160, 4, 6006);
  }
  EXPECT_EQ(feed.analysis.finish(), 0);
  EXPECT_EQ(feed.analysis.counts().sip, 2u);
  const std::vector<TeskStreamInfo>& found = feed.recorder.found;
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].payloadType, 96);
  EXPECT_TRUE(found[0].scored && found[0].modelScored);
  EXPECT_EQ(found[0].codec, 0);
  EXPECT_EQ(found[0].callId, "call-1");
  EXPECT_EQ(found[0].party, "alice");
  EXPECT_EQ(found[0].encoding, "PCMA");
  EXPECT_TRUE(found[1].scored && !found[1].modelScored && found[1].wideband);
  EXPECT_EQ(found[1].party, "bob");
  EXPECT_FALSE(found[2].scored);
  EXPECT_NE(found[2].unscoredReason.find("names it opus"), std::string::npos);
  EXPECT_EQ(found[2].clockRate, 48000u);
  EXPECT_FALSE(found[3].scored);  // no SIP said: a dynamic type without codec=
  EXPECT_EQ(found[3].callId, "");
  EXPECT_EQ(feed.recorder.ended[0].lostPackets, 6);
  std::set<unsigned> rated;
  for (const Recorder::Sample& s : feed.recorder.samples) rated.insert(s.stream);
  EXPECT_EQ(rated, (std::set<unsigned>{1, 2}));
}

// A call as softphones send it: talk spurts (the first marked) with 3 s and
// 5 s of silence between them, comfort noise every 200 ms in the silences,
// and RFC 4733 events (payload type 101, all stamped with their event's
// start) amid the voice. Silence, comfort noise and events are not loss,
// the time-out counts only silence without any packet, and the interval is
// the voice's; dropped voice packets are lost, exactly.
TEST(CaptureAnalysisTest, SilenceComfortNoiseAndEventsAreNotLoss) {
  for (const std::set<int>& drops : {std::set<int>{}, std::set<int>{300, 1400}}) {
    SCOPED_TRACE(testing::Message() << drops.size() << " drops");
    CaptureAnalysisSettings settings;
    settings.window.timeout = 3000;  // shorter than the 5 s silence
    Feed feed(settings);
    uint16_t seq = 0;
    unsigned noise = 0, events = 0;
    bool talking = true;
    for (int frame = 0; frame < 2000; ++frame) {
      const int64_t at = kT0 + frame * 20000 + 3000;
      const uint32_t ts = static_cast<uint32_t>(frame * 160);
      const bool silent = (frame >= 500 && frame < 650) || (frame >= 900 && frame < 1150);
      if (silent) {
        if (frame % 10 == 0) {
          feed.Rtp(at, 13, seq++, ts, 77);
          noise++;
        }
        talking = false;
        continue;
      }
      if (drops.count(frame) != 0) {
        seq++;
      } else {
        feed.Rtp(at, 8, seq++, ts, 77, 5004, !talking);
      }
      talking = true;
      if (frame >= 1600 && frame < 1610) {  // a digit: 10 event packets of one event
        feed.Rtp(at + 500, 101, seq++, 1600 * 160, 77);
        events++;
      }
    }
    EXPECT_EQ(feed.analysis.finish(), 0);
    ASSERT_EQ(feed.recorder.ended.size(), 1u);
    const TeskStreamInfo& stream = feed.recorder.ended[0];
    EXPECT_EQ(stream.lostPackets, static_cast<long long>(drops.size()));
    EXPECT_EQ(stream.comfortNoise, noise);
    EXPECT_EQ(stream.events, events);
    EXPECT_EQ(stream.packetInterval, 20u);
    unsigned windowsWithLoss = 0;
    for (const Recorder::Sample& sample : feed.recorder.samples) {
      EXPECT_LE(sample.lost, 1u);
      EXPECT_EQ(sample.lossRate == 0, sample.lost == 0);
      windowsWithLoss += sample.lost;
    }
    EXPECT_EQ(windowsWithLoss, 4 * drops.size());  // each drop in the four 4 s windows that hold it
  }
}

// A pause longer than the time-out ends the stream as it would end a
// receive test; what follows is a new stream.
TEST(CaptureAnalysisTest, APauseLongerThanTheTimeoutEndsTheStream) {
  CaptureAnalysisSettings settings;
  settings.window.timeout = 3000;
  Feed feed(settings);
  for (uint32_t i = 0; i < 600; ++i) {
    const int64_t at = kT0 + i * 20000 + (i >= 300 ? 10000000 : 0);
    feed.Rtp(at, 0, static_cast<uint16_t>(i), i * 160, 5);
  }
  EXPECT_EQ(feed.analysis.finish(), TIMEOUT_ERROR);
  ASSERT_EQ(feed.recorder.results.size(), 2u);
  EXPECT_EQ(feed.recorder.results[0], TIMEOUT_ERROR);
  EXPECT_EQ(feed.recorder.results[1], 0);
  EXPECT_EQ(feed.recorder.ended[0].packets, 300u);
}

}  // namespace
