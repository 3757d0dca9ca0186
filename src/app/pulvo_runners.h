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
  PulvoSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
              unsigned char streamInterval, unsigned short packetSize,
              unsigned short sampleInterval, unsigned short localPort, unsigned short remotePort,
              std::string remoteAddress, std::string localAddress, unsigned int testId,
              bool resultsAsText);

  // Samples also go to `outputs` (not owned) from the next run on.
  void SetLiveOutputs(LiveOutputs* outputs) { live = outputs; }
  // Blocks until the test has ended; 0 or a negative library code.
  int RunSender();
  bool FinalizeResults() { return callback->finalizeResults(); }
  void PrintResults(std::string& out) { callback->readResults(out); }

 private:
  unsigned int testDuration;
  unsigned char codec, fec, streamInterval;
  unsigned short packetSize, sampleInterval, localPort, remotePort;
  std::string remoteAddress, localAddress;
  unsigned int testId;
  bool resultsAsText;
  TeskSender* sender = nullptr;
  PulvoSenderCallback* callback = nullptr;
  LiveOutputs* live = nullptr;
};

class PulvoReceiver {
 public:
  PulvoReceiver(std::string localAddress, unsigned short localPort, unsigned short windowSize,
                unsigned short sampleInterval, unsigned short dejitterLength,
                unsigned int timeout, unsigned int testId, bool resultsAsText);

  void SetLiveOutputs(LiveOutputs* outputs) { live = outputs; }
  // The results carry the E-model's rating too (--emodel).
  void ShowEModel(bool on) { emodel = on; }
  // The one-way network delay that the conversational rating assumes (ms).
  void SetOneWayDelay(double milliseconds) { oneWayDelayMs = milliseconds; }
  // Blocks until the test has ended; the samples arrive meanwhile on a
  // library thread. 0 or a negative library code.
  int RunReceiver();
  bool FinalizeResults() { return callback->finalizeResults(); }
  void PrintResults(std::string& out) { callback->readResults(out); }

 private:
  std::string localAddress;
  unsigned short localPort, windowSize, sampleInterval, dejitterLength;
  unsigned int timeout, testId;
  bool resultsAsText;
  bool emodel = false;
  double oneWayDelayMs = 0.0;
  TeskReceiver* receiver = nullptr;
  PulvoReceiverCallback* callback = nullptr;
  LiveOutputs* live = nullptr;
};

#endif  // PULVO_RUNNERS_H
