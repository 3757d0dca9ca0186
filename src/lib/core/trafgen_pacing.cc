#include "trafgen_pacing.h"

#include <cmath>

int64_t trafgenSleepMicros(uint32_t intervalMicros, double runTimeSeconds) {
  return static_cast<int64_t>(intervalMicros) -
         static_cast<int64_t>(std::floor(runTimeSeconds * 1000000.0));
}

int64_t trafgenSleepMicrosWithDebt(uint32_t intervalMicros, double runTimeSeconds,
                                   double debtSeconds) {
  return trafgenSleepMicros(intervalMicros, runTimeSeconds) -
         static_cast<int64_t>(std::floor(debtSeconds * 1000000.0));
}

double trafgenNextDebt(double sleptSeconds, int64_t sleepMicros) {
  const double debt = sleptSeconds - sleepMicros / 1000000.0;
  return debt > 0.0 ? debt : 0.0;
}

uint32_t trafgenPacketsPerCallback(uint16_t sampleIntervalMs, uint8_t streamIntervalMs) {
  uint32_t quotient = streamIntervalMs != 0 ? sampleIntervalMs / streamIntervalMs : 0;
  return quotient != 0 ? quotient : 10;
}
