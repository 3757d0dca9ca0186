// Measures a voice stream over 127.0.0.1 through pulvo's MOS library: a
// receive test on a thread of its own, a send test on this one, and a
// callback of each kind that prints what it is given.
//
// Usage: loopback_mos [port]   (default 50400; the sender uses port + 1)
// Exit status 0 when the receiver delivered samples of a clean stream.
#include <tesk.h>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class PrintSent : public TeskSenderCallback {
 public:
  void doCallback(unsigned int sentPackets, unsigned int testId) override {
    std::printf("test %u: %u packets sent\n", testId, sentPackets);
  }
};

// Called on the library's calculation thread.
class CollectSamples : public TeskReceiverCallback {
 public:
  void doCallback(double mos, unsigned int, unsigned int, unsigned int elapsedSeconds,
                  unsigned int, unsigned int lostPackets, unsigned int estimatedPackets,
                  double lossRate, double, unsigned int avgJitter, unsigned int testId) override {
    std::lock_guard<std::mutex> lock(mutex);
    std::printf("test %u at %u s: MOS %.4f, lost %u of %u (%.2f %%), jitter %u ms\n", testId,
                elapsedSeconds, mos, lostPackets, estimatedPackets, lossRate * 100, avgJitter);
    lost += lostPackets;
    samples++;
  }
  std::mutex mutex;
  unsigned int samples = 0, lost = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const unsigned short port = static_cast<unsigned short>(argc > 1 ? std::atoi(argv[1]) : 50400);
  std::printf("MOS library %s\n", TeskControl::GetMosVersion());

  // Window 2 s, a sample every second, 120 ms de-jitter buffer, 5 s time-out.
  TeskReceiveSettings receive;
  receive.localAddress = "127.0.0.1";
  receive.localPort = port;
  receive.window.windowSize = 2000;
  receive.window.sampleInterval = 1000;
  receive.window.dejitterLength = 120;
  receive.window.timeout = 5000;
  receive.window.testId = 7;
  CollectSamples samples;
  TeskReceiver receiver(receive, &samples);
  int received = -1;
  std::thread receiving([&] { received = receiver.startReceiver(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  // 5 s of G711 (codec 0, no FEC) every 20 ms in 188-byte datagrams, a
  // sample every second. The positional constructors take the same values.
  TeskSendSettings send;
  send.localAddress = send.remoteAddress = "127.0.0.1";
  send.localPort = static_cast<unsigned short>(port + 1);
  send.remotePort = port;
  send.testDuration = 5000;
  send.sampleInterval = 1000;
  send.codec = 0;
  send.fec = 0;
  send.streamInterval = 20;
  send.packetSize = 188;
  send.testId = 7;
  for (const std::string& error : send.validate()) std::fprintf(stderr, "%s\n", error.c_str());
  PrintSent sent;
  TeskSender sender(send, &sent);
  const int sendResult = sender.startSender();
  receiving.join();

  if (sendResult != 0 || received != 0) {
    std::fprintf(stderr, "send %s, receive %s: %s\n", teskErrorName(sendResult),
                 teskErrorName(received), TeskControl::GetLastErrorMessage().c_str());
    return 1;
  }
  std::printf("%u samples, %u packets lost\n", samples.samples, samples.lost);
  return samples.samples > 0 && samples.lost == 0 ? 0 : 1;
}
