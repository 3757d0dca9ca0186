#include "pulvo_runners.h"

#include "observed_callbacks.h"
#include "result_callbacks.h"

int PulvoSender::RunSender() {
  if (resultsAsText) {
    callback = new TextSenderCallback();
  } else {
    callback = new JSONSenderCallback();
  }
  if (live != nullptr) callback = new ObservedSenderCallback(callback, live);
  sender = new TeskSender(settings, callback);
  return sender->startSender();
}

int PulvoReceiver::RunReceiver() {
  if (resultsAsText) {
    callback = new TextReceiverCallback(emodel);
  } else {
    callback = new JSONReceiverCallback(emodel);
  }
  if (live != nullptr) callback = new ObservedReceiverCallback(callback, live);
  receiver = new TeskReceiver(settings, callback);
  return receiver->startReceiver();
}
