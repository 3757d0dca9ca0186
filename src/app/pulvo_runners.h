#ifndef PULVO_RUNNERS_H
#define PULVO_RUNNERS_H

// The test runners: each creates the result callback for the output mode and
// the library facade, runs one test and hands out the collected results.
// Everything a runner creates lives until the process exits.

#include <string>

#include "tesk.h"
#include "tesk_sample.h"

class LiveOutputs;

// A sender callback that can close and hand out what it collected.
class PulvoSenderCallback : public TeskSenderCallback {
 public:
  ~PulvoSenderCallback() override = default;
  void doCallback(unsigned int, unsigned int) override {}
  // True when the results are complete and can be read.
  virtual bool finalizeResults() { return true; }
  virtual void readResults(std::string&) {}
};

// Takes each sample whole; the designed arguments, when a caller hands them
// over one by one, are packed into one sample first.
class PulvoReceiverCallback : public TeskReceiverCallback {
 public:
  ~PulvoReceiverCallback() override = default;
  void doCallback(double mos, unsigned int startSeconds, unsigned int startMicroseconds,
                  unsigned int elapsedSeconds, unsigned int elapsedMicroseconds,
                  unsigned int lostPackets, unsigned int estimatedPackets, double lossRate,
                  double averageBurstSize, unsigned int avgJitter, unsigned int testId) final {
    onSample(TeskSample{mos, startSeconds, startMicroseconds, elapsedSeconds, elapsedMicroseconds,
                        lostPackets, estimatedPackets, lossRate, averageBurstSize, avgJitter,
                        testId});
  }
  void onSample(const TeskSample&) override {}
  virtual bool finalizeResults() { return true; }
  virtual void readResults(std::string&) {}
};

class PulvoSender {
 public:
  PulvoSender(const TeskSendSettings& given, bool asText) : settings(given), resultsAsText(asText) {}

  // Samples also go to `outputs` (not owned) from the next run on.
  void SetLiveOutputs(LiveOutputs* outputs) { live = outputs; }
  // Blocks until the test has ended; 0 or a negative library code.
  int RunSender();
  bool FinalizeResults() { return callback->finalizeResults(); }
  void PrintResults(std::string& out) { callback->readResults(out); }

 private:
  const TeskSendSettings settings;
  const bool resultsAsText;
  TeskSender* sender = nullptr;
  PulvoSenderCallback* callback = nullptr;
  LiveOutputs* live = nullptr;
};

class PulvoReceiver {
 public:
  PulvoReceiver(const TeskReceiveSettings& given, bool asText)
      : settings(given), resultsAsText(asText) {}

  void SetLiveOutputs(LiveOutputs* outputs) { live = outputs; }
  // The results carry the E-model's rating too (--emodel).
  void ShowEModel(bool on) { emodel = on; }
  // Blocks until the test has ended; the samples arrive meanwhile, on this
  // thread. 0 or a negative library code.
  int RunReceiver();
  bool FinalizeResults() { return callback->finalizeResults(); }
  void PrintResults(std::string& out) { callback->readResults(out); }

 private:
  const TeskReceiveSettings settings;
  const bool resultsAsText;
  bool emodel = false;
  TeskReceiver* receiver = nullptr;
  PulvoReceiverCallback* callback = nullptr;
  LiveOutputs* live = nullptr;
};

#endif  // PULVO_RUNNERS_H
