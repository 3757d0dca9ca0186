#ifndef TESK_MOS_MODEL_H
#define TESK_MOS_MODEL_H

// The MOS model: a three-layer random neural network (6 inputs, 13 hidden
// neurons, 1 output) with fixed trained weights. Pure and thread-safe.
//
// scaledInterval is the packet interval in milliseconds divided by 80; the
// model divides by 80 once more, as it was trained. Returns 1.0 to 5.0, and
// 1.0 for inputs that are not finite numbers.
double estimateMos(double codec, double fecOn, double fec, double lossRate,
                   double averageBurstSize, double scaledInterval);

// A score this high is implausible for a window that lost packets.
constexpr double kImplausibleMosWithLoss = 4.05;

#endif  // TESK_MOS_MODEL_H
