#include "emodel.h"

double emodelIeEff(double lossPercent, double meanBurst, double bpl) {
  const double ie = 0.0;
  const double burstR = (1.0 - lossPercent / 100.0) * meanBurst;
  if (lossPercent <= 0.0) return ie;
  return ie + (95.0 - ie) * lossPercent / (lossPercent / burstR + bpl);
}

double emodelR(double lossPercent, double meanBurst, double bpl) {
  return 93.2 - emodelIeEff(lossPercent, meanBurst, bpl);
}

double emodelMos(double r) {
  if (r <= 0.0) return 1.0;
  if (r >= 100.0) return 4.5;
  return 1.0 + 0.035 * r + 7e-6 * r * (r - 60.0) * (100.0 - r);
}
