#include "server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>

#include "recv_start.h"
#include "sleep_utils.h"
#include "tesk_errors.h"
#include "test_util.h"

namespace {

TEST(ServerTest, StopWaitIsBoundedByTimeoutAndTwoIntervals) {
  EXPECT_EQ(serverStopWaitMillis(30000, 1000), 35000u);
  EXPECT_EQ(serverStopWaitMillis(1000, 10000), 24000u);
  EXPECT_EQ(serverStopWaitMillis(UINT32_MAX - 10, 1000), UINT32_MAX);
}

SampleSink Discard() {
  return SampleSink{[](void*, const TeskSample&) {}, nullptr};
}

// The server on the test clock: datagrams arrive at scripted times, every
// wait moves the clock to the next arrival or to the end of the wait, and a
// stand-in for the calculation ends the way the real one does.
class ScriptedEnvironment : public FakeClock,
                            public std::enable_shared_from_this<ScriptedEnvironment> {
 public:
  enum class Calculation { EndsAtEndOfStream, GivesUp, NeverEnds, CannotStart };

  ScriptedEnvironment() : origin(Micros()) {
    OnNap([this](FakeClock&) { Calculate(); });
  }
  ~ScriptedEnvironment() override { OnNap(nullptr); }

  // Runs the server on this environment. Then the real task runs once: it
  // sees the stop request, ends at once and frees its share of the
  // calculation, which holds this environment in turn.
  int RunServer(uint32_t timeoutMs) {
    const int result = runServer(ShortReceiveConfig(50000, timeoutMs), Discard(),
                                 std::static_pointer_cast<Environment>(shared_from_this()));
    if (task != nullptr) {
      stored = calc->storedPackets();
      calc->requestStop();
      task(taskArg);
      task = nullptr;
      calc = nullptr;
    }
    return result;
  }

  // `count` packets every 20 ms from `fromMs`, then end-of-stream packets
  // every 20 ms for `eosMs`.
  void Stream(int64_t fromMs, uint32_t count, int64_t eosMs) {
    for (uint32_t seq = 0; seq < count; ++seq) Arrive(fromMs + seq * 20, MakePacket(seq, 1, 1));
    for (int64_t t = 0; t < eosMs; t += 20) Arrive(fromMs + count * 20 + t, MakePacket(count, 0, 0));
  }
  void Arrive(int64_t atMs, std::vector<uint8_t> bytes) {
    script.push_back({atMs * 1000, std::move(bytes)});
  }
  int64_t ElapsedMs() { return (Micros() - origin) / 1000; }
  // Packets the server handed the calculation.
  uint64_t Stored() const { return stored; }

  Calculation calculation = Calculation::EndsAtEndOfStream;
  int64_t givesUpAtMs = 0;
  int64_t stopAtMs = -1;
  int openResult = 0;
  bool receiveFails = false;

  // The calculation is the server's one background task; the stand-in
  // watches it instead of running it.
  int startBackground(unsigned long (*routine)(void*), void* arg, unsigned short) override {
    if (calculation == Calculation::CannotStart) return -3;
    task = routine;
    taskArg = arg;
    calc = static_cast<CalculationTask*>(arg)->calculation.get();
    return 0;
  }
  int openSocket(unsigned long, const char*, unsigned short) override { return openResult; }
  Wait waitForDatagram(uint32_t timeoutMs) override {
    Calculate();
    const int64_t now = Micros() - origin;
    const int64_t deadline = now + int64_t{timeoutMs} * 1000;
    const int64_t next = script.empty() ? INT64_MAX : std::max(now, script.front().first);
    if (stopAtMs >= 0 && stopAtMs * 1000 <= std::min(next, deadline)) {
      Advance(std::max<int64_t>(stopAtMs * 1000 - now, 0));
      return Wait::StopRequested;
    }
    if (next <= deadline) {
      Advance(next - now);
      return Wait::Readable;
    }
    Advance(deadline - now);
    return Wait::TimedOut;
  }
  long receive(uint8_t* buffer, size_t capacity, SocketAddress* from, TimeOfDay* arrival) override {
    if (receiveFails) return -1;
    makeSocketAddress("127.0.0.1", 40000, from);
    *arrival = Now();
    const std::vector<uint8_t> bytes = script.front().second;
    script.pop_front();
    std::memcpy(buffer, bytes.data(), std::min(capacity, bytes.size()));
    Payload payload;
    if (decodePacket(bytes.data(), bytes.size(), payload) && payload.isEndOfStream()) {
      endOfStreamDelivered = true;
    }
    return static_cast<long>(bytes.size());
  }
  void closeSocket() override {}

 private:
  int64_t Micros() { return Now().sec * 1000000 + Now().usec; }

  // What the calculation would have done by now: end at an end-of-stream
  // packet, give up, or stop when asked.
  void Calculate() {
    if (calc == nullptr || calc->hasEnded()) return;
    if (calculation == Calculation::NeverEnds) return;
    if (calculation == Calculation::GivesUp && ElapsedMs() >= givesUpAtMs) {
      return calc->end(kQosGaveUp);
    }
    if (calc->stopRequested() ||
        (calculation == Calculation::EndsAtEndOfStream && endOfStreamDelivered)) {
      calc->end(calc->status());
    }
  }

  const int64_t origin;
  std::deque<std::pair<int64_t, std::vector<uint8_t>>> script;  // µs after the origin
  unsigned long (*task)(void*) = nullptr;
  void* taskArg = nullptr;
  ReceiveCalculation* calc = nullptr;
  bool endOfStreamDelivered = false;
  uint64_t stored = 0;
};

// Every way a receive test ends, with its result and when it comes.
TEST(ServerTest, EveryEndOnVirtualTime) {
  using Calc = ScriptedEnvironment::Calculation;
  const struct {
    const char* name;
    std::function<void(ScriptedEnvironment&)> setUp;
    uint32_t timeoutMs;
    int result;
    int64_t endsAtMs;
  } cases[] = {
      // The calculation ends at the end of the stream; the server drains the
      // rest and ends one second after the last of it: 100 packets, 2 s.
      {"normal end", [](ScriptedEnvironment& e) { e.Stream(0, 100, 2000); }, 2000, 0,
       100 * 20 + 1980 + 1000},
      // Any 32-bit time-out is taken in full.
      {"normal end, longest time-out", [](ScriptedEnvironment& e) { e.Stream(0, 100, 2000); },
       0x80000000u, 0, 100 * 20 + 1980 + 1000},
      {"no sender, longest time-out", [](ScriptedEnvironment&) {}, UINT32_MAX, TIMEOUT_ERROR,
       int64_t{UINT32_MAX} + 10},
      // Waited for `timeout`, then the calculation is stopped (one 10 ms look).
      {"no sender", [](ScriptedEnvironment&) {}, 700, TIMEOUT_ERROR, 700 + 10},
      {"sender stops without end of stream", [](ScriptedEnvironment& e) { e.Stream(0, 50, 0); },
       700, TIMEOUT_ERROR, 49 * 20 + 700 + 10},
      // The calculation gives up (at 1.02 s, seen at its next look) while
      // packets still come: the first one stored after that ends the test.
      {"calculation gives up",
       [](ScriptedEnvironment& e) {
         e.Stream(0, 200, 0);
         e.calculation = Calc::GivesUp;
         e.givesUpAtMs = 1010;
       },
       2000, TIMEOUT_ERROR, 1040},
      // End-of-stream packets for five seconds: the calculation ends at the
      // first (0.2 s), the server sees it after the next (0.22 s), and the
      // first one read three seconds or more after that finishes the test.
      {"end of stream that goes on", [](ScriptedEnvironment& e) { e.Stream(0, 10, 5000); }, 2000,
       0, 10 * 20 + 20 + 3000},
      {"stop request", [](ScriptedEnvironment& e) {
         e.Stream(0, 100, 0);
         e.stopAtMs = 500;
       },
       2000, 0, 500 + 10},
      // A calculation that never ends is given timeout + 2 intervals + 3 s.
      {"calculation never ends", [](ScriptedEnvironment& e) { e.calculation = Calc::NeverEnds; },
       200, THREAD_ERROR, 200 + 200 + 1000 + 3000 + 10},
      {"calculation cannot start",
       [](ScriptedEnvironment& e) { e.calculation = Calc::CannotStart; }, 200, THREAD_ERROR, 0},
      {"socket cannot open", [](ScriptedEnvironment& e) { e.openResult = SOCKET_ERROR; }, 200,
       SOCKET_ERROR, 10},
      {"receive fails",
       [](ScriptedEnvironment& e) {
         e.Stream(0, 10, 0);
         e.receiveFails = true;
       },
       200, SOCKET_ERROR, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto env = std::make_shared<ScriptedEnvironment>();
    c.setUp(*env);
    EXPECT_EQ(env->RunServer(c.timeoutMs), c.result);
    EXPECT_EQ(env->ElapsedMs(), c.endsAtMs);
  }
}

// Packets are stored until the calculation ends; what comes after is read
// and dropped. Datagrams shorter than a header are never stored.
TEST(ServerTest, StoresPacketsUntilTheCalculationEnds) {
  auto env = std::make_shared<ScriptedEnvironment>();
  env->Stream(0, 100, 2000);
  env->Arrive(10, std::vector<uint8_t>(14, 0x71));
  ASSERT_EQ(env->RunServer(2000), 0);
  // The packets and two end-of-stream packets: the one the calculation ends
  // at, and the one read before the server looks at the calculation again.
  EXPECT_EQ(env->Stored(), 102u);
}

}  // namespace
