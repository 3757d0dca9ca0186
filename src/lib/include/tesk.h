#ifndef TESK_H
#define TESK_H

// The public interface of the MOS library: two test facades, their callback
// interfaces and a control object. Nothing else is meant for callers.

#include <string>

#include "tesk_errors.h"
#include "tesk_export.h"
#include "tesk_sample.h"
#include "tesk_settings.h"

// Receives one sample per sampling interval of a send test, on the thread
// that called TeskSender::startSender.
class TESK_EXPORT TeskSenderCallback {
 public:
  virtual ~TeskSenderCallback() = default;
  virtual void doCallback(unsigned int sentPackets, unsigned int testId) = 0;
};

// Receives one sample per sampling interval of a receive test, on the thread
// that called TeskReceiver::startReceiver, between two reads of the socket;
// the last call happens before startReceiver returns.
class TESK_EXPORT TeskReceiverCallback {
 public:
  virtual ~TeskReceiverCallback() = default;
  virtual void doCallback(double mos, unsigned int startSeconds, unsigned int startMicroseconds,
                          unsigned int elapsedSeconds, unsigned int elapsedMicroseconds,
                          unsigned int lostPackets, unsigned int estimatedPackets, double lossRate,
                          double averageBurstSize, unsigned int avgJitter, unsigned int testId) = 0;
  // The whole sample, with the figures that doCallback has no argument for
  // (the E-model's rating). By default it hands doCallback its arguments, so
  // a client that knows only doCallback sees every sample as before.
  virtual void onSample(const TeskSample& s) {
    doCallback(s.mos, s.startSeconds, s.startMicroseconds, s.elapsedSeconds,
               s.elapsedMicroseconds, s.lostPackets, s.estimatedPackets, s.lossRate,
               s.averageBurstSize, s.avgJitter, s.testId);
  }
};

// One send test. Durations are in milliseconds, the packet size in bytes of
// the whole IP datagram (28 header bytes included). The callback is not
// owned and must outlive startSender. The positional constructors fill the
// same settings as the first.
class TESK_EXPORT TeskSender {
 public:
  TeskSender(const TeskSendSettings& settings, TeskSenderCallback* callback);
  TeskSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
             unsigned char streamInterval, unsigned short packetSize, unsigned short sampleInterval,
             unsigned short localPort, unsigned short remotePort, std::string remoteAddress,
             std::string localAddress, unsigned int testId, TeskSenderCallback* callback);
  TeskSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
             unsigned char streamInterval, unsigned short packetSize, unsigned short sampleInterval,
             unsigned short localPort, unsigned short remotePort, std::string remoteAddress,
             std::string localAddress, unsigned int testId, int generatorOption,
             TeskSenderCallback* callback);
  virtual ~TeskSender() = default;

  // Runs the whole test on the calling thread; returns 0 or a TeskError.
  virtual int startSender();

  TeskSenderCallback* getCallbackHandler() { return callback; }
  int getGeneratorOption() const { return generatorOption; }
  const TeskSendSettings& getSettings() const { return settings; }

  static void senderCallbackWrapper(void* context, unsigned int sentPackets, unsigned int testId);

 private:
  int hasCallback() { return callback != nullptr ? 1 : 0; }

  TeskSendSettings settings;
  TeskSenderCallback* callback;
  int generatorOption = -1;
};

// One receive test. Window, sampling interval, time-out and dejitter length
// are in milliseconds. The test runs on the calling thread; threadCount is
// kept for callers that give it and only named in the library log.
class TESK_EXPORT TeskReceiver {
 public:
  TeskReceiver(const TeskReceiveSettings& settings, TeskReceiverCallback* callback);
  TeskReceiver(std::string localAddress, unsigned short localPort, unsigned short windowSize,
               unsigned short sampleInterval, unsigned short dejitterLength, unsigned int timeout,
               unsigned int testId, TeskReceiverCallback* callback);
  TeskReceiver(std::string localAddress, unsigned short localPort, unsigned short windowSize,
               unsigned short sampleInterval, unsigned short dejitterLength, unsigned int timeout,
               unsigned int testId, TeskReceiverCallback* callback, unsigned short threadCount);
  virtual ~TeskReceiver() = default;

  // Runs the whole test; blocks until the calculation has ended. Returns 0 or
  // a TeskError.
  virtual int startReceiver();

  TeskReceiverCallback* getCallbackHandler() { return callback; }
  unsigned short getThreadCount() const { return settings.threadCount; }
  const TeskReceiveSettings& getSettings() const { return settings; }
  // The one-way network delay (ms) that the E-model's conversational rating
  // assumes: a one-way stream cannot measure it. 0 unless set.
  void setOneWayDelay(double milliseconds) { settings.oneWayDelayMs = milliseconds; }

  static void receiverCallbackWrapper(void* context, double mos, unsigned int startSeconds,
                                      unsigned int startMicroseconds, unsigned int elapsedSeconds,
                                      unsigned int elapsedMicroseconds, unsigned int lostPackets,
                                      unsigned int estimatedPackets, double lossRate,
                                      double averageBurstSize, unsigned int avgJitter,
                                      unsigned int testId);

 private:
  int hasCallback() { return callback != nullptr ? 1 : 0; }

  TeskReceiveSettings settings;
  TeskReceiverCallback* callback;
};

// Switches the process-wide library log and reports the library version.
// The codec of a test stream by its number (0 G711, 1 GSM0610), and the
// number of a name exactly as written (-1 for neither).
TESK_EXPORT const char* teskCodecName(unsigned codec);
TESK_EXPORT int teskCodecNumber(const std::string& name);

class TESK_EXPORT TeskControl {
 public:
  TeskControl() = default;
  void SetEnableLog(bool on);
  // The value last set; it does not tell whether the log file could be opened.
  bool GetEnableLog() const { return enableLog; }
  static const char* GetMosVersion();
  // Ends the tests of this process early: a running send test sends its
  // end-of-stream packets and returns, a running receive test stops its
  // calculation and returns; tests started later end at once. Safe to call
  // from a signal handler.
  static void StopRunningTests();
  // Why the latest test of this process failed, in the words its log line
  // has (without the log's decoration); empty after a success. Noted whether
  // or not the log is on.
  static std::string GetLastErrorMessage();
  // Whether an address parameter's text names a host rather than giving an
  // address: it has a letter and no ':' ("localhost", "reflector.example").
  static bool NamesAHost(const std::string& text);
  // Whether the text is an address prefix ("192.0.2.0/24", "2001:db8::/32",
  // or an address alone).
  static bool IsAddressPrefix(const std::string& text);
  // The address a host name resolves to, as text: the first the system
  // gives of `ipVersion` (4, 6, or 0 for the system's own order). False,
  // with the resolver's reason in `error`, when it resolves to none.
  static bool ResolveHostName(const std::string& name, int ipVersion, std::string* address,
                              std::string* error);

 private:
  bool enableLog = false;
};

#endif  // TESK_H
