// Prints, as CSV, what the built-in MOS model says for G711 and GSM0610 at
// every FEC level against the loss rate (0 to 20 %) at burst sizes 1, 2 and
// 4, with a 20 ms packet interval, and beside it the E-model for G.711 with
// and without packet-loss concealment. The model is the one the receiver
// runs (estimateMos), called as the QoS calculation calls it.
//
// Columns: model, codec, fec, burst, loss_percent, mos, reported. "reported"
// is what a sample would show: a score of 4.05 or more with loss becomes 0.
// The E-model's conversational rating is there too, for a path 150 ms long
// one way (290 ms mouth to ear with the 20 ms packet and the 120 ms buffer).
//
// With --delay: the E-model's rating of a clean G.711 call against its
// mouth-to-ear delay (0 to 600 ms), ITU-T G.114's curve, with the parts of
// the delay impairment. Columns: ta_ms, idte, idle, idd, r, mos, satisfaction.
#include <cstdio>
#include <cstring>

#include "emodel.h"
#include "mos_model.h"
#include "qos_window.h"

namespace {

void printDelayCurve() {
  std::printf("ta_ms,idte,idle,idd,r,mos,satisfaction\n");
  const EModelDelay atZero = emodelDelay(0);
  for (int ta = 0; ta <= 600; ta += 10) {
    const EModelDelay d = emodelDelay(ta);
    const double r = emodelR(0.0, emodelDelayImpairment(ta));
    std::printf("%d,%.4f,%.4f,%.4f,%.4f,%.4f,%s\n", ta, d.idte - atZero.idte,
                d.idle - atZero.idle, d.idd, r, emodelMos(r), emodelSatisfaction(r, false));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--delay") == 0) {
    printDelayCurve();
    return 0;
  }
  const char* codecs[] = {"G711", "GSM0610"};
  const char* fecs[] = {"none", "gsmpiggyback1", "gsmpiggyback2", "gsmpiggyback3"};
  const int bursts[] = {1, 2, 4};
  const double intervalMs = 20.0;
  std::printf("model,codec,fec,burst,loss_percent,mos,reported\n");
  for (int codec = 0; codec < 2; ++codec) {
    for (int fec = 0; fec < 4; ++fec) {
      for (int burst : bursts) {
        for (int step = 0; step <= 40; ++step) {
          const double lossPercent = step * 0.5;
          const double lossRate = lossPercent / 100.0;
          const double burstSize = lossRate > 0 ? burst : 1.0;
          const double mos = estimateMos(codec, fec != 0 ? 1.0 : 0.0, fec, lossRate, burstSize,
                                         intervalMs / 80.0);
          const double reported = qosPlausibleMos(mos, lossRate > 0 ? 1 : 0);
          std::printf("pulvo,%s,%s,%d,%.1f,%.6f,%.6f\n", codecs[codec], fecs[fec], burst,
                      lossPercent, mos, reported);
        }
      }
    }
  }
  const struct {
    const char* name;
    EModelCodec codec;
  } concealment[] = {{"PLC", kG711WithConcealment}, {"no PLC", kG711WithoutConcealment}};
  for (const auto& c : concealment) {
    for (int burst : bursts) {
      for (int step = 0; step <= 40; ++step) {
        const double lossPercent = step * 0.5;
        const double burstR = emodelBurstR(lossPercent / 100.0, burst);
        const double mos = emodelMos(emodelR(emodelIeEff(c.codec, lossPercent, burstR), 0.0));
        std::printf("emodel,G711,%s,%d,%.1f,%.6f,%.6f\n", c.name, burst, lossPercent, mos, mos);
      }
    }
  }
  const double delay = emodelDelayImpairment(emodelMouthToEar(150, 20, 120, VoiceCodec::G711));
  for (int step = 0; step <= 40; ++step) {
    const double lossPercent = step * 0.5;
    const double ieEff = emodelIeEff(kG711WithConcealment, lossPercent, 1.0);
    const double mos = emodelMos(emodelR(ieEff, delay));
    std::printf("emodel,G711,PLC conversational 150 ms one way,1,%.1f,%.6f,%.6f\n", lossPercent,
                mos, mos);
  }
  return 0;
}
