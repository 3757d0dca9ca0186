#ifndef TESK_EMODEL_H
#define TESK_EMODEL_H

// The ITU-T G.107 E-model: the transmission rating R of a window and the MOS
// it maps to. A second opinion beside the trained model, in the terms that
// telephony engineers and routers' SLA probes use. Loss enters through G.107's
// effective equipment impairment, delay through its pure-delay impairment;
// every other factor keeps G.107's default value, which is why a clean path
// rates R = 93.2.

#include <cstdint>

// A codec's impairment without loss and its robustness to packet loss.
struct EModelCodec {
  double ie;   // equipment impairment factor Ie
  double bpl;  // packet-loss robustness factor Bpl
};

// Planning values of ITU-T G.113 Appendix I: Ie from its Table I.1, Bpl from
// its Table I.3. G.113 gives no Bpl for GSM full rate; it takes G.107's
// default Bpl (4.3), the value of a decoder that does not conceal loss.
constexpr EModelCodec kG711WithConcealment{0.0, 25.1};
constexpr EModelCodec kG711WithoutConcealment{0.0, 4.3};
constexpr EModelCodec kGsmFullRate{20.0, 4.3};

// The codec of a stream's codec number (0 G.711, 1 GSM 06.10). A G.711
// receiver is taken to conceal loss, as softphones and gateways do. FEC is
// not rated: R is the codec's over the loss the network left.
EModelCodec emodelCodecOf(uint8_t codec);

// G.107's burst ratio from a window's loss ratio and mean burst length:
// (1 - loss ratio) x mean burst, the expected burst length over that of
// random loss. Never below 1: a window's isolated losses are random loss.
double emodelBurstR(double lossRatio, double meanBurst);

// Ie,eff = Ie + (95 - Ie) Ppl / (Ppl / BurstR + Bpl), Ppl in percent.
double emodelIeEff(const EModelCodec& codec, double lossPercent, double burstR);

// The impairment of a one-way delay (G.107's Idd): none up to 100 ms.
double emodelDelayImpairment(double oneWayMillis);

// R = 93.2 - Idd - Ie,eff (no advantage factor).
double emodelR(double ieEff, double delayImpairment);

// MOS = 1 + 0.035 R + 7e-6 R (R - 60)(100 - R), 1 for R <= 0 and 4.5 for
// R >= 100. The cubic dips just under 1 for R below about 6.5; it is held at
// 1, the floor of the scale.
double emodelMos(double r);

struct EModelScore {
  double r = 0.0;
  double mos = 0.0;
};

// The score of a window: its loss rate (0 to 1) and average burst size, and
// its one-way delay in ms, or a negative value when the delay is unknown
// (then no delay impairment is charged).
EModelScore emodelScore(uint8_t codec, double lossRate, double averageBurstSize,
                        double oneWayMillis);

#endif  // TESK_EMODEL_H
