// Its own process: the first receive test creates the pool without workers,
// so the calculation task never runs.
#include <gtest/gtest.h>

#include <chrono>

#include "task_pool.h"
#include "tesk.h"
#include "test_util.h"

namespace {

struct NoSamples : TeskReceiverCallback {
  void doCallback(double, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, double,
                  double, unsigned, unsigned) override {
    calls++;
  }
  int calls = 0;
};

TEST(ServerWithoutWorkerTest, GivesUpWaitingForTheCalculationWithThreadError) {
  NoSamples samples;
  const uint16_t port = FreeUdpPort();
  // Window 1.5 s, interval 0.5 s, time-out 0.2 s: the server waits 0.2 s for
  // packets, then at most 0.2 + 1.0 + 3 s for a calculation that never ran.
  TeskReceiver receiver("127.0.0.1", port, 1500, 500, 120, 200, 1, &samples, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(receiver.startReceiver(), THREAD_ERROR);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(taskPoolWorkerCount(), 0);
  EXPECT_GT(seconds, 4.0);
  EXPECT_LT(seconds, 8.0);
  // A second test in the same process fails the same way and the first
  // one's shared state is still intact for its never-run task.
  EXPECT_EQ(receiver.startReceiver(), THREAD_ERROR);
  EXPECT_EQ(samples.calls, 0);
}

}  // namespace
