#include <gtest/gtest.h>

#include <chrono>

#include "recv_start.h"
#include "server.h"
#include "trafgen.h"
#include "sleep_utils.h"
#include "tesk_errors.h"
#include "test_util.h"

// The receive and send tests on real sockets and the real clock.

namespace {

struct Collected {
  std::vector<TeskSample> samples;
  static void Record(void* self, const TeskSample& sample) {
    static_cast<Collected*>(self)->samples.push_back(sample);
  }
};

TEST(EngineSocketTest, PortInUseIsASocketError) {
  UdpPeer occupant;
  Collected samples;
  TeskReceiveSettings config = ShortReceiveConfig(occupant.port(), 1000);
  const TestOutcome inUse = runReceiver(config, SampleSink{&Collected::Record, &samples});
  EXPECT_EQ(inUse.code, SOCKET_ERROR);
  EXPECT_EQ(inUse.reason.rfind("Error binding to the socket (ip=127.0.0.1, port=", 0), 0u)
      << inUse.reason;
  config.localAddress = "1.2.3.4.5";
  const TestOutcome refused = runReceiver(config, SampleSink{&Collected::Record, &samples});
  EXPECT_EQ(refused.code, PARAMETER_ERROR);
  EXPECT_EQ(refused.reason,
            "Error in receiver parameter: ip_address 1.2.3.4.5 is not a valid IP address");
}

// The waits count elapsed time: a step of the time of day neither ends a
// wait early nor stretches it. The one server test on a real socket and
// clock: the time of day jumps an hour ahead 100 ms into a test without a
// sender, which still waits its half second.
TEST(EngineSocketTest, ATimeOfDayStepDoesNotMoveTheTimeOut) {
  // The system's environment, its time of day an hour ahead 100 ms after
  // the start.
  struct SteppingEnvironment : SystemEnvironment {
    const std::chrono::steady_clock::time_point begin = std::chrono::steady_clock::now();
    TimeOfDay timeOfDay() override {
      TimeOfDay t = platformTimeOfDay();
      if (std::chrono::steady_clock::now() - begin > std::chrono::milliseconds(100)) t.sec += 3600;
      return t;
    }
  };
  Collected samples;
  SteppingEnvironment env;
  const auto started = std::chrono::steady_clock::now();
  const int result = runServer(ShortReceiveConfig(FreeUdpPort(), 500),
                               SampleSink{&Collected::Record, &samples}, env);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result, TIMEOUT_ERROR);
  EXPECT_GT(took.count(), 0.45);
  EXPECT_LT(took.count(), 5.0);
}

// The system's socket layer refuses port 0 and a port in use.
TEST(EngineSocketTest, TheGeneratorsSocketFailuresAreSocketErrors) {
  UdpPeer receiver, occupant;
  auto noSample = [](void*, unsigned int, unsigned int) { ADD_FAILURE() << "a sample"; };
  int context = 0;
  for (uint16_t localPort : {uint16_t{0}, occupant.port()}) {
    TeskSendSettings config = DefaultSendConfig();
    config.localPort = localPort;
    config.remotePort = receiver.port();
    const TestOutcome outcome = startGenerator(config, SendSink{noSample, &context});
    EXPECT_EQ(outcome.code, SOCKET_ERROR);
    // The socket layer's own words, not the generator's that follow them.
    EXPECT_EQ(outcome.reason.rfind(localPort == 0 ? "startUdpSocketComm, port param not valid"
                                                  : "Error binding to the socket",
                                   0),
              0u)
        << outcome.reason;
  }
  EXPECT_TRUE(receiver.Receive(50).empty());
}

}  // namespace
