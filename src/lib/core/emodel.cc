#include "emodel.h"

#include <algorithm>
#include <cmath>

namespace {

// G.107's default values of the terminals and the room (its Table 3), from
// which the echo terms are derived: send and receive loudness ratings,
// sidetone masking and listener sidetone ratings (dB), the D-value of the
// sending side, circuit noise and the noise floor at the receiving side
// (dBm0p), room noise at both ends (dB(A)).
constexpr double kSlr = 8, kRlr = 2, kLstr = 18, kDs = 3;
constexpr double kNc = -70, kNfor = -64, kPs = 35, kPr = 35;
constexpr double kTelr = 65;   // talker echo loudness rating, dB
constexpr double kWepl = 110;  // weighted echo path loss, dB

double log10of(double x) { return std::log10(x); }

// The total noise No (dBm0p) of G.107's clause 7.2 at the defaults.
double defaultNoise() {
  const double olr = kSlr + kRlr;
  const double nos = kPs - kSlr - kDs - 100 + 0.004 * std::pow(kPs - olr - kDs - 14, 2);
  const double pre = kPr + 10 * log10of(1 + std::pow(10, (10 - kLstr) / 10));
  const double nor = kRlr - 121 + pre + 0.008 * std::pow(pre - 35, 2);
  const double nfo = kNfor + kRlr;
  return 10 * log10of(std::pow(10, kNc / 10) + std::pow(10, nos / 10) + std::pow(10, nor / 10) +
                      std::pow(10, nfo / 10));
}

const double kNo = defaultNoise();
const double kRo = 15 - 1.5 * (kSlr + kNo);  // basic signal-to-noise ratio
const double kRoe = -1.5 * (kNo - kRlr);     // the same seen from the talker's echo

// Talker echo at the echo path's one-way delay T (ms). The default
// sidetone (STMR 15 dB) needs neither of G.107's sidetone corrections.
double talkerEcho(double t) {
  const double terv = kTelr - 40 * log10of((1 + t / 10) / (1 + t / 150)) + 6 * std::exp(-0.3 * t * t);
  const double re = 80 + 2.5 * (terv - 14);
  const double d = kRoe - re;
  return (d / 2 + std::sqrt(d * d / 4 + 100) - 1) * (1 - std::exp(-t));
}

// Listener echo at the round trip Tr (ms) of the four-wire loop.
double listenerEcho(double tr) {
  const double rle = 10.5 * (kWepl + 7) * std::pow(tr + 1, -0.25);
  const double d = kRo - rle;
  return d / 2 + std::sqrt(d * d / 4 + 169);
}

// The clean rating of each scale: G.107's default R, and G.107.1's Ro,WB
// (its other impairments default to 0).
constexpr double kNarrowbandR = 93.2;
constexpr double kWidebandR = 129.0;

// G.729 (Annex A, 8 kbit/s): Ie 11, Bpl 19.0, 5 ms look-ahead. G.723.1 at
// 6.3 kbit/s: Ie 15, Bpl 16.1, 7.5 ms look-ahead. G.722 at 64 kbit/s:
// Ie,WB 13 and its QMF filters' 1.5 ms.
constexpr EModelCodec kCodecs[kVoiceCodecs] = {
    kG711WithConcealment,
    kGsmFullRate,
    {"G729", 11.0, 19.0, 5.0, false},
    {"G723", 15.0, 16.1, 7.5, false},
    {"G722", 13.0, 25.1, 1.5, true},
};

}  // namespace

const EModelCodec& emodelCodec(VoiceCodec codec) {
  const int index = static_cast<int>(codec);
  return kCodecs[index >= 0 && index < kVoiceCodecs ? index : 0];
}

VoiceCodec voiceCodecOfModelCodec(uint8_t codec) {
  return codec == 1 ? VoiceCodec::Gsm0610 : VoiceCodec::G711;
}

double emodelBurstR(double lossRatio, double meanBurst) {
  return std::max(1.0, (1.0 - lossRatio) * meanBurst);
}

double emodelIeEff(const EModelCodec& codec, double lossPercent, double burstR) {
  if (lossPercent <= 0.0) return codec.ie;
  const double ro = codec.wideband ? kWidebandR : 95.0;
  return codec.ie + (ro - codec.ie) * lossPercent / (lossPercent / burstR + codec.bpl);
}

double emodelIdd(double mouthToEarMs, double sensitivity, double minimumMs) {
  if (!(mouthToEarMs > minimumMs)) return 0.0;
  const double x = std::log10(mouthToEarMs / minimumMs) / std::log10(2.0);
  const double s = 6.0 * sensitivity;
  return 25.0 * (std::pow(1.0 + std::pow(x, s), 1.0 / s) -
                 3.0 * std::pow(1.0 + std::pow(x / 3.0, s), 1.0 / s) + 2.0);
}

EModelDelay emodelDelay(double mouthToEarMs) {
  const double ta = std::max(0.0, mouthToEarMs);
  EModelDelay d;
  d.idte = talkerEcho(ta);
  d.idle = listenerEcho(2 * ta);
  d.idd = emodelIdd(ta);
  return d;
}

double emodelDelayImpairment(double mouthToEarMs) {
  static const double atZero = emodelDelay(0.0).total();
  return emodelDelay(mouthToEarMs).total() - atZero;
}

double emodelR(double ieEff, double delayImpairment) {
  return kNarrowbandR - delayImpairment - ieEff;
}

double emodelMos(double r) {
  if (r <= 0.0) return 1.0;
  if (r >= 100.0) return 4.5;
  return std::max(1.0, 1.0 + 0.035 * r + 7e-6 * r * (r - 60.0) * (100.0 - r));
}

double emodelWidebandMos(double r) { return emodelMos(r / 1.29); }

const char* emodelSatisfaction(double r, bool wideband) {
  const double narrow = wideband ? r / 1.29 : r;
  if (narrow >= 90) return "very satisfied";
  if (narrow >= 80) return "satisfied";
  if (narrow >= 70) return "some users dissatisfied";
  if (narrow >= 60) return "many users dissatisfied";
  if (narrow >= 50) return "nearly all users dissatisfied";
  return "not recommended";
}

double emodelMouthToEar(double networkMs, double packetIntervalMs, double dejitterMs,
                        VoiceCodec codec) {
  return std::max(0.0, networkMs) + packetIntervalMs + dejitterMs + emodelCodec(codec).delayMs;
}

EModelScore emodelScore(const EModelWindow& window) {
  const EModelCodec& codec = emodelCodec(window.codec);
  const double ratio = std::isfinite(window.lossRate) ? std::clamp(window.lossRate, 0.0, 1.0) : 1.0;
  const double burst = std::isfinite(window.averageBurstSize) ? window.averageBurstSize : 1.0;
  const double ieEff = emodelIeEff(codec, 100.0 * ratio, emodelBurstR(ratio, burst));
  const double delay =
      std::isfinite(window.mouthToEarMs) ? emodelDelayImpairment(window.mouthToEarMs) : 0.0;
  EModelScore score;
  score.wideband = codec.wideband;
  const double clean = codec.wideband ? kWidebandR : kNarrowbandR;
  score.r = clean - ieEff;
  score.conversationalR = score.r - delay;
  const auto mos = codec.wideband ? emodelWidebandMos : emodelMos;
  score.mos = mos(score.r);
  score.conversationalMos = mos(score.conversationalR);
  return score;
}
