// How close to its deadline the engine's nap ends, read inside the process:
// the figure the pacing benchmark cannot see through the kernel's send path.
// Usage: nap_bench [microseconds per nap] [naps]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sleep_utils.h"

namespace {

double cpuSeconds() {
  rusage r;
  getrusage(RUSAGE_SELF, &r);
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned micros = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int naps = argc > 2 ? std::atoi(argv[2]) : 500;
  if (micros == 0 || naps <= 0) {
    std::fprintf(stderr, "usage: nap_bench [microseconds per nap] [naps]\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  std::vector<double> late;
  const double cpuBefore = cpuSeconds();
  for (int i = 0; i < naps; ++i) {
    const auto deadline = Clock::now() + std::chrono::microseconds(micros);
    platformNap(micros);
    late.push_back(std::chrono::duration<double, std::micro>(Clock::now() - deadline).count());
  }
  const double cpu = cpuSeconds() - cpuBefore;
  double mean = 0;
  for (double x : late) mean += x;
  mean /= naps;
  std::sort(late.begin(), late.end());
  auto at = [&](double q) { return late[static_cast<size_t>(q * (naps - 1))]; };
  std::printf("nap(%u) x %d: ends late by mean %.1f, p50 %.1f, p90 %.1f, p99 %.1f, max %.1f us; "
              "%.1f us of CPU per nap\n",
              micros, naps, mean, at(0.5), at(0.9), at(0.99), late.back(), cpu / naps * 1e6);
  return 0;
}
