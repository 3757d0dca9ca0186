#ifndef TESK_SAMPLE_H
#define TESK_SAMPLE_H

// One receiver sample: the figures of one measuring window and its score.
// The receive callback hands the same values one by one (tesk.h); every
// other reader of samples takes this record.

// How the one-way network delay of a conversational rating was obtained.
enum class TeskDelaySource {
  Assumed,        // given by the user (0 unless said otherwise)
  Measured,       // both ends' clocks are synchronised
  HalfRoundTrip,  // an estimate: half the round trip
};

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
  // The ITU-T G.107 E-model's listening rating of the same window, beside
  // the trained model's score: R (up to 93.2 for a clean path) and the MOS
  // it maps to (1 to 4.5). It charges no delay.
  double emodelR = 0.0;
  double emodelMos = 0.0;
  // The conversational rating: the listening one less what the mouth-to-ear
  // delay costs a conversation (G.107's delay impairment).
  double conversationalR = 0.0;
  double conversationalMos = 0.0;
  // The mouth-to-ear delay it assumed (ms): the one-way network delay, the
  // packet interval, the de-jitter buffer and the codec's own delay; and the
  // network part, with how it was obtained.
  double mouthToEarMs = 0.0;
  double networkDelayMs = 0.0;
  TeskDelaySource delaySource = TeskDelaySource::Assumed;
  // Rated on G.107.1's wideband scale: R up to 129, its MOS from R / 1.29.
  bool wideband = false;
  // False where the trained model does not know the codec: `mos` is 0 and
  // only the E-model rates the window.
  bool modelScored = true;

  // The tick's time of day in seconds: the start plus the elapsed time.
  double tickTime() const {
    return startSeconds + startMicroseconds / 1e6 + elapsedSeconds + elapsedMicroseconds / 1e6;
  }
};

#endif  // TESK_SAMPLE_H
