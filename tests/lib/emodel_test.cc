#include "emodel.h"
#include "tesk_verdict.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Worked by hand from G.107's equations: Ie,eff = 95 Ppl / (Ppl / BurstR +
// 25.1) for G.711 with concealment, R = 93.2 - Ie,eff, and MOS from R.
TEST(EModelTest, RatingOfLossMatchesWorkedPoints) {
  const struct {
    double lossPercent, burstR, ieEff, r, mos;
  } points[] = {
      {0.0, 1.0, 0.0, 93.2, 4.409286},          // no impairment
      {1.0, 1.0, 3.639847, 89.560153, 4.328075},  // random loss
      {2.0, 1.0, 7.011070, 86.188930, 4.234833},
      {5.0, 1.0, 15.780731, 77.419269, 3.922839},
      {2.0, 2.0, 7.279693, 85.920307, 4.226707},  // bursts
      {2.0, 4.0, 7.421875, 85.778125, 4.222366},
  };
  for (const auto& p : points) {
    SCOPED_TRACE(testing::Message() << p.lossPercent << " % at BurstR " << p.burstR);
    const double ieEff = emodelIeEff(kG711WithConcealment, p.lossPercent, p.burstR);
    EXPECT_NEAR(ieEff, p.ieEff, 5e-6);
    EXPECT_NEAR(emodelR(ieEff, 0.0), p.r, 5e-6);
    EXPECT_NEAR(emodelMos(emodelR(ieEff, 0.0)), p.mos, 5e-6);
  }
  // Without concealment 5 % in bursts of BurstR 3.8: 95 * 5 / (5 / 3.8 + 4.3)
  EXPECT_NEAR(emodelIeEff(kG711WithoutConcealment, 5.0, 3.8), 84.583, 5e-3);
  // GSM full rate starts from its Ie of 20.
  EXPECT_DOUBLE_EQ(emodelR(emodelIeEff(kGsmFullRate, 0.0, 1.0), 0.0), 73.2);
}

// G.107's table of R against MOS (which rounds 4.024 at R = 80 up to 4.03),
// and the ends of the scale.
TEST(EModelTest, MosFollowsTheRatingTable) {
  const struct {
    double r, mos;
  } table[] = {{90, 4.34}, {80, 4.03}, {70, 3.60}, {60, 3.10}, {50, 2.58}};
  for (const auto& row : table) EXPECT_NEAR(emodelMos(row.r), row.mos, 0.0075) << row.r;
  EXPECT_EQ(emodelMos(-5.0), 1.0);
  EXPECT_EQ(emodelMos(3.0), 1.0);  // the cubic's dip below the floor
  EXPECT_EQ(emodelMos(100.0), 4.5);
  for (double r = 0; r < 100; r += 0.5) EXPECT_LE(emodelMos(r), emodelMos(r + 0.5)) << r;
}

EModelWindow window(VoiceCodec codec, double lossRate, double burst, double ta = 0) {
  EModelWindow w;
  w.codec = codec;
  w.lossRate = lossRate;
  w.averageBurstSize = burst;
  w.mouthToEarMs = ta;
  return w;
}

// Idd is 0 up to G.107's 100 ms and follows its curve beyond; the echo
// terms at the default echo losses add a little at every delay, so the
// conversational rating falls steadily and never rises with delay.
TEST(EModelTest, DelayCostsTheConversationNotTheListener) {
  for (double ta : {0.0, 40.0, 100.0}) EXPECT_EQ(emodelIdd(ta), 0.0) << ta;
  EXPECT_NEAR(emodelIdd(200.0), 3.044414, 5e-6);
  EXPECT_NEAR(emodelIdd(400.0), 24.070089, 5e-6);
  EXPECT_EQ(emodelDelayImpairment(0.0), 0.0);
  EXPECT_LT(emodelDelayImpairment(100.0), 3.0);  // echo only
  EXPECT_GT(emodelIdd(200.0, 1.0, 150.0), 0.0);  // a lower sensitivity's later knee
  EXPECT_LT(emodelIdd(200.0, 1.0, 150.0), emodelIdd(200.0));
  const EModelScore clean = emodelScore(window(VoiceCodec::G711, 0.0, 1.0));
  EXPECT_EQ(clean.r, 93.2);
  EXPECT_EQ(clean.conversationalR, 93.2);
  double last = clean.conversationalR;
  for (double ta = 10; ta <= 800; ta += 10) {
    const EModelScore s = emodelScore(window(VoiceCodec::G711, 0.01, 1.0, ta));
    EXPECT_NEAR(s.r, 89.560153, 5e-6) << ta;  // listening: delay does not count
    EXPECT_LE(s.conversationalR, last) << ta;
    EXPECT_NEAR(s.conversationalR, s.r - emodelDelayImpairment(ta), 1e-9);
    last = s.conversationalR;
  }
  // A mouth-to-ear delay adds up the network, the packet, the buffer and
  // the codec's look-ahead.
  EXPECT_DOUBLE_EQ(emodelMouthToEar(30, 20, 60, VoiceCodec::G729), 115.0);
  EXPECT_DOUBLE_EQ(emodelMouthToEar(-1, 20, 60, VoiceCodec::G711), 80.0);
}

// A window's loss rate and average burst size make its BurstR: isolated
// losses are random loss, and the same loss in one long burst rates lower.
TEST(EModelTest, WindowScoreReadsBurstinessFromTheWindow) {
  EXPECT_EQ(emodelBurstR(0.05, 1.0), 1.0);
  EXPECT_DOUBLE_EQ(emodelBurstR(0.05, 4.0), 3.8);
  const EModelScore random = emodelScore(window(VoiceCodec::G711, 0.01, 1.0));
  EXPECT_NEAR(random.r, 89.560153, 5e-6);
  // 15 lost in one burst of a 200-packet window against 1 % random loss.
  EXPECT_LT(emodelScore(window(VoiceCodec::G711, 0.075, 15.0)).mos, random.mos - 0.5);
  EXPECT_LT(emodelScore(window(VoiceCodec::Gsm0610, 0.01, 1.0)).r, random.r);
  EXPECT_GE(emodelScore(window(VoiceCodec::G711, 1.0, 1.0)).mos, 1.0);
  // An undefined burst size (a division by zero upstream) rates as random
  // loss rather than as an undefined number.
  EXPECT_TRUE(std::isfinite(emodelScore(window(VoiceCodec::G711, 0.1, NAN, NAN)).conversationalR));
}

// G.107.1: a clean G.722 call rates 129 - 13 on the wideband scale, its
// loss is weighed against 129, and its MOS and satisfaction read R / 1.29 on
// the narrowband curve.
TEST(EModelTest, WidebandCodecsRateOnTheirOwnScale) {
  const EModelScore g722 = emodelScore(window(VoiceCodec::G722, 0.0, 1.0));
  EXPECT_TRUE(g722.wideband);
  EXPECT_EQ(g722.r, 116.0);
  EXPECT_DOUBLE_EQ(g722.mos, emodelMos(116.0 / 1.29));
  EXPECT_NEAR(emodelIeEff(emodelCodec(VoiceCodec::G722), 2.0, 1.0), 13 + 116 * 2 / (2 / 1.0 + 25.1),
              1e-9);
  EXPECT_EQ(emodelWidebandMos(129.0), 4.5);
  EXPECT_STREQ(emodelSatisfaction(116.0, true), "satisfied");  // 89.9 narrowband
  EXPECT_STREQ(emodelSatisfaction(93.2, false), "very satisfied");
  EXPECT_STREQ(emodelSatisfaction(49.9, false), "not recommended");
}

}  // namespace

// A call's verdict: each direction's mean conversational R in G.107's
// words, the worst window beside it, and the call as its worse direction,
// wideband ratings compared on the narrowband scale.
TEST(EModelTest, VerdictIsTheWorseDirectionsMeanRating) {
  TeskVerdict verdict;
  TeskDirectionVerdict worse;
  EXPECT_FALSE(verdict.call(&worse));
  const auto window = [](double listening, double conversational, bool wideband) {
    TeskSample s;
    s.emodelR = listening;
    s.conversationalR = conversational;
    s.mouthToEarMs = 200;
    s.wideband = wideband;
    return s;
  };
  verdict.add("forward", window(93.2, 92.0, false));
  verdict.add("forward", window(93.2, 78.0, false));
  verdict.add("reverse", window(116.0, 112.0, true));  // 86.8 narrowband
  const std::vector<TeskDirectionVerdict> all = verdict.directions();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].direction, "forward");
  EXPECT_EQ(all[0].windows, 2u);
  EXPECT_DOUBLE_EQ(all[0].conversationalR, 85.0);
  EXPECT_DOUBLE_EQ(all[0].worstConversationalR, 78.0);
  EXPECT_DOUBLE_EQ(all[0].conversationalMos, emodelMos(85.0));
  EXPECT_EQ(all[0].satisfaction, "satisfied");
  EXPECT_DOUBLE_EQ(all[1].conversationalMos, emodelWidebandMos(112.0));
  ASSERT_TRUE(verdict.call(&worse));
  EXPECT_EQ(worse.direction, "forward");
  verdict.add("reverse", window(116.0, 60.0, true));  // mean 86, 66.7 narrowband
  ASSERT_TRUE(verdict.call(&worse));
  EXPECT_EQ(worse.direction, "reverse");
  EXPECT_EQ(worse.satisfaction, "many users dissatisfied");
}
