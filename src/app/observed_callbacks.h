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
  // The sample's time is the start of its tick.
  void onSample(const TeskSample& sample) override {
    inner->onSample(sample);
    live->ReceiverSample(sample.tickTime(), sample);
  }
  bool finalizeResults() override { return inner->finalizeResults(); }
  void readResults(std::string& out) override { inner->readResults(out); }

 private:
  PulvoReceiverCallback* inner;
  LiveOutputs* live;
};

#endif  // PULVO_OBSERVED_CALLBACKS_H
