#include "emodel.h"

#include <algorithm>
#include <cmath>

EModelCodec emodelCodecOf(uint8_t codec) {
  return codec == 1 ? kGsmFullRate : kG711WithConcealment;
}

double emodelBurstR(double lossRatio, double meanBurst) {
  return std::max(1.0, (1.0 - lossRatio) * meanBurst);
}

double emodelIeEff(const EModelCodec& codec, double lossPercent, double burstR) {
  if (lossPercent <= 0.0) return codec.ie;
  return codec.ie + (95.0 - codec.ie) * lossPercent / (lossPercent / burstR + codec.bpl);
}

double emodelDelayImpairment(double oneWayMillis) {
  if (oneWayMillis <= 100.0) return 0.0;
  const double x = std::log10(oneWayMillis / 100.0) / std::log10(2.0);
  return 25.0 * (std::pow(1.0 + std::pow(x, 6.0), 1.0 / 6.0) -
                 3.0 * std::pow(1.0 + std::pow(x / 3.0, 6.0), 1.0 / 6.0) + 2.0);
}

double emodelR(double ieEff, double delayImpairment) { return 93.2 - delayImpairment - ieEff; }

double emodelMos(double r) {
  if (r <= 0.0) return 1.0;
  if (r >= 100.0) return 4.5;
  return std::max(1.0, 1.0 + 0.035 * r + 7e-6 * r * (r - 60.0) * (100.0 - r));
}

EModelScore emodelScore(uint8_t codec, double lossRate, double averageBurstSize,
                        double oneWayMillis) {
  const double ratio = std::clamp(lossRate, 0.0, 1.0);
  const double ieEff =
      emodelIeEff(emodelCodecOf(codec), 100.0 * ratio, emodelBurstR(ratio, averageBurstSize));
  const double delay = oneWayMillis < 0.0 ? 0.0 : emodelDelayImpairment(oneWayMillis);
  EModelScore score;
  score.r = emodelR(ieEff, delay);
  score.mos = emodelMos(score.r);
  return score;
}
