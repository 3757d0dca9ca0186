#ifndef PULVO_EMODEL_H
#define PULVO_EMODEL_H

// The ITU-T G.107 E-model for G.711 at low delay, with packet loss only:
// the yardstick the MOS model is compared with.

// The effective equipment impairment: Ie + (95 - Ie) * Ppl / (Ppl / BurstR +
// Bpl), with Ie = 0 for G.711, Ppl in percent, BurstR = (1 - loss ratio) *
// mean burst length, and Bpl the codec's robustness to loss (G.113: 25.1
// with packet-loss concealment, 4.3 without).
double emodelIeEff(double lossPercent, double meanBurst, double bpl);

// R = 93.2 - Ie,eff (default values, no delay, no echo).
double emodelR(double lossPercent, double meanBurst, double bpl);

// MOS from R: 1 + 0.035 R + 7e-6 R (R - 60) (100 - R) for 0 < R < 100; 1
// below, 4.5 above.
double emodelMos(double r);

#endif  // PULVO_EMODEL_H
