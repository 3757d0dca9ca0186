#include <gtest/gtest.h>

#include <cstring>

#include "tesk.h"
#include "tesk_version.h"

namespace {

struct RecordingSender : TeskSenderCallback {
  void doCallback(unsigned int sent, unsigned int id) override {
    sentPackets = sent;
    testId = id;
    calls++;
  }
  unsigned int sentPackets = 0, testId = 0, calls = 0;
};

struct RecordingReceiver : TeskReceiverCallback {
  void doCallback(double m, unsigned int, unsigned int, unsigned int, unsigned int,
                  unsigned int lost, unsigned int estimated, double loss, double burst,
                  unsigned int jitter, unsigned int id) override {
    mos = m;
    lostPackets = lost;
    estimatedPackets = estimated;
    lossRate = loss;
    burstSize = burst;
    avgJitter = jitter;
    testId = id;
  }
  double mos = 0, lossRate = 0, burstSize = 0;
  unsigned int lostPackets = 0, estimatedPackets = 0, avgJitter = 0, testId = 0;
};

TEST(FacadeTest, ConstructorDefaults) {
  RecordingSender s;
  TeskSender sender(12000, 0, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", 1, &s);
  EXPECT_EQ(sender.getGeneratorOption(), -1);
  EXPECT_EQ(sender.getCallbackHandler(), &s);
  TeskSender withOption(12000, 0, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", 1, 7,
                        &s);
  EXPECT_EQ(withOption.getGeneratorOption(), 7);
  RecordingReceiver r;
  TeskReceiver receiver("127.0.0.1", 50000, 4000, 1000, 120, 30000, 1, &r);
  EXPECT_EQ(receiver.getThreadCount(), 1);
  TeskReceiver withThreads("127.0.0.1", 50000, 4000, 1000, 120, 30000, 1, &r, 4);
  EXPECT_EQ(withThreads.getThreadCount(), 4);
}

TEST(FacadeTest, TrampolinesForwardEveryArgumentInOrder) {
  RecordingSender s;
  TeskSender sender(12000, 0, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", 9, &s);
  TeskSender::senderCallbackWrapper(&sender, 250, 9);
  EXPECT_EQ(s.sentPackets, 250u);
  EXPECT_EQ(s.testId, 9u);

  RecordingReceiver r;
  TeskReceiver receiver("127.0.0.1", 50000, 4000, 1000, 120, 30000, 3, &r);
  TeskReceiver::receiverCallbackWrapper(&receiver, 3.5, 1, 2, 3, 4, 5, 200, 0.025, 2.5, 17, 3);
  EXPECT_EQ(r.mos, 3.5);
  EXPECT_EQ(r.lostPackets, 5u);
  EXPECT_EQ(r.estimatedPackets, 200u);
  EXPECT_EQ(r.lossRate, 0.025);
  EXPECT_EQ(r.burstSize, 2.5);
  EXPECT_EQ(r.avgJitter, 17u);
  EXPECT_EQ(r.testId, 3u);
}

TEST(FacadeTest, NullCallbackObjectIsRefused) {
  TeskSender sender(12000, 0, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", 1,
                    nullptr);
  EXPECT_EQ(sender.startSender(), PARAMETER_ERROR);
  TeskReceiver receiver("127.0.0.1", 50000, 4000, 1000, 120, 30000, 1, nullptr);
  EXPECT_EQ(receiver.startReceiver(), PARAMETER_ERROR);
}

TEST(FacadeTest, InvalidValuesComeBackAsParameterError) {
  RecordingSender s;
  TeskSender sender(12000, 2, 0, 20, 188, 5000, 49999, 50000, "127.0.0.1", "127.0.0.1", 1, &s);
  EXPECT_EQ(sender.startSender(), PARAMETER_ERROR);
  EXPECT_EQ(s.calls, 0u);
}

TEST(FacadeTest, ControlReportsVersionAndLastSetting) {
  EXPECT_STREQ(TeskControl::GetMosVersion(), TESK_VERSION);
  TeskControl control;
  EXPECT_FALSE(control.GetEnableLog());
  control.SetEnableLog(false);
  EXPECT_FALSE(control.GetEnableLog());
}

}  // namespace
