#include "pulvo_runners.h"

#include "observed_callbacks.h"
#include "result_callbacks.h"

PulvoSender::PulvoSender(unsigned int testDuration, unsigned char codec, unsigned char fec,
                         unsigned char streamInterval, unsigned short packetSize,
                         unsigned short sampleInterval, unsigned short localPort,
                         unsigned short remotePort, std::string remoteAddress,
                         std::string localAddress, unsigned int testId, bool resultsAsText)
    : testDuration(testDuration),
      codec(codec),
      fec(fec),
      streamInterval(streamInterval),
      packetSize(packetSize),
      sampleInterval(sampleInterval),
      localPort(localPort),
      remotePort(remotePort),
      remoteAddress(std::move(remoteAddress)),
      localAddress(std::move(localAddress)),
      testId(testId),
      resultsAsText(resultsAsText) {}

int PulvoSender::RunSender() {
  if (resultsAsText) {
    callback = new TextSenderCallback();
  } else {
    callback = new JSONSenderCallback();
  }
  if (live != nullptr) callback = new ObservedSenderCallback(callback, live);
  sender = new TeskSender(testDuration, codec, fec, streamInterval, packetSize, sampleInterval,
                          localPort, remotePort, remoteAddress, localAddress, testId, callback);
  return sender->startSender();
}

PulvoReceiver::PulvoReceiver(std::string localAddress, unsigned short localPort,
                             unsigned short windowSize, unsigned short sampleInterval,
                             unsigned short dejitterLength, unsigned int timeout,
                             unsigned int testId, bool resultsAsText)
    : localAddress(std::move(localAddress)),
      localPort(localPort),
      windowSize(windowSize),
      sampleInterval(sampleInterval),
      dejitterLength(dejitterLength),
      timeout(timeout),
      testId(testId),
      resultsAsText(resultsAsText) {}

int PulvoReceiver::RunReceiver() {
  if (resultsAsText) {
    callback = new TextReceiverCallback();
  } else {
    callback = new JSONReceiverCallback();
  }
  if (live != nullptr) callback = new ObservedReceiverCallback(callback, live);
  receiver = new TeskReceiver(localAddress, localPort, windowSize, sampleInterval, dejitterLength,
                              timeout, testId, callback);
  return receiver->startReceiver();
}
