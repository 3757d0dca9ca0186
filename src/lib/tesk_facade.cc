#include "recv_start.h"
#include "send_start.h"
#include "stop_request.h"
#include "tesk.h"
#include "tesk_log.h"
#include "test_error.h"

TeskSender::TeskSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
                       unsigned char streamInterval, unsigned short packetSize,
                       unsigned short sampleInterval, unsigned short localPort,
                       unsigned short remotePort, std::string remoteAddress,
                       std::string localAddress, unsigned int testId,
                       TeskSenderCallback* callback)
    : TeskSender(testDuration, codec, fec, streamInterval, packetSize, sampleInterval, localPort,
                 remotePort, std::move(remoteAddress), std::move(localAddress), testId, -1,
                 callback) {}

TeskSender::TeskSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
                       unsigned char streamInterval, unsigned short packetSize,
                       unsigned short sampleInterval, unsigned short localPort,
                       unsigned short remotePort, std::string remoteAddress,
                       std::string localAddress, unsigned int testId, int generatorOption,
                       TeskSenderCallback* callback)
    : testDuration(testDuration),
      testId(testId),
      packetSize(packetSize),
      sampleInterval(sampleInterval),
      localPort(localPort),
      remotePort(remotePort),
      codec(codec),
      fec(fec),
      streamInterval(streamInterval),
      remoteAddress(std::move(remoteAddress)),
      localAddress(std::move(localAddress)),
      callback(callback),
      generatorOption(generatorOption) {}

int TeskSender::startSender() {
  // The trampoline forwards to the callback object unchecked, so a missing
  // one is refused here rather than dereferenced mid-test.
  clearTestError();
  if (!hasCallback()) {
    TESK_LOG_FAILURE(7, "", "Error in sender parameter: invalid callback");
    return PARAMETER_ERROR;
  }
  return runSender(testDuration, codec, fec, streamInterval, packetSize, sampleInterval, localPort,
                   remotePort, remoteAddress, localAddress, testId, generatorOption,
                   senderCallbackWrapper, this);
}

void TeskSender::senderCallbackWrapper(void* context, unsigned int sentPackets,
                                       unsigned int testId) {
  static_cast<TeskSender*>(context)->getCallbackHandler()->doCallback(sentPackets, testId);
}

TeskReceiver::TeskReceiver(std::string localAddress, unsigned short localPort,
                           unsigned short windowSize, unsigned short sampleInterval,
                           unsigned short dejitterLength, unsigned int timeout,
                           unsigned int testId, TeskReceiverCallback* callback)
    : TeskReceiver(std::move(localAddress), localPort, windowSize, sampleInterval, dejitterLength,
                   timeout, testId, callback, 1) {}

TeskReceiver::TeskReceiver(std::string localAddress, unsigned short localPort,
                           unsigned short windowSize, unsigned short sampleInterval,
                           unsigned short dejitterLength, unsigned int timeout,
                           unsigned int testId, TeskReceiverCallback* callback,
                           unsigned short threadCount)
    : localAddress(std::move(localAddress)),
      localPort(localPort),
      windowSize(windowSize),
      sampleInterval(sampleInterval),
      dejitterLength(dejitterLength),
      testId(testId),
      timeout(timeout),
      callback(callback),
      threadCount(threadCount) {}

int TeskReceiver::startReceiver() {
  clearTestError();
  if (!hasCallback()) {
    TESK_LOG_FAILURE(7, "", "Error in receiver parameter: invalid callback");
    return PARAMETER_ERROR;
  }
  return runReceiver(localAddress, localPort, windowSize, sampleInterval, dejitterLength, timeout,
                     testId, receiverCallbackWrapper, this, threadCount);
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

const char* TeskControl::GetMosVersion() { return "1.4.2"; }

void TeskControl::StopRunningTests() { requestTestStop(); }

std::string TeskControl::GetLastErrorMessage() { return testErrorMessage(); }
