#ifndef TESK_SAMPLE_H
#define TESK_SAMPLE_H

// One receiver sample: the figures of one measuring window and its score.
// The receive callback hands the same values one by one (tesk.h); every
// other reader of samples takes this record.

struct TeskSample {
  double mos = 0.0;                   // 1 to 5; 0 for a score judged implausible
  unsigned int startSeconds = 0;      // the measurement start, time of day
  unsigned int startMicroseconds = 0;
  unsigned int elapsedSeconds = 0;    // from the start to the tick that took the sample
  unsigned int elapsedMicroseconds = 0;
  unsigned int lostPackets = 0;
  unsigned int estimatedPackets = 0;  // the window's length over the packet interval
  double lossRate = 0.0;
  double averageBurstSize = 0.0;      // packets per loss burst
  unsigned int avgJitter = 0;         // ms
  unsigned int testId = 0;
  // The ITU-T G.107 E-model's rating of the same window, beside the trained
  // model's score: R (up to 93.2 for a clean path) and the MOS it maps to
  // (1 to 4.5). It charges no delay where the window's delay is unknown.
  double emodelR = 0.0;
  double emodelMos = 0.0;

  // The tick's time of day in seconds: the start plus the elapsed time.
  double tickTime() const {
    return startSeconds + startMicroseconds / 1e6 + elapsedSeconds + elapsedMicroseconds / 1e6;
  }
};

#endif  // TESK_SAMPLE_H
