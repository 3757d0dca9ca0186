#ifndef TESK_EMODEL_H
#define TESK_EMODEL_H

// The ITU-T G.107 E-model: the transmission rating R of a window and the MOS
// it maps to. A second opinion beside the trained model, in the terms that
// telephony engineers and routers' SLA probes use. Two ratings of the same
// window:
// - the listening one: loss through G.107's effective equipment impairment,
//   every other factor at G.107's default, which is why a clean path rates
//   R = 93.2;
// - the conversational one: the listening one less G.107's delay impairment
//   Id (talker echo Idte, listener echo Idle, pure delay Idd) at the
//   mouth-to-ear delay, with G.107's default echo losses and its 2015 delay
//   sensitivity parameters (sT = 1, mT = 100 ms).
// Wideband codecs are rated on G.107.1's scale (R up to 129).

#include <cstdint>

// A codec's impairment without loss, its robustness to packet loss and the
// delay it adds beyond its packets.
struct EModelCodec {
  const char* name;
  double ie;       // equipment impairment factor Ie (Ie,WB on the wideband scale)
  double bpl;      // packet-loss robustness factor Bpl
  double delayMs;  // look-ahead and filter delay, beyond the packetisation
  bool wideband;   // rated on G.107.1's scale
};

// The codecs the E-model rates. The trained model knows only the first two.
enum class VoiceCodec : uint8_t { G711, Gsm0610, G729, G723, G722 };
constexpr int kVoiceCodecs = 5;

// Planning values of ITU-T G.113 Appendix I: Ie from its Table I.1, Bpl from
// its Table I.3; G.722 at 64 kbit/s from its wideband table. G.113 gives no
// Bpl for GSM full rate; it takes G.107's default Bpl (4.3), the value of a
// decoder that does not conceal loss. G.722's concealment (its Appendix III
// and IV) is taken to be as robust as G.711's Appendix I.
constexpr EModelCodec kG711WithConcealment{"G711", 0.0, 25.1, 0.0, false};
constexpr EModelCodec kG711WithoutConcealment{"G711", 0.0, 4.3, 0.0, false};
constexpr EModelCodec kGsmFullRate{"GSM0610", 20.0, 4.3, 0.0, false};

// A G.711 receiver is taken to conceal loss, as softphones and gateways do.
// FEC is not rated: R is the codec's over the loss the network left.
const EModelCodec& emodelCodec(VoiceCodec codec);

// The codec of the trained model's codec number (0 G711, 1 GSM 06.10).
VoiceCodec voiceCodecOfModelCodec(uint8_t codec);

// Whether the trained model scores this codec.
inline bool trainedModelKnows(VoiceCodec codec) {
  return codec == VoiceCodec::G711 || codec == VoiceCodec::Gsm0610;
}

// G.107's burst ratio from a window's loss ratio and mean burst length:
// (1 - loss ratio) x mean burst, the expected burst length over that of
// random loss. Never below 1: a window's isolated losses are random loss.
double emodelBurstR(double lossRatio, double meanBurst);

// Ie,eff = Ie + (Ro - Ie) Ppl / (Ppl / BurstR + Bpl), Ppl in percent; Ro is
// 95 on the narrowband scale and 129 on the wideband one.
double emodelIeEff(const EModelCodec& codec, double lossPercent, double burstR);

// The parts of G.107's delay impairment at a mouth-to-ear delay Ta (ms),
// with the echo path's one-way delay T = Ta and the listener echo's round
// trip Tr = 2 Ta, as G.107 takes them when nothing else is known.
struct EModelDelay {
  double idte = 0.0;  // talker echo, at G.107's default TELR of 65 dB
  double idle = 0.0;  // listener echo, at its default WEPL of 110 dB
  double idd = 0.0;   // the delay itself: none up to mT
  double total() const { return idte + idle + idd; }
};
EModelDelay emodelDelay(double mouthToEarMs);

// Idd at Ta with the delay sensitivity sT and the minimum perceivable delay
// mT (ms); G.107's defaults are 1 and 100 ms.
double emodelIdd(double mouthToEarMs, double sensitivity = 1.0, double minimumMs = 100.0);

// What a delay of Ta costs beyond a delay of 0: Id(Ta) - Id(0). At Ta = 0
// G.107's echo terms are already in its default rating of 93.2.
double emodelDelayImpairment(double mouthToEarMs);

// R = 93.2 - Id - Ie,eff on the narrowband scale (no advantage factor).
double emodelR(double ieEff, double delayImpairment);

// MOS = 1 + 0.035 R + 7e-6 R (R - 60)(100 - R), 1 for R <= 0 and 4.5 for
// R >= 100. The cubic dips just under 1 for R below about 6.5; it is held at
// 1, the floor of the scale.
double emodelMos(double r);

// The MOS of a wideband rating: G.107.1 maps R onto the narrowband scale
// (R / 1.29) and converts that.
double emodelWidebandMos(double r);

// G.107 Annex B's user satisfaction for a rating ("satisfied", ...); a
// wideband rating is read on the narrowband scale, as its MOS is.
const char* emodelSatisfaction(double r, bool wideband);

// The mouth-to-ear delay of a voice path: the one-way network delay, the
// packetisation (one packet interval), the receiver's de-jitter buffer and
// the codec's own delay, all in ms.
double emodelMouthToEar(double networkMs, double packetIntervalMs, double dejitterMs,
                        VoiceCodec codec);

// What a window is rated from.
struct EModelWindow {
  VoiceCodec codec = VoiceCodec::G711;
  double lossRate = 0.0;          // 0 to 1
  double averageBurstSize = 1.0;  // packets per loss burst
  double mouthToEarMs = 0.0;      // Ta
};

struct EModelScore {
  double r = 0.0;  // listening: without delay
  double mos = 0.0;
  double conversationalR = 0.0;  // with the delay impairment at Ta
  double conversationalMos = 0.0;
  bool wideband = false;
};

EModelScore emodelScore(const EModelWindow& window);

#endif  // TESK_EMODEL_H
