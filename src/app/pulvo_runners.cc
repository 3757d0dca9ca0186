#include "pulvo_runners.h"

#include "observed_callbacks.h"
#include "result_callbacks.h"

PulvoSender::PulvoSender(unsigned int givenTestDuration, unsigned char givenCodec,
                         unsigned char givenFec, unsigned char givenStreamInterval,
                         unsigned short givenPacketSize, unsigned short givenSampleInterval,
                         unsigned short givenLocalPort, unsigned short givenRemotePort,
                         std::string givenRemoteAddress, std::string givenLocalAddress,
                         unsigned int givenTestId, bool givenResultsAsText)
    : testDuration(givenTestDuration),
      codec(givenCodec),
      fec(givenFec),
      streamInterval(givenStreamInterval),
      packetSize(givenPacketSize),
      sampleInterval(givenSampleInterval),
      localPort(givenLocalPort),
      remotePort(givenRemotePort),
      remoteAddress(std::move(givenRemoteAddress)),
      localAddress(std::move(givenLocalAddress)),
      testId(givenTestId),
      resultsAsText(givenResultsAsText) {}

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

PulvoReceiver::PulvoReceiver(std::string givenLocalAddress, unsigned short givenLocalPort,
                             unsigned short givenWindowSize, unsigned short givenSampleInterval,
                             unsigned short givenDejitterLength, unsigned int givenTimeout,
                             unsigned int givenTestId, bool givenResultsAsText)
    : localAddress(std::move(givenLocalAddress)),
      localPort(givenLocalPort),
      windowSize(givenWindowSize),
      sampleInterval(givenSampleInterval),
      dejitterLength(givenDejitterLength),
      timeout(givenTimeout),
      testId(givenTestId),
      resultsAsText(givenResultsAsText) {}

int PulvoReceiver::RunReceiver() {
  if (resultsAsText) {
    callback = new TextReceiverCallback(emodel);
  } else {
    callback = new JSONReceiverCallback(emodel);
  }
  if (live != nullptr) callback = new ObservedReceiverCallback(callback, live);
  receiver = new TeskReceiver(localAddress, localPort, windowSize, sampleInterval, dejitterLength,
                              timeout, testId, callback);
  receiver->setOneWayDelay(oneWayDelayMs);
  return receiver->startReceiver();
}
