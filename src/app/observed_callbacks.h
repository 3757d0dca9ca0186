#ifndef PULVO_OBSERVED_CALLBACKS_H
#define PULVO_OBSERVED_CALLBACKS_H

// Result callbacks that hand every sample to the designed callback (text or
// JSON, unchanged) and then to the live outputs.

#include "live_outputs.h"
#include "pulvo_runners.h"

class ObservedSenderCallback : public PulvoSenderCallback {
 public:
  ObservedSenderCallback(PulvoSenderCallback* designed, LiveOutputs* outputs)
      : inner(designed), live(outputs) {}
  void doCallback(unsigned int sentPackets, unsigned int testId) override {
    inner->doCallback(sentPackets, testId);
    live->SenderSample(WallClockSeconds(), sentPackets);
  }
  bool finalizeResults() override { return inner->finalizeResults(); }
  void readResults(std::string& out) override { inner->readResults(out); }

 private:
  PulvoSenderCallback* inner;
  LiveOutputs* live;
};

class ObservedReceiverCallback : public PulvoReceiverCallback {
 public:
  ObservedReceiverCallback(PulvoReceiverCallback* designed, LiveOutputs* outputs)
      : inner(designed), live(outputs) {}
  // The sample's time is the start of its tick: the measurement start plus
  // the elapsed time the library hands over.
  void doCallback(double mos, unsigned int startSeconds, unsigned int startMicroseconds,
                  unsigned int elapsedSeconds, unsigned int elapsedMicroseconds,
                  unsigned int lostPackets, unsigned int estimatedPackets, double lossRate,
                  double averageBurstSize, unsigned int avgJitter, unsigned int testId) override {
    inner->doCallback(mos, startSeconds, startMicroseconds, elapsedSeconds, elapsedMicroseconds,
                      lostPackets, estimatedPackets, lossRate, averageBurstSize, avgJitter, testId);
    ReceiverSampleValues sample;
    sample.mos = mos;
    sample.lostPackets = lostPackets;
    sample.estimatedPackets = estimatedPackets;
    sample.lossRate = lossRate;
    sample.averageBurstSize = averageBurstSize;
    sample.avgJitter = avgJitter;
    sample.testId = testId;
    const double time = startSeconds + startMicroseconds / 1e6 + elapsedSeconds +
                        elapsedMicroseconds / 1e6;
    live->ReceiverSample(time, sample);
  }
  bool finalizeResults() override { return inner->finalizeResults(); }
  void readResults(std::string& out) override { inner->readResults(out); }

 private:
  PulvoReceiverCallback* inner;
  LiveOutputs* live;
};

#endif  // PULVO_OBSERVED_CALLBACKS_H
