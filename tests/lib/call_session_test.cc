#include "call_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <set>

#include "stamp_packet.h"
#include "stamp_reflector.h"

namespace {

TimeOfDay At(double seconds) {
  const double whole = std::floor(seconds);
  int64_t usec = std::llround((seconds - whole) * 1e6);
  return usec == 1000000 ? TimeOfDay{static_cast<int64_t>(whole) + 1, 0}
                         : TimeOfDay{static_cast<int64_t>(whole), usec};
}

struct Path {
  double lossRate = 0;  // random, each packet alone
  double burstShare = 0;  // of the losses, the share that opens a burst of 4
  double delay = 0.010, jitter = 0;  // s; the jitter is uniform, so packets overtake
  int remarkTo = -1;  // the DSCP every packet leaves the path with (-1: its own)
  int hops = 0;       // routers on the path, each taking one from the TTL
};

// How the reflector numbers its answers: its own count per session, the
// sender's numbers copied (stateless), or one count for all its sessions.
enum class Numbering { PerSession, CopiesSender, SharedCounter };

struct CallTotals {
  unsigned forwardLost = 0, reverseLost = 0, forwardTruth = 0, reverseTruth = 0;
  unsigned roundTripLost = 0, roundTripSamples = 0;  // ticks that scored the round trip alone
  double roundTripMin = 1e9, roundTripMax = 0;
  unsigned samples = 0;
  TeskCallSample last;
};

// A 30 s call through two impaired paths to a reflector whose clock runs
// 5.3 s ahead, on virtual time. The windows of every fourth tick tile the
// call, so their losses add up to each direction's drops.
CallTotals RunCall(const Path& out, const Path& back, unsigned seed,
                   Numbering numbering = Numbering::PerSession) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  const auto drops = [&](const Path& p, uint32_t count, uint32_t first, uint32_t last) {
    std::set<uint32_t> dropped;
    for (uint32_t seq = first; seq <= last && seq < count; ++seq) {
      if (unit(random) >= p.lossRate) continue;
      const uint32_t length = unit(random) < p.burstShare ? 4 : 1;
      for (uint32_t k = 0; k < length; ++k) dropped.insert(seq + k);
      seq += length;
    }
    return dropped;
  };
  const uint32_t packets = 1500;
  const std::set<uint32_t> lostOut = drops(out, packets, 5, 1440);

  CallSettings settings;
  CallSession session(settings);
  // The requests' bytes are made ahead by a twin; the session sends each at
  // its time, as answers come back.
  CallSession twin(settings);
  StampReflector reflector(ReflectorLimits{});
  SocketAddress caller;
  makeSocketAddress("192.0.2.1", 40000, &caller);
  const double start = 1700000000.0;
  session.begin(At(start));

  struct Answer {
    double arrival;
    std::vector<uint8_t> data;
    IpMarks marks;
  };
  // What each path does to the IP header's class and TTL.
  const auto across = [](const Path& p, IpMarks marks) {
    if (p.remarkTo >= 0) marks.tos = p.remarkTo << 2;
    marks.ttl -= p.hops;
    return marks;
  };
  std::vector<Answer> answers;
  uint8_t request[512], reply[512];
  uint32_t reflected = 0;
  std::set<uint32_t> lostBack;
  for (uint32_t seq = 0; seq < packets; ++seq) {
    const double sent = start + seq * 0.020;
    const size_t length = twin.request(At(sent), request);
    if (lostOut.count(seq) != 0) continue;
    // Jitter on a 0.1 ms grid and a microsecond per packet apart: two packets
    // of one arrival time would be one.
    const auto jitter = [&](double most) { return std::floor(unit(random) * most * 1e4) * 1e-4; };
    const double atReflector = sent + out.delay + jitter(out.jitter) + 5.3 + seq * 1e-6;
    int answerTos = -1;
    const size_t answer = reflector.answer(request, length, caller, At(atReflector), reply,
                                           across(out, IpMarks{settings.tos, 255}), &answerTos);
    EXPECT_EQ(answer, length);
    reflector.finish(reply, At(atReflector + 0.00005));
    const uint32_t reflectorSeq = reflected++;
    if (numbering != Numbering::PerSession) {
      const uint32_t own = numbering == Numbering::CopiesSender ? seq : 5000 + 3 * reflectorSeq;
      for (int k = 0; k < 4; ++k) reply[k] = static_cast<uint8_t>(own >> (24 - 8 * k));
      // Nor does it fill in the Direct Measurement TLV's counts (after the
      // base, its header and the sender's count).
      std::fill(reply + 52, reply + 60, 0);
    }
    if (reflectorSeq >= 5 && seq <= 1440 && unit(random) < back.lossRate) {
      lostBack.insert(reflectorSeq);
      continue;
    }
    const double arrival =
        atReflector - 5.3 + 0.00005 + back.delay + jitter(back.jitter) + seq * 1e-6;
    answers.push_back({arrival, std::vector<uint8_t>(reply, reply + answer),
                       across(back, IpMarks{answerTos, 255})});
  }
  std::sort(answers.begin(), answers.end(),
            [](const Answer& a, const Answer& b) { return a.arrival < b.arrival; });

  CallTotals totals;
  totals.forwardTruth = static_cast<unsigned>(lostOut.size());
  totals.reverseTruth = static_cast<unsigned>(lostBack.size());
  size_t next = 0;
  uint32_t sentSoFar = 0;
  for (int tick = 0; tick <= 32; ++tick) {
    const double tickTime = start + tick;
    for (; sentSoFar < packets && start + sentSoFar * 0.020 <= tickTime + 1.12; ++sentSoFar) {
      session.request(At(start + sentSoFar * 0.020), request);
    }
    // Scored once the de-jitter length and the answers' wait have passed.
    while (next < answers.size() && answers[next].arrival <= tickTime + 1.12) {
      EXPECT_TRUE(session.takeAnswer(answers[next].data.data(), answers[next].data.size(),
                                     At(answers[next].arrival), answers[next].marks));
      next++;
    }
    session.settle(At(tickTime + 1.12));
    TeskCallSample sample;
    const CallSession::Tick t = session.tick(At(tickTime), &sample);
    if (tick < 4) {
      EXPECT_EQ(t, CallSession::Tick::WarmUp);
      continue;
    }
    EXPECT_EQ(t, CallSession::Tick::Sample) << "tick " << tick;
    if (tick % 4 != 0 || t != CallSession::Tick::Sample) continue;
    totals.samples++;
    totals.last = sample;
    if (sample.wayBack != TeskWayBack::Known) {
      EXPECT_TRUE(sample.haveRoundTrip && !sample.haveForward && !sample.haveReverse);
      totals.roundTripSamples++;
      totals.roundTripLost += sample.roundTrip.lostPackets;
      continue;
    }
    EXPECT_TRUE(sample.haveForward && sample.haveReverse);
    totals.forwardLost += sample.forward.lostPackets;
    totals.reverseLost += sample.reverse.lostPackets;
    // Each way expects what its numbers say was sent.
    for (const TeskCallDirection& d : scoredDirections(sample)) {
      EXPECT_DOUBLE_EQ(d.sample->lossRate * d.sample->estimatedPackets, d.sample->lostPackets);
    }
    totals.roundTripMin = std::min(totals.roundTripMin, sample.roundTripMinMs);
    totals.roundTripMax = std::max(totals.roundTripMax, sample.roundTripMaxMs);
    EXPECT_TRUE(std::isnan(sample.forwardDelayMs));  // neither clock claims to be synchronised
  }
  return totals;
}

// Each direction's losses, bursts and reordering on both paths: the forward
// windows count exactly the requests that never reached the reflector, the
// reverse windows exactly the answers lost on the way back, whatever the
// other direction did, and the round trip leaves out the reflector's clock.
TEST(CallSessionTest, EachDirectionCountsItsOwnLosses) {
  const struct {
    Path out, back;
  } cases[] = {
      {{}, {}},
      {{0.03}, {}},
      {{}, {0.03}},
      {{0.02, 0.5}, {0.05}},
      {{0.02, 0.0, 0.010, 0.060}, {0.03, 0.0, 0.015, 0.060}},  // packets overtake each other
  };
  for (unsigned seed = 1; seed <= 20; ++seed) for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", out " << c.out.lossRate << "/" << c.out.jitter << ", back "
                                    << c.back.lossRate << "/" << c.back.jitter);
    const CallTotals t = RunCall(c.out, c.back, seed);
    EXPECT_EQ(t.samples, 8u);
    // The reflector says it keeps counts: answers lost alone, with the
    // numbers alike, are still the way back's.
    EXPECT_EQ(t.roundTripSamples, 0u);
    EXPECT_EQ(t.forwardLost, t.forwardTruth);
    EXPECT_EQ(t.reverseLost, t.reverseTruth);
    // (each way's microsecond apart adds up to 1.5 ms to a late packet's trip)
    const double fixed = (c.out.delay + c.back.delay) * 1000;
    EXPECT_NEAR(t.roundTripMin, fixed, 0.01 + (c.out.jitter + c.back.jitter) * 1000);
    EXPECT_LE(t.roundTripMax, fixed + (c.out.jitter + c.back.jitter) * 1000 + 3.01);
  }
}

// Each way's class and hops, as the window's packets had them: a path that
// re-marks the voice class shows on its own direction and no other, the
// answers going back in the class the requests asked for.
TEST(CallSessionTest, EachWayReportsItsClassAndHops) {
  const struct {
    Path out, back;
    int forwardReceived, reverseReceived;
  } cases[] = {
      {{0, 0, 0.010, 0, -1, 3}, {0, 0, 0.010, 0, -1, 5}, 46, 46},
      {{0.02, 0, 0.010, 0, 0, 1}, {0, 0, 0.010, 0, -1, 1}, 0, 46},
      {{0, 0, 0.010, 0, -1, 1}, {0.02, 0, 0.010, 0, 10, 2}, 46, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "out re-marks to " << c.out.remarkTo << ", back to "
                                    << c.back.remarkTo);
    const TeskCallSample s = RunCall(c.out, c.back, 7).last;
    EXPECT_EQ(s.forwardDscpSent, 46);
    EXPECT_EQ(s.forwardDscpReceived, c.forwardReceived);
    EXPECT_EQ(s.reverseDscpSent, 46);
    EXPECT_EQ(s.reverseDscpReceived, c.reverseReceived);
    EXPECT_EQ(s.forwardHops, c.out.hops);
    EXPECT_EQ(s.reverseHops, c.back.hops);
  }
}

// A reflector whose numbers cannot tell the directions apart, because it
// copies the sender's or counts all its sessions at once, never gets a
// forward or reverse figure: every window scores the round trip, whose
// losses are those of both ways.
TEST(CallSessionTest, ReflectorsThatCannotTellTheWaysApartGiveTheRoundTrip) {
  for (Numbering numbering : {Numbering::CopiesSender, Numbering::SharedCounter}) {
    for (unsigned seed = 1; seed <= 10; ++seed) {
      for (const auto& ways : {std::pair<Path, Path>{{0.03}, {}}, {{}, {0.03}}, {{0.02}, {0.02}}}) {
        SCOPED_TRACE(testing::Message() << "numbering " << int(numbering) << ", seed " << seed
                                        << ", out " << ways.first.lossRate << ", back "
                                        << ways.second.lossRate);
        const CallTotals t = RunCall(ways.first, ways.second, seed, numbering);
        EXPECT_EQ(t.roundTripSamples, 8u);
        EXPECT_EQ(t.roundTripLost, t.forwardTruth + t.reverseTruth);
      }
    }
  }
}

// The reflector falls silent from 10 s to 14 s of a 30 s call (it neither
// receives nor answers), and comes back as it was or started afresh (its
// numbers from 0 again). The windows that end in the silence, or hold no
// answer, say so and score nothing; every other window scores both
// directions, and the requests of the silence are forward loss.
TEST(CallSessionTest, AReflectorThatFallsSilentAndComesBackOrRestarts) {
  for (bool restarts : {false, true}) {
    SCOPED_TRACE(restarts ? "restarts" : "comes back");
    CallSettings settings;
    CallSession session(settings);
    auto reflector = std::make_unique<StampReflector>(ReflectorLimits{});
    SocketAddress caller;
    makeSocketAddress("192.0.2.1", 40000, &caller);
    const double start = 1700000000.0;
    session.begin(At(start));
    uint8_t request[512], reply[512];
    std::vector<std::pair<double, std::vector<uint8_t>>> answers;
    uint32_t seq = 0;
    unsigned silent = 0, forwardLost = 0;
    for (int tick = 0; tick <= 30; ++tick) {
      for (; start + seq * 0.02 <= start + tick + 1.12 && seq < 1500; ++seq) {
        const double sent = start + seq * 0.02;
        const size_t length = session.request(At(sent), request);
        if (sent >= start + 10 && sent < start + 14) continue;
        if (restarts && sent >= start + 14 && seq == 700) {
          reflector = std::make_unique<StampReflector>(ReflectorLimits{});
        }
        reflector->answer(request, length, caller, At(sent + 0.01), reply);
        reflector->finish(reply, At(sent + 0.01));
        session.takeAnswer(reply, length, At(sent + 0.02));
      }
      session.settle(At(start + tick + 1.12));
      TeskCallSample s;
      const CallSession::Tick t = session.tick(At(start + tick), &s);
      if (tick < 4) continue;
      ASSERT_EQ(t, CallSession::Tick::Sample) << "tick " << tick;
      const bool inSilence = tick >= 11 && tick <= 14;  // windows ending after 10.16 s, up to 14 s
      EXPECT_EQ(s.silent, inSilence) << "tick " << tick;
      EXPECT_EQ(s.haveForward && s.haveReverse, !inSilence) << "tick " << tick;
      silent += s.silent;
      if (s.haveForward) forwardLost += s.forward.lostPackets;
      for (const TeskCallDirection& d : scoredDirections(s)) {
        EXPECT_DOUBLE_EQ(d.sample->lossRate * d.sample->estimatedPackets, d.sample->lostPackets);
      }
      if (s.haveReverse) {
        EXPECT_EQ(s.reverse.lostPackets, 0u) << "tick " << tick;
      }
    }
    EXPECT_EQ(silent, 4u);
    EXPECT_GE(forwardLost, 200u);  // every request of the silence, once per window that holds its gap
    EXPECT_EQ(session.forwardLost(), 200u);
    EXPECT_EQ(session.reverseLost(), 0u);
  }
}

// What is no answer to a request still waiting for one is counted by its
// reason and never scored; a TWAMP-Light peer's shorter answer is scored,
// and its size said.
TEST(CallSessionTest, EveryAnswerNotScoredIsCountedByReason) {
  CallSettings settings;
  settings.sessionId = 7;
  CallSession session(settings);
  StampReflector reflector{ReflectorLimits{}};
  const SocketAddress from = [] {
    SocketAddress a;
    makeSocketAddress("192.0.2.1", 40000, &a);
    return a;
  }();
  std::vector<std::vector<uint8_t>> answers;
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> request(160), answer(160);
    request.resize(session.request(At(1700000000.0 + i * 0.02), request.data()));
    answer.resize(reflector.answer(request.data(), request.size(), from,
                                   At(1700000005.3 + i * 0.02), answer.data()));
    reflector.finish(answer.data(), At(1700000005.3001 + i * 0.02));
    answers.push_back(answer);
  }
  const TimeOfDay back = At(1700000000.5);
  auto changed = [&](int which, size_t offset, uint32_t value) {
    std::vector<uint8_t> a = answers[which];
    for (int k = 0; k < 4; ++k) a[offset + k] = static_cast<uint8_t>(value >> (24 - 8 * k));
    return a;
  };
  auto take = [&](const std::vector<uint8_t>& a, size_t length = 0) {
    return session.takeAnswer(a.data(), length == 0 ? a.size() : length, back);
  };
  EXPECT_TRUE(take(answers[0]));
  EXPECT_FALSE(take(answers[0]));                     // repeated
  EXPECT_FALSE(take(changed(1, 12, 0x80010008)));     // session 8
  EXPECT_FALSE(take(changed(1, 24, 9)));              // sender number 9: never sent
  EXPECT_FALSE(take(changed(1, 32, 12345)));          // not the T1 sent with 1
  EXPECT_FALSE(take(changed(1, 16, 0x10000000)));     // T2 thousands of millions of s away
  EXPECT_FALSE(take(changed(1, 4, 0x10000000)));      // T3 long before T2
  EXPECT_FALSE(take(answers[1], 20));                 // too short
  EXPECT_FALSE(take(answers[1], 35));
  EXPECT_TRUE(take(answers[1], 38));                  // a TWAMP-Light peer's answer
  std::vector<uint8_t> authenticated(kStampAuthLength);  // the other mode's layout
  StampReflectorPacket fields;
  decodeStampReflector(answers[2].data(), answers[2].size(), &fields);
  encodeStampReflectorBase(fields, authenticated.data(), StampMode::Authenticated);
  EXPECT_FALSE(take(authenticated));
  EXPECT_TRUE(take(answers[2]));  // still waiting: the stray did not answer it

  const TeskUnscoredAnswers& u = session.unscored();
  EXPECT_EQ(session.answers(), 3u);
  EXPECT_EQ(u.repeated, 1u);
  EXPECT_EQ(u.wrongSession, 1u);
  EXPECT_EQ(u.notSent, 1u);
  EXPECT_EQ(u.wrongSenderTime, 1u);
  EXPECT_EQ(u.impossibleTime, 2u);
  EXPECT_EQ(u.tooShort, 2u);
  EXPECT_EQ(u.shortestLength, 20u);
  EXPECT_EQ(u.longestShortLength, 35u);
  EXPECT_EQ(u.otherMode, 1u);
  EXPECT_EQ(u.total(), 9u);
  EXPECT_EQ(u.requestLength, 160u);
  EXPECT_EQ(u.answerLength, 38u);
}

// A full TWAMP session's requests: the sender's fields and zeros, with no
// session identifier or TLV that a TWAMP reflector would not return as it
// went; its answers (numbered by the session) score both directions.
TEST(CallSessionTest, TwampSessionRequestsCarryNoTlv) {
  CallSettings settings;
  settings.twamp = true;
  settings.sessionId = 0;
  CallSession session(settings);
  StampReflector reflector{ReflectorLimits{}};
  uint32_t reflected = 0;
  session.begin(At(1000));
  uint8_t request[512], reply[512];
  for (int i = 0; i < 300; ++i) {
    const double sent = 1000 + i * 0.020;
    const size_t length = session.request(At(sent), request);
    ASSERT_EQ(length, 160u);
    ASSERT_TRUE(std::all_of(request + 14, request + length, [](uint8_t b) { return b == 0; }));
    const size_t answer = reflector.answerTwamp(request, length, At(sent + 0.005), reply,
                                                &reflected, 46, IpMarks{46 << 2, 254}, nullptr);
    reflector.finish(reply, At(sent + 0.005));
    ASSERT_TRUE(session.takeAnswer(reply, answer, At(sent + 0.010), IpMarks{46 << 2, 254}));
  }
  session.settle(At(1006.2));
  TeskCallSample sample;
  for (int t = 1; t < 5; ++t) session.tick(At(1000 + t), &sample);
  ASSERT_EQ(session.tick(At(1005), &sample), CallSession::Tick::Sample);
  EXPECT_TRUE(sample.haveForward && sample.haveReverse);
  EXPECT_EQ(sample.forward.lostPackets + sample.reverse.lostPackets, 0u);
  EXPECT_EQ(sample.forwardDscpReceived, -1);  // no Class of Service TLV to tell it
  EXPECT_EQ(sample.reverseDscpReceived, 46);
  EXPECT_EQ(sample.forwardHops, 1);
  EXPECT_EQ(sample.reverseHops, 1);
}

}  // namespace
