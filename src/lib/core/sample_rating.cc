#include "sample_rating.h"

void rateSample(const VoicePath& path, double networkDelayMs, TeskDelaySource source,
                TeskSample* sample) {
  EModelWindow window;
  window.codec = path.codec;
  window.lossRate = sample->lossRate;
  window.averageBurstSize = sample->averageBurstSize;
  window.mouthToEarMs =
      emodelMouthToEar(networkDelayMs, path.packetIntervalMs, path.dejitterMs, path.codec);
  const EModelScore score = emodelScore(window);
  sample->emodelR = score.r;
  sample->emodelMos = score.mos;
  sample->conversationalR = score.conversationalR;
  sample->conversationalMos = score.conversationalMos;
  sample->mouthToEarMs = window.mouthToEarMs;
  sample->networkDelayMs = networkDelayMs;
  sample->delaySource = source;
  sample->wideband = score.wideband;
}
