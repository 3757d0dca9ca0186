#ifndef TESK_METER_H
#define TESK_METER_H

// One stream's measurement: its packets, the sliding window over them and
// the score of each window. Single-threaded and clock-free: the caller
// hands in every packet with its arrival time and ticks the meter once per
// sampling interval with the tick's time. The receive test runs one meter
// on a thread of its own against the system clock; the capture analysis
// runs one per stream on capture time.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "packet.h"
#include "qos_window.h"
#include "tesk_sample.h"
#include "tesk_settings.h"
#include "time_of_day.h"

// How a stream is measured: the window that callers give, and what each kind
// of test knows besides. Shared by the receive test, the call and the capture
// analysis, and checked by the same rules (validate).
struct WindowSettings : TeskWindowSettings {
  WindowSettings() = default;
  explicit WindowSettings(const TeskWindowSettings& given) : TeskWindowSettings(given) {}

  // A sender that suppresses silence (RTP voice): a window expects the
  // packets its sequence numbers say were sent, not the window's length
  // over the interval, and only a time-out without any packet ends it.
  bool mayFallSilent = false;
  // A call's ways: a window expects what its numbers say was sent (the
  // received and the lost), and says so as its estimated packets.
  bool estimateFromNumbers = false;
  // The E-model's view of the stream: its codec where the packets cannot say
  // (a VoiceCodec; -1: the packets' own), and the one-way network delay that
  // the conversational rating assumes (ms).
  int voiceCodec = -1;
  double networkDelayMs = 0.0;
};

class Meter {
 public:
  enum class Tick {
    WarmUp,       // no sample before a whole window has passed
    Sample,       // a sample was taken
    Dropped,      // the window received nothing: no sample this tick
    EndOfStream,  // the end-of-stream packet was met: the measurement is over
    GaveUp,       // no packet for longer than the time-out: over (the caller says so)
  };

  // `logPrefix` goes before every line written to `log` ("QoSCalc(own,
  // server): "); a null log takes none.
  Meter(const WindowSettings& settings, std::string logPrefix, LogSink* log);

  // A packet that arrived at `arrival` (time of day in seconds, as
  // TimeOfDay::seconds() gives it). Packets of the same arrival are all
  // kept, in the order they are added.
  void add(double arrival, const Payload& payload) { packets.add(arrival, payload); }
  size_t heldPackets() const { return packets.size(); }

  // Fixes the measurement start. Packets that arrived before it lie outside
  // every window.
  void begin(const TimeOfDay& start);

  // One tick at `now`, the start of the sampling interval: the window is
  // the packets that arrived in the window size before it. Packets that
  // arrived after `now` count only where they fill a gap of that window,
  // so a caller that adds the packets of the de-jitter length after `now`
  // before ticking counts a reordered packet as the player would: received
  // in time. `sample` is filled for Tick::Sample.
  Tick tick(const TimeOfDay& now, TeskSample* sample);

  // Whether the next tick takes a sample (the warm-up is over).
  bool sampling() const { return ticks >= warmUp; }

 private:
  // The window's figures and score into `sample`, all but its times; false
  // when the window received nothing and gives no sample.
  bool score(const QosSampleCounts& counts, TeskSample* sample) const;

  const WindowSettings settings;
  QosWindowConfig config;
  QosRunningState state;
  PayloadMap packets;
  TimeOfDay start;
  uint32_t warmUp = 0;
  uint32_t ticks = 0;
  uint32_t emptyCount = 0;
};

#endif  // TESK_METER_H
