// Engine figures: the MOS model per call, one sample pass over a full 20 s
// window of a 1 ms stream, and a live 1 ms stream from pulvo send into an
// in-process receiver with a 20 s window (how late each tick runs, and how
// many packets it wrongly counts lost on a clean path).
// Usage: engine_bench <path to pulvo> [live seconds, 0 to skip]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "meter.h"
#include "mos_model.h"
#include "qos_window.h"
#include "sleep_utils.h"
#include "tesk.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

double nanosPer(Clock::time_point start, long count) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / count;
}

void mosPerCall() {
  volatile double sink = 0;
  const long calls = 2000000;
  auto start = Clock::now();
  for (long i = 0; i < calls; ++i) {
    sink = sink + estimateMos(i & 1, 0, 0, (i % 100) / 1000.0, 1.0 + (i % 5), 0.25);
  }
  std::printf("MOS model: %.1f ns per call\n", nanosPer(start, calls));
}

void samplePass() {
  const int packets = 20000;  // 20 s at 1 ms
  QosWindowConfig config;
  config.windowSize = 20000;
  config.dejitterLength = 120;
  const int rounds = 200;
  double total = 0;
  for (int r = 0; r < rounds; ++r) {
    PayloadMap map;
    for (int i = 0; i < packets; ++i) {
      Payload p;
      p.seqNum = i;
      p.sendSec = 1700000000 + i / 1000;
      p.sendUsec = (i % 1000) * 1000;
      p.packetInterval = 10;
      map.add(1700000000.005 + i / 1000.0, p);
    }
    QosRunningState state;
    QosSampleCounts counts;
    auto start = Clock::now();
    qosSamplePass(map, 1700000000.0, config, state, counts);
    total += nanosPer(start, 1);
  }
  std::printf("sample pass over a 20 s window of a 1 ms stream (20000 packets): %.2f ms\n",
              total / rounds / 1e6);
}

// Many streams in one thread, as one receiver of a whole fleet would carry
// them: 1,000 meters, each fed a 20 ms stream (1 % of packets missing) and
// ticked once a second with a 4 s window, for a minute of stream time. CPU
// time per stream-second.
void manyMeters() {
  const int streams = 1000, seconds = 60, perSecond = 50;
  WindowSettings w;  // the receive test's defaults: 4 s window, 1 s interval
  std::vector<Meter> meters(streams, Meter(w, "", nullptr));
  const double t0 = 1700000000.0;
  for (Meter& m : meters) m.begin(TimeOfDay{1700000000, 0});
  unsigned long samples = 0, lost = 0;
  uint32_t rng = 1;
  std::clock_t cpuStart = std::clock();
  for (int second = 1; second <= seconds; ++second) {
    for (int i = 0; i < perSecond; ++i) {
      const uint32_t seq = static_cast<uint32_t>((second - 1) * perSecond + i);
      for (int s = 0; s < streams; ++s) {
        rng = rng * 1664525u + 1013904223u;
        if (rng % 100 == 0) continue;
        const double sent = t0 + seq * 0.020 + s * 1e-5;
        Payload p;
        p.seqNum = seq;
        p.sendSec = static_cast<uint32_t>(sent);
        p.sendUsec = static_cast<uint32_t>((sent - p.sendSec) * 1e6);
        p.packetInterval = 20;
        meters[s].add(sent + 0.005 + (rng >> 24) * 1e-5, p);
      }
    }
    for (Meter& m : meters) {
      TeskSample sample;
      if (m.tick(TimeOfDay{1700000000 + second, 0}, &sample) == Meter::Tick::Sample) {
        samples++;
        lost += sample.lostPackets;
      }
    }
  }
  const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("%d meters, 20 ms streams, %d s each in one thread: %.2f s CPU, %.2f us per "
              "stream-second (%lu samples, %lu lost packets counted)\n",
              streams, seconds, cpuSeconds, cpuSeconds * 1e6 / (streams * seconds), samples, lost);
}

struct Recorder : TeskReceiverCallback {
  void doCallback(double, unsigned, unsigned, unsigned elapsedSec, unsigned elapsedUsec,
                  unsigned lost, unsigned, double, double, unsigned, unsigned) override {
    std::lock_guard<std::mutex> lock(mutex);
    elapsed.push_back(elapsedSec + elapsedUsec / 1e6);
    lostPackets.push_back(lost);
  }
  std::mutex mutex;
  std::vector<double> elapsed;
  std::vector<unsigned> lostPackets;
};

void liveStream(const char* pulvo, int seconds) {
  const unsigned short port = 46900;
  Recorder recorder;
  int result = -1;
  std::thread receiving([&] {
    TeskReceiver receiver("127.0.0.1", port, 20000, 1000, 120, 5000, 1, &recorder);
    result = receiver.startReceiver();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  RunProcess({pulvo, "send:sti=1,sai=1,td=" + std::to_string(seconds) + ",rp=" +
                         std::to_string(port) + ",lp=" + std::to_string(port + 1)},
             "", seconds + 30.0);
  receiving.join();
  std::vector<double> late;
  for (size_t i = 1; i < recorder.elapsed.size(); ++i) {
    late.push_back((recorder.elapsed[i] - recorder.elapsed[i - 1] - 1.0) * 1000.0);
  }
  std::sort(late.begin(), late.end());
  unsigned falseLoss = 0;
  for (unsigned l : recorder.lostPackets) falseLoss += l;
  std::printf("live 1 ms stream into a 20 s window: result %d, %zu samples, tick period late by "
              "median %.3f ms / max %.3f ms, lost packets summed over samples %u (clean path)\n",
              result, recorder.elapsed.size(), late.empty() ? 0 : late[late.size() / 2],
              late.empty() ? 0 : late.back(), falseLoss);
}

}  // namespace

int main(int argc, char** argv) {
  mosPerCall();
  samplePass();
  manyMeters();
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  if (argc > 1 && seconds > 0) liveStream(argv[1], seconds);
  return 0;
}
