#include "address_prefix.h"
#include "codec_names.h"
#include "recv_start.h"
#include "send_start.h"
#include "stop_request.h"
#include "tesk.h"
#include "tesk_log.h"
#include "tesk_version.h"
#include "test_error.h"

namespace {

// The one place where a sample reaches the client's callback.
void deliverToReceiver(void* receiver, const TeskSample& s) {
  static_cast<TeskReceiver*>(receiver)->getCallbackHandler()->onSample(s);
}

// A test's code for the caller; its reason stays for GetLastErrorMessage.
int finished(const TestOutcome& outcome) {
  setLastTestError(outcome.reason);
  return outcome.code;
}

int refuseMissingCallback(const char* message) {
  FailureNote failure;
  TESK_LOG_FAILURE(failure, 7, "", message);
  return finished(TestOutcome{PARAMETER_ERROR, failure.text()});
}

}  // namespace

TeskSender::TeskSender(const TeskSendSettings& given, TeskSenderCallback* givenCallback)
    : settings(given), callback(givenCallback) {}

TeskSender::TeskSender(unsigned int givenTestDuration, unsigned char givenCodec,
                       unsigned char givenFec, unsigned char givenStreamInterval,
                       unsigned short givenPacketSize, unsigned short givenSampleInterval,
                       unsigned short givenLocalPort, unsigned short givenRemotePort,
                       std::string givenRemoteAddress, std::string givenLocalAddress,
                       unsigned int givenTestId, TeskSenderCallback* givenCallback)
    : TeskSender(givenTestDuration, givenCodec, givenFec, givenStreamInterval, givenPacketSize,
                 givenSampleInterval, givenLocalPort, givenRemotePort,
                 std::move(givenRemoteAddress), std::move(givenLocalAddress), givenTestId, -1,
                 givenCallback) {}

TeskSender::TeskSender(unsigned int givenTestDuration, unsigned char givenCodec,
                       unsigned char givenFec, unsigned char givenStreamInterval,
                       unsigned short givenPacketSize, unsigned short givenSampleInterval,
                       unsigned short givenLocalPort, unsigned short givenRemotePort,
                       std::string givenRemoteAddress, std::string givenLocalAddress,
                       unsigned int givenTestId, int givenGeneratorOption,
                       TeskSenderCallback* givenCallback)
    : callback(givenCallback), generatorOption(givenGeneratorOption) {
  settings.localAddress = std::move(givenLocalAddress);
  settings.remoteAddress = std::move(givenRemoteAddress);
  settings.localPort = givenLocalPort;
  settings.remotePort = givenRemotePort;
  settings.testDuration = givenTestDuration;
  settings.sampleInterval = givenSampleInterval;
  settings.codec = givenCodec;
  settings.fec = givenFec;
  settings.streamInterval = givenStreamInterval;
  settings.packetSize = givenPacketSize;
  settings.testId = givenTestId;
}

int TeskSender::startSender() {
  // The trampoline forwards to the callback object unchecked, so a missing
  // one is refused here rather than dereferenced mid-test.
  if (!hasCallback()) return refuseMissingCallback("Error in sender parameter: invalid callback");
  // The generator option is kept for callers that read it back; no
  // generator uses it.
  return finished(runSender(settings, SendSink{senderCallbackWrapper, this}));
}

void TeskSender::senderCallbackWrapper(void* context, unsigned int sentPackets,
                                       unsigned int testId) {
  static_cast<TeskSender*>(context)->getCallbackHandler()->doCallback(sentPackets, testId);
}

TeskReceiver::TeskReceiver(const TeskReceiveSettings& given, TeskReceiverCallback* givenCallback)
    : settings(given), callback(givenCallback) {}

TeskReceiver::TeskReceiver(std::string givenLocalAddress, unsigned short givenLocalPort,
                           unsigned short givenWindowSize, unsigned short givenSampleInterval,
                           unsigned short givenDejitterLength, unsigned int givenTimeout,
                           unsigned int givenTestId, TeskReceiverCallback* givenCallback)
    : TeskReceiver(std::move(givenLocalAddress), givenLocalPort, givenWindowSize,
                   givenSampleInterval, givenDejitterLength, givenTimeout, givenTestId,
                   givenCallback, 1) {}

TeskReceiver::TeskReceiver(std::string givenLocalAddress, unsigned short givenLocalPort,
                           unsigned short givenWindowSize, unsigned short givenSampleInterval,
                           unsigned short givenDejitterLength, unsigned int givenTimeout,
                           unsigned int givenTestId, TeskReceiverCallback* givenCallback,
                           unsigned short givenThreadCount)
    : callback(givenCallback) {
  settings.localAddress = std::move(givenLocalAddress);
  settings.localPort = givenLocalPort;
  settings.window.windowSize = givenWindowSize;
  settings.window.sampleInterval = givenSampleInterval;
  settings.window.dejitterLength = givenDejitterLength;
  settings.window.timeout = givenTimeout;
  settings.window.testId = givenTestId;
  settings.threadCount = givenThreadCount;
}

int TeskReceiver::startReceiver() {
  if (!hasCallback()) return refuseMissingCallback("Error in receiver parameter: invalid callback");
  return finished(runReceiver(settings, SampleSink{deliverToReceiver, this}));
}

void TeskReceiver::receiverCallbackWrapper(void* context, double mos, unsigned int startSeconds,
                                           unsigned int startMicroseconds,
                                           unsigned int elapsedSeconds,
                                           unsigned int elapsedMicroseconds,
                                           unsigned int lostPackets, unsigned int estimatedPackets,
                                           double lossRate, double averageBurstSize,
                                           unsigned int avgJitter, unsigned int testId) {
  static_cast<TeskReceiver*>(context)->getCallbackHandler()->doCallback(
      mos, startSeconds, startMicroseconds, elapsedSeconds, elapsedMicroseconds, lostPackets,
      estimatedPackets, lossRate, averageBurstSize, avgJitter, testId);
}

void TeskControl::SetEnableLog(bool on) {
  enableLog = on;
  if (on) {
    mosLog.Enable();
  } else {
    mosLog.Disable();
  }
}

const char* TeskControl::GetMosVersion() { return TESK_VERSION; }

void TeskControl::StopRunningTests() { requestTestStop(); }

std::string TeskControl::GetLastErrorMessage() { return lastTestError(); }

bool TeskControl::ResolveHostName(const std::string& name, int ipVersion, std::string* address,
                                  std::string* error) {
  const int family = ipVersion == 4 ? AF_INET : ipVersion == 6 ? AF_INET6 : AF_UNSPEC;
  return resolveHostName(name, family, address, error);
}

bool TeskControl::NamesAHost(const std::string& text) { return namesAHost(text); }

bool TeskControl::IsAddressPrefix(const std::string& text) {
  AddressPrefix prefix;
  return parseAddressPrefix(text, &prefix);
}

const char* teskCodecName(unsigned codec) { return codecName(codec); }
int teskCodecNumber(const std::string& name) { return codecNumber(name); }
