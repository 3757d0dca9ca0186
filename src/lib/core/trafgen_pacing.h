#ifndef TESK_TRAFGEN_PACING_H
#define TESK_TRAFGEN_PACING_H

// The generator's pacing arithmetic, apart from its loop so it can be tested
// with plain numbers.

#include <cstdint>

// Microseconds to pause so that the turn, which has run `runTimeSeconds`
// since the end of the previous pause, lasts one interval. Not above 0 when
// the turn already took the whole interval.
int64_t trafgenSleepMicros(uint32_t intervalMicros, double runTimeSeconds);

// With a carried-over debt (seconds the previous pauses ran over, or were
// skipped), the pause is shortened by the debt as well.
int64_t trafgenSleepMicrosWithDebt(uint32_t intervalMicros, double runTimeSeconds,
                                   double debtSeconds);

// The debt after a pause that lasted `sleptSeconds` where `sleepMicros` were
// asked (not above 0 when the pause was skipped): what it ran over, never
// below 0.
double trafgenNextDebt(double sleptSeconds, int64_t sleepMicros);

// Sample callbacks come every `sampleInterval / streamInterval` data
// packets, or every 10 when the sampling interval is shorter than a packet.
uint32_t trafgenPacketsPerCallback(uint16_t sampleIntervalMs, uint8_t streamIntervalMs);

#endif  // TESK_TRAFGEN_PACING_H
