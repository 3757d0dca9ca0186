#include "result_callbacks.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(TextResultsTest, LinesHaveTheirFixedShape) {
  EXPECT_EQ(FormatSenderSampleLine(250, 1), "test id = 1 sent_packets = 250 ");
  EXPECT_EQ(FormatReceiverSampleLine(TeskSample{4.4, 0, 0, 0, 0, 0, 250, 0.0, 1.0, 3, 7}),
            "test id = 7   mos = 4.4  lost packets = 0  estimated packets = 250  loss rate = 0  "
            "average burst size = 1  avg jitter = 3  ");
  EXPECT_EQ(FormatReceiverSampleLine(TeskSample{4.050403123, 0, 0, 0, 0, 2, 100, 0.5, 1234567.0, 0, 1}),
            "test id = 1   mos = 4.0504  lost packets = 2  estimated packets = 100  loss rate = 0.5  "
            "average burst size = 1.23457e+06  avg jitter = 0  ");
}

TEST(TextResultsTest, PrintAnEmptyResultText) {
  TextSenderCallback sender;
  TextReceiverCallback receiver;
  std::string out = "x";
  EXPECT_TRUE(sender.finalizeResults());
  sender.readResults(out);
  EXPECT_EQ(out, "x");
  EXPECT_TRUE(receiver.finalizeResults());
  receiver.readResults(out);
  EXPECT_EQ(out, "x");
}

TEST(JsonResultsTest, SenderSamplesFormOneCompactArray) {
  JSONSenderCallback callback;
  callback.doCallback(250, 1);
  callback.doCallback(500, 1);
  ASSERT_TRUE(callback.finalizeResults());
  std::string out;
  callback.readResults(out);
  EXPECT_EQ(out, R"([{"TestId":1,"SentPackets":250},{"TestId":1,"SentPackets":500}])");
}

TEST(JsonResultsTest, NoSampleIsAnEmptyArray) {
  JSONReceiverCallback callback;
  ASSERT_TRUE(callback.finalizeResults());
  std::string out;
  callback.readResults(out);
  EXPECT_EQ(out, "[]");
}

TEST(JsonResultsTest, ReceiverSampleMembersInOrder) {
  JSONReceiverCallback callback;
  // The library's arguments, and the same sample as one record: a repeat,
  // kept.
  callback.doCallback(4.4, 1, 2, 3, 4, 0, 250, 0.0, 1.0, 3, 7);
  callback.onSample(TeskSample{4.4, 1, 2, 3, 4, 0, 250, 0.0, 1.0, 3, 7});
  ASSERT_TRUE(callback.finalizeResults());
  std::string out;
  callback.readResults(out);
  const std::string one =
      R"({"TestId":7,"MOS":4.4,"LostPackets":0,"EstimatedPackets":250,"LossRate":0.0,)"
      R"("AverageBurstSize":1.0,"AvgJitter":3})";
  EXPECT_EQ(out, "[" + one + "," + one + "]");

  // --emodel: the E-model's members after the designed ones.
  JSONReceiverCallback rated(true);
  TeskSample sample{4.4, 1, 2, 3, 4, 0, 250, 0.0, 1.0, 3, 7};
  sample.emodelR = 93.2;
  sample.emodelMos = 4.5;
  sample.conversationalR = 80.5;
  sample.conversationalMos = 4.1;
  sample.mouthToEarMs = 190;
  sample.networkDelayMs = 50;
  sample.delaySource = TeskDelaySource::HalfRoundTrip;
  rated.onSample(sample);
  // A stream that only the E-model rates has no MOS of the trained model.
  sample.modelScored = false;
  sample.wideband = true;
  rated.onSample(sample);
  rated.finalizeResults();
  rated.readResults(out);
  const std::string conversational =
      R"("ConversationalR":80.5,"ConversationalMOS":4.1,"MouthToEarDelay":190.0,)"
      R"("NetworkDelay":50.0,"DelaySource":"half-round-trip",)";
  const std::string modelScored = one.substr(0, one.size() - 1) +
                                  R"(,"EModelR":93.2,"EModelMOS":4.5,)" + conversational +
                                  R"("Wideband":false})";
  std::string emodelOnly = modelScored;
  emodelOnly.replace(emodelOnly.find("4.4"), 3, "null");
  emodelOnly.replace(emodelOnly.find("false"), 5, "true");
  EXPECT_EQ(out, "[" + modelScored + "," + emodelOnly + "]");
}

TEST(JsonResultsTest, NumbersThatAreNotFiniteBecomeNull) {
  JSONReceiverCallback callback;
  TeskSample sample;
  sample.mos = std::numeric_limits<double>::quiet_NaN();
  sample.lostPackets = 1;
  sample.estimatedPackets = 100;
  sample.lossRate = std::numeric_limits<double>::infinity();
  sample.averageBurstSize = 0.25;
  sample.testId = 1;
  callback.onSample(sample);
  ASSERT_TRUE(callback.finalizeResults());
  std::string out;
  callback.readResults(out);
  EXPECT_EQ(out, R"([{"TestId":1,"MOS":null,"LostPackets":1,"EstimatedPackets":100,)"
                 R"("LossRate":null,"AverageBurstSize":0.25,"AvgJitter":0}])");
}

}  // namespace
