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
  CollectSamples samples;
  TeskReceiver receiver("127.0.0.1", port, 2000, 1000, 120, 5000, 7, &samples);
  int received = -1;
  std::thread receiving([&] { received = receiver.startReceiver(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  // 5 s of G711 (codec 0, no FEC) every 20 ms in 188-byte datagrams.
  PrintSent sent;
  TeskSender sender(5000, 0, 0, 20, 188, 1000, port + 1, port, "127.0.0.1", "127.0.0.1", 7, &sent);
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
