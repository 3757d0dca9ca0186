#include "trafgen_pacing.h"

#include <cmath>

int64_t trafgenSleepMicros(uint32_t intervalMicros, double runTimeSeconds) {
  return static_cast<int64_t>(intervalMicros) -
         static_cast<int64_t>(std::floor(runTimeSeconds * 1000000.0));
}

uint32_t trafgenPacketsPerCallback(uint16_t sampleIntervalMs, uint8_t streamIntervalMs) {
  uint32_t quotient = streamIntervalMs != 0 ? sampleIntervalMs / streamIntervalMs : 0;
  return quotient != 0 ? quotient : 10;
}
