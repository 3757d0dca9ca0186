#include "mos_model.h"

#include <cmath>

namespace {

constexpr int kNeurons = 20;
constexpr int kFirstHidden = 6;
constexpr int kLastHidden = 18;
constexpr int kOutput = 19;

// Firing rate of each neuron: 0-5 inputs, 6-18 hidden, 19 output.
const double psqa_rates_l[kNeurons] = {
    7.904647, 7.187129, 5.394739, 3.624234, 6.089386, 6.919704, 0.495866,
    2.14227,  1.629708, 2.338726, 2.33827,  0.595972, 0.449949, 0.284464,
    0.624228, 0.945665, 1.560134, 0.442903, 0.399264, 0.01};

// Weights are [source][destination]. Only input->hidden and hidden->output
// entries are non-zero; the full 20 x 20 layout keeps the indices readable.
struct WeightTables {
  double plus[kNeurons][kNeurons];
  double minus[kNeurons][kNeurons];
};

constexpr double kInputToHiddenPlus[6][13] = {
    {0.00197493, 0.00557679, 0.282253, 0.261055, 0.00640574, 0.00205512, 0.00164989, 0.00171865,
     0.00217998, 0.00237632, 0.00333308, 0.00170592, 0.259957},
    {0.00316347, 0.774443, 0.0135999, 0.0198041, 0.812248, 0.00309204, 0.00351117, 0.405693,
     0.00312129, 0.00332087, 0.134587, 0.00360173, 0.0127761},
    {0.00147287, 0.0122788, 0.00559098, 0.00640083, 0.188538, 0.00145924, 0.00150427, 0.00102414,
     0.00148963, 0.00159796, 0.149228, 0.00155751, 0.0354907},
    {0.00331021, 0.00527463, 1.48419, 1.82832, 0.00578016, 0.0445724, 0.00277799, 0.00171833,
     0.0585268, 0.128386, 0.00386646, 0.00275425, 0.00889453},
    {0.133558, 0.083049, 0.532095, 0.000747418, 0.0524901, 0.157027, 0.229912, 0.480554, 0.1301,
     0.122171, 0.0603171, 0.212512, 0.810495},
    {0.00125609, 0.324674, 0.00570487, 0.287808, 0.517365, 0.00122584, 0.00138252, 0.00306653,
     0.00125328, 0.0013461, 0.033601, 0.001426, 0.414388},
};

constexpr double kInputToHiddenMinus[6][13] = {
    {0.622733, 0.777646, 0.914623, 0.000253195, 1.01102, 0.618097, 0.753399, 0.000503866, 0.573913,
     0.565315, 0.435426, 0.797924, 0.00155235},
    {0.345752, 0.178255, 0.000170326, 0.0790492, 0.000729485, 0.348105, 0.554945, 0.00149503,
     0.32418, 0.334832, 0.000415444, 0.490869, 2.33537},
    {0.000298086, 0.000458467, 0.965948, 0.00022906, 0.000569827, 0.000296588, 0.000322959,
     3.08097, 0.00029376, 0.000289353, 0.00025666, 0.000322146, 0.936851},
    {0.0035112, 0.00339745, 0.00363203, 0.00367073, 0.003312, 0.00351116, 0.00351861, 0.00361392,
     0.00350974, 0.00350879, 0.00349953, 0.00351843, 0.00365897},
    {0.188812, 0.655542, 0.000974076, 0.257722, 0.607503, 0.248766, 0.237414, 0.00123816,
     0.196095, 0.213762, 0.339756, 0.136184, 0.000590417},
    {0.139893, 0.42947, 0.000256991, 0.000159563, 0.57663, 0.346818, 0.267554, 0.00114324,
     0.191038, 0.280962, 0.401995, 0.139347, 2.54994},
};

constexpr double kHiddenToOutputPlus[13] = {0.177816, 1.04247,  0.196608, 0.287776, 1.22002,
                                            0.215578, 0.15249,  0.0880888, 0.227043, 0.343219,
                                            0.613499, 0.149689, 0.383884};
constexpr double kHiddenToOutputMinus[13] = {0.31805,  1.0998,   1.4331,   2.05095, 1.11825,
                                             0.380394, 0.297459, 0.196375, 0.397185, 0.602446,
                                             0.946635, 0.293214, 0.01538};

WeightTables buildWeights() {
  WeightTables w{};
  for (int i = 0; i < 6; ++i) {
    for (int h = kFirstHidden; h <= kLastHidden; ++h) {
      w.plus[i][h] = kInputToHiddenPlus[i][h - kFirstHidden];
      w.minus[i][h] = kInputToHiddenMinus[i][h - kFirstHidden];
    }
  }
  for (int h = kFirstHidden; h <= kLastHidden; ++h) {
    w.plus[h][kOutput] = kHiddenToOutputPlus[h - kFirstHidden];
    w.minus[h][kOutput] = kHiddenToOutputMinus[h - kFirstHidden];
  }
  return w;
}

const WeightTables psqa_weights_l = buildWeights();
const auto& psqa_wplus_l = psqa_weights_l.plus;
const auto& psqa_wminus_l = psqa_weights_l.minus;

}  // namespace

double estimateMos(double codec, double fecOn, double fec, double lossRate,
                   double averageBurstSize, double scaledInterval) {
  double x[6];
  x[0] = codec;
  x[1] = fecOn;
  x[2] = fec < 3 ? fec / 3.0 : 1.0;
  x[3] = lossRate;
  x[4] = averageBurstSize / 7.0;
  x[5] = scaledInterval < 80.0 ? scaledInterval / 80.0 : 1.0;
  for (double v : x) {
    if (!std::isfinite(v)) return 1.0;
  }

  // The model was trained with FEC on for loss-free windows.
  if (lossRate == 0.0 && fecOn == 0.0) {
    x[1] = 1.0;
    x[2] = 1.0 / 3.0;
  }

  double outN = 0.0;
  double outD = 0.0;
  for (int h = kFirstHidden; h <= kLastHidden; ++h) {
    double n = 0.0;
    double d = 0.0;
    for (int i = 0; i < 6; ++i) {
      n += (psqa_wplus_l[i][h] * x[i]) / psqa_rates_l[i];
      d += (x[i] * psqa_wminus_l[i][h]) / psqa_rates_l[i];
    }
    d += psqa_rates_l[h];
    double q = n / d;
    outN += q * psqa_wplus_l[h][kOutput];
    outD += q * psqa_wminus_l[h][kOutput];
  }

  double raw = (outN * 5.0) / (outD + psqa_rates_l[kOutput]);
  if (raw > 5.0) return 5.0;
  return raw > 1.0 ? raw : 1.0;
}
