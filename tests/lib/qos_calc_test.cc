#include "qos_calc.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_util.h"

namespace {

// The receive test's calculation on the test clock: packets reach it when
// the clock passes their arrival, which happens while it naps.
class CalculationRun {
 public:
  CalculationRun(uint32_t timeoutMs, const Arrivals& schedule)
      : clock(std::make_shared<FakeClock>(kTestEpoch, 0)),
        arrivals(schedule),
        calc(Window(timeoutMs), Sink(), Label(), clock) {
    clock->OnNap([this](FakeClock& c) {
      for (; next < arrivals.size() && arrivals[next].first <= c.NowSeconds(); ++next) {
        calc.add(arrivals[next].first, arrivals[next].second);
      }
    });
  }

  std::shared_ptr<FakeClock> clock;
  Arrivals arrivals;
  size_t next = 0;
  std::vector<TeskSample> samples;
  ReceiveCalculation calc;

 private:
  static WindowSettings Window(uint32_t timeoutMs) {
    WindowSettings w;
    w.windowSize = 2000;
    w.sampleInterval = 1000;
    w.timeout = timeoutMs;
    return w;
  }
  SampleSink Sink() {
    return SampleSink{[](void* self, const TeskSample& s) {
                        static_cast<CalculationRun*>(self)->samples.push_back(s);
                      },
                      this};
  }
  static CalculationLabel Label() { return CalculationLabel{"127.0.0.1", 50000, 7}; }
};

TEST(ReceiveCalculationTest, TicksTheMeterOnTheClockUntilTheEndOfStream) {
  Arrivals arrivals;
  AddTestStream(arrivals, 0, 250);
  AddTestEndOfStream(arrivals, 5005, 250);
  CalculationRun run(5000, arrivals);
  run.calc.run();
  EXPECT_TRUE(run.calc.hasEnded());
  EXPECT_EQ(run.calc.status(), kQosEndOfStream);
  // Seen at the 10 ms wait step; samples at 2.01, 3.01 and 4.01 s (each
  // taken when the 120 ms de-jitter length after it has passed; the tick's
  // sleep truncates to whole microseconds); the tick at 5.01 s meets the end
  // of the stream, at 5.13 s.
  ASSERT_EQ(run.samples.size(), 3u);
  EXPECT_EQ(run.samples[0].startMicroseconds, 10000u);
  const TeskSample& last = run.samples[2];
  EXPECT_NEAR(last.elapsedSeconds + last.elapsedMicroseconds / 1e6, 4.0, 1e-5);
  EXPECT_NEAR(run.clock->NowSeconds() - kTestEpoch, 5.13, 1e-5);
}

TEST(ReceiveCalculationTest, GivesUpWithoutAFirstPacketWithinTheTimeout) {
  CalculationRun run(500, {});
  run.calc.run();
  EXPECT_TRUE(run.calc.hasEnded());
  EXPECT_EQ(run.calc.status(), kQosGaveUp);
  EXPECT_TRUE(run.samples.empty());
  EXPECT_EQ(run.clock->TotalNappedMicros(), 51 * 10000);
}

TEST(ReceiveCalculationTest, AStopBeforeTheStartEndsItAtOnceWithoutStatus) {
  CalculationRun run(500, {});
  run.calc.requestStop();
  run.calc.run();
  EXPECT_TRUE(run.calc.hasEnded());
  EXPECT_EQ(run.calc.status(), kQosEndOfStream);
  EXPECT_EQ(run.clock->TotalNappedMicros(), 0);
}

}  // namespace
