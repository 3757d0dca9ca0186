#ifndef PULVO_TEST_UTIL_H
#define PULVO_TEST_UTIL_H

// Shared fakes and helpers: a virtual clock for the engine's time seam, a
// temporary directory, UDP sockets on loopback and a child-process runner.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "packet.h"
#include "environment.h"
#include "sleep_utils.h"
#include "tesk_settings.h"

// The command line's defaults, as the library gets them: a valid send and
// receive configuration on 127.0.0.1 that a test changes where it needs to.
TeskSendSettings DefaultSendConfig();
TeskReceiveSettings DefaultReceiveConfig();
// A 1.5 s window sampled every 0.5 s on `port`, with `timeoutMs`.
TeskReceiveSettings ShortReceiveConfig(uint16_t port, uint32_t timeoutMs);

// A stream's packets as a receiver gets them: arrival (time of day in
// seconds) and payload, in arrival order.
using Arrivals = std::vector<std::pair<double, Payload>>;
constexpr int64_t kTestEpoch = 1700000000;
// `count` packets every `intervalMs` from `startMs` after kTestEpoch, each
// arriving 5 ms after it was sent; the sequence numbers in `drops` never
// arrive.
void AddTestStream(Arrivals& arrivals, int64_t startMs, uint32_t count, uint8_t intervalMs = 20,
                   const std::set<uint32_t>& drops = {});
void AddTestEndOfStream(Arrivals& arrivals, int64_t atMs, uint32_t seq);

// The system's sockets, pool and stop request on a virtual clock that only
// moves when the engine sleeps: a sleep of n µs advances it by n at once.
// The monotonic clock moves with it, except for StepTimeOfDay, which moves
// the time of day alone.
class FakeClock : public SystemEnvironment {
 public:
  explicit FakeClock(int64_t startSec = 1700000000, int64_t startUsec = 0);

  TimeOfDay Now();
  double NowSeconds() { return Now().seconds(); }
  void Advance(int64_t micros);
  void StepTimeOfDay(int64_t micros);
  // Called after every sleep with the new time; runs on the sleeping thread.
  void OnNap(std::function<void(FakeClock&)> hook) { napHook = std::move(hook); }
  int64_t TotalNappedMicros() const { return napped; }

  TimeOfDay timeOfDay() override { return Now(); }
  int64_t monotonicMicros() override;
  void nap(unsigned int micros) override { Sleep(micros); }

 private:
  void Sleep(unsigned int micros);

  std::mutex mutex;
  int64_t nowMicros;
  int64_t stepMicros = 0;  // how far the time of day was stepped
  int64_t napped = 0;
  std::function<void(FakeClock&)> napHook;
};

// The rest needs POSIX (test_util_posix.cc); tests that use it are not built
// for Windows.

// A fresh directory under /tmp, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return dir; }
  std::vector<std::string> Files() const;
  std::string ReadFile(const std::string& name) const;

 private:
  std::string dir;
};

// A UDP socket bound to 127.0.0.1 (or ::1) on a port the system picked.
class UdpPeer {
 public:
  explicit UdpPeer(bool ipv6 = false);
  ~UdpPeer();
  uint16_t port() const { return localPort; }
  int fd() const { return socketFd; }
  // Waits up to `timeoutMs` for one datagram; empty when none came.
  std::vector<uint8_t> Receive(int timeoutMs);
  void SendTo(uint16_t port, const std::vector<uint8_t>& datagram);

 private:
  bool ipv6;
  int socketFd;
  uint16_t localPort;
};

// A port on 127.0.0.1 (or ::1) that was free a moment ago.
uint16_t FreeUdpPort(bool ipv6 = false);

// Waits until some UDP socket on this machine is bound to `port` (a receiver
// is ready), looking every few milliseconds; false after `timeoutSeconds`.
bool WaitForUdpPort(uint16_t port, double timeoutSeconds = 10.0);

// A test packet as the generator builds it, payload only.
std::vector<uint8_t> MakePacket(uint32_t seq, uint32_t sendSec, uint32_t sendUsec,
                                size_t payloadLength = 160, uint8_t codecFec = 0x00,
                                uint8_t intervalCode = 0x20);

struct ProcessResult {
  int exitCode = -1;  // -1 when it was killed for overrunning
  std::string out;
  std::string err;
  double seconds = 0.0;
};

// Runs a program to its end (killing it after `timeoutSeconds`).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         double timeoutSeconds = 60.0);

// A program running in the background with its output collected.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::string& workDir = "");
  ~BackgroundProcess();
  // Waits at most `timeoutSeconds` from now; kills the program after that.
  ProcessResult Wait(double timeoutSeconds = 60.0);
  void Signal(int signal);
  pid_t Pid() const { return pid; }

 private:
  pid_t pid = -1;
  int outFd = -1, errFd = -1;
  double startedAt;
};

// Sanitizer builds run several times slower; time limits that are tight on
// purpose are stretched by this factor.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlowBuildFactor = 3.0;
#else
constexpr double kSlowBuildFactor = 1.0;
#endif
// ThreadSanitizer waits a second at exit (its atexit_sleep_ms) before a
// process ends.
#if defined(__SANITIZE_THREAD__)
constexpr double kExitDelaySeconds = 1.0;
#else
constexpr double kExitDelaySeconds = 0.0;
#endif

// The pulvo program under test.
std::string PulvoBinary();
// pulvo with `args`, run to its end (killed after `timeoutSeconds`) or
// started in the background.
ProcessResult RunPulvo(std::vector<std::string> args, const std::string& workDir = "",
                       double timeoutSeconds = 60.0);
std::unique_ptr<BackgroundProcess> StartPulvo(std::vector<std::string> args,
                                              const std::string& workDir = "");

// Seconds on the steady clock, for measuring how long something took.
double MonotonicSeconds();

// Peak resident memory of a running process in kB (VmHWM); -1 when unknown.
long PeakResidentKb(pid_t pid);
// The impairment relay.
std::string RelayBinary();

// A task routine for the pool tests: adds one to the std::atomic<int> that
// `counter` points to.
unsigned long CountRun(void* counter);

// Splits text into lines (without their newlines).
std::vector<std::string> Lines(const std::string& text);

// ECMAScript regular expressions, instantiated here alone: std::regex adds
// seconds to the build of every file that uses it. Whether `pattern` matches
// the whole of `text`, and how often it occurs in it.
bool MatchesWhole(const std::string& text, const std::string& pattern);
std::ptrdiff_t CountMatches(const std::string& text, const std::string& pattern);
// The library log's file name, and the time stamp that starts its lines.
extern const char kLogFileNamePattern[];
extern const char kLogStampPattern[];

// The samples of the designed JSON array that pulvo -j recv prints. `valid`
// (when given) tells whether `out` was such an array, every object with a
// numeric MOS (apart from the stream totals of pulvo -j analyze, skipped).
struct JsonSample {
  double mos = 0, lossRate = 0, burstSize = 0;
  unsigned lost = 0, estimated = 0, jitter = 0;
  double emodelR = 0, emodelMos = 0;  // with --emodel
};
std::vector<JsonSample> ParseJsonSamples(const std::string& out, bool* valid = nullptr);
// How many samples such an array holds; -1 when `out` is not one.
int JsonSampleCount(const std::string& out);

// Captures for the analysis tests. Addresses are 192.0.2.1 -> 192.0.2.2, or
// 2001:db8::1 -> 2001:db8::2.
std::vector<uint8_t> RtpDatagram(uint8_t payloadType, uint16_t seq, uint32_t timestamp,
                                 uint32_t ssrc, size_t audioBytes = 160);
// A UDP datagram in IPv4 or IPv6 (`family` 4 or 6) behind the link-layer
// header of `linkType` (a LINKTYPE_ number).
std::vector<uint8_t> CaptureFrame(int linkType, int family, uint16_t sourcePort,
                                  uint16_t destinationPort, const std::vector<uint8_t>& payload);
struct CapturedFrame {
  int64_t micros;  // since the epoch
  std::vector<uint8_t> bytes;
};
// A pcap file with microsecond stamps; frames longer than `snapLength` are
// cut to it, as a capture with that snap length would.
std::vector<uint8_t> PcapFile(int linkType, const std::vector<CapturedFrame>& frames,
                              uint32_t snapLength = 65535);
// A pcapng file: a section, one interface, enhanced packet blocks.
std::vector<uint8_t> PcapNgFile(int linkType, const std::vector<CapturedFrame>& frames);

#endif  // PULVO_TEST_UTIL_H
