// Arbitrary sequences of datagrams with arbitrary receive times through the
// decoder and the per-window pass, with sample passes in between: the
// figures of every sample must stay finite and in range.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <set>

#include "mos_model.h"
#include "packet.h"
#include "qos_window.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<uint8_t> datagram(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) {  // raw bytes: short, long or anything
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 200));
  }
  // A well-formed header with chosen fields: end-of-stream packets, zero
  // intervals, sequence jumps and wrap-around are all reachable.
  std::vector<uint8_t> d(in.ConsumeIntegralInRange<size_t>(kPacketHeaderSize, 64));
  const uint32_t seq = in.ConsumeIntegral<uint32_t>();
  const bool endOfStream = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  const uint32_t sec = endOfStream ? 0 : in.ConsumeIntegral<uint32_t>();
  const uint32_t usec = endOfStream ? 0 : in.ConsumeIntegralInRange<uint32_t>(0, 999999);
  encodePacketHeader(d.data(), seq, sec, usec, in.ConsumeIntegral<uint8_t>(),
                     in.ConsumeIntegral<uint8_t>());
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  QosWindowConfig config;
  config.windowSize = in.ConsumeIntegralInRange<uint16_t>(1001, 65535);
  config.dejitterLength = in.ConsumeIntegral<uint16_t>();
  QosRunningState state;
  PayloadMap map;
  std::set<double> marks;
  double now = 1700000000.0 + in.ConsumeIntegralInRange<uint32_t>(0, 1000000);
  marks.insert(now);

  while (in.remaining_bytes() > 0) {
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
      std::vector<uint8_t> d = datagram(in);
      Payload payload;
      if (decodePacket(d.data(), d.size(), payload)) map.add(now, payload);
      now += in.ConsumeIntegralInRange<int32_t>(-1000, 2000000) / 1e6;
      continue;
    }
    marks.insert(now);
    QosSampleCounts counts;
    if (qosSamplePass(map, *marks.begin(), config, state, counts) == QosPassResult::EndOfStream) {
      map.clear();
      state = QosRunningState();
      continue;
    }
    if (marks.size() > 1) marks.erase(marks.begin());
    const double loss = qosLossRate(counts.received, counts.lost, state.estimatedPackets);
    const double burst = qosAverageBurstSize(counts.lost, counts.bursts);
    check(std::isfinite(loss) && loss >= 0.0 && loss <= 1.0);
    check(std::isfinite(burst) && burst >= 0.0);
    check(std::isfinite(counts.jitterSum) && counts.jitterSum >= 0.0);
    uint32_t jitter;
    if (qosAverageJitterMillis(counts.jitterSum, counts.received, &jitter)) check(jitter <= 60000);
    const double mos = estimateMos(state.codec, state.fec != 0, state.fec, loss, burst,
                                   state.packetInterval / 80.0);
    check(mos >= 1.0 && mos <= 5.0);
    check(qosPlausibleMos(mos, counts.lost) <= 5.0);
  }
  return 0;
}
