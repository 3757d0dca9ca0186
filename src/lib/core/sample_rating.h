#ifndef TESK_SAMPLE_RATING_H
#define TESK_SAMPLE_RATING_H

// The E-model's listening and conversational ratings of a sample's window,
// written into the sample beside the trained model's score.

#include "emodel.h"
#include "tesk_sample.h"

// What a voice path adds to the network's delay on its way from mouth to
// ear, besides the codec's own delay.
struct VoicePath {
  VoiceCodec codec = VoiceCodec::G711;
  double packetIntervalMs = 20.0;
  double dejitterMs = 120.0;
};

// Rates `sample` from its loss rate and average burst size, at the one-way
// network delay `networkDelayMs` obtained as `source` says.
void rateSample(const VoicePath& path, double networkDelayMs, TeskDelaySource source,
                TeskSample* sample);

#endif  // TESK_SAMPLE_RATING_H
