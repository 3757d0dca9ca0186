#include "tesk_verdict.h"

#include <algorithm>

#include "emodel.h"

void TeskVerdict::add(const std::string& direction, const TeskSample& w) {
  auto t = std::find_if(tallies.begin(), tallies.end(),
                        [&](const Tally& each) { return each.direction == direction; });
  if (t == tallies.end()) {
    tallies.push_back({});
    t = tallies.end() - 1;
    t->direction = direction;
    t->worst = w.conversationalR;
  }
  t->windows++;
  t->listening += w.emodelR;
  t->conversational += w.conversationalR;
  t->worst = std::min(t->worst, w.conversationalR);
  t->mouthToEar += w.mouthToEarMs;
  t->network += w.networkDelayMs;
  t->source = w.delaySource;
  t->wideband = w.wideband;
}

std::vector<TeskDirectionVerdict> TeskVerdict::directions() const {
  std::vector<TeskDirectionVerdict> out;
  for (const Tally& t : tallies) {
    TeskDirectionVerdict v;
    v.direction = t.direction;
    v.windows = t.windows;
    v.listeningR = t.listening / t.windows;
    v.conversationalR = t.conversational / t.windows;
    v.conversationalMos =
        t.wideband ? emodelWidebandMos(v.conversationalR) : emodelMos(v.conversationalR);
    v.worstConversationalR = t.worst;
    v.mouthToEarMs = t.mouthToEar / t.windows;
    v.networkDelayMs = t.network / t.windows;
    v.delaySource = t.source;
    v.wideband = t.wideband;
    v.satisfaction = emodelSatisfaction(v.conversationalR, t.wideband);
    out.push_back(v);
  }
  return out;
}

bool TeskVerdict::call(TeskDirectionVerdict* worse) const {
  const std::vector<TeskDirectionVerdict> all = directions();
  if (all.empty()) return false;
  // Ratings of the two scales compare on the narrowband one.
  const auto narrow = [](const TeskDirectionVerdict& v) {
    return v.wideband ? v.conversationalR / 1.29 : v.conversationalR;
  };
  const auto lowest = std::min_element(all.begin(), all.end(), [&](const auto& a, const auto& b) {
    return narrow(a) < narrow(b);
  });
  if (worse != nullptr) *worse = *lowest;
  return true;
}
