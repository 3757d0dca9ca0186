#ifndef TESK_CAPTURE_ANALYSIS_H
#define TESK_CAPTURE_ANALYSIS_H

// The streams of one capture, each measured by a meter on capture time.
//
// A datagram first brings its stream's meter up to its time stamp, running
// every tick that falls due before it, then enters the meter, as a received
// datagram enters the receive test's. No thread, no clock, no sleep: a
// stream's ticks run when capture time reaches them.

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

#include "capture_decode.h"
#include "meter.h"
#include "packet.h"
#include "rtp_stream.h"
#include "sip_media.h"
#include "tesk_analyze.h"
#include "test_error.h"

struct CaptureAnalysisSettings {
  WindowSettings window;
  uint16_t port = 0;      // 0: every port
  uint32_t stream = 0;    // 0: every stream
  int dynamicCodec = -1;  // codec of dynamic payload types; -1: unknown, not scored
  int eventPayloadType = 0;  // of telephone events; 0: any other dynamic type
};

class CaptureAnalysis {
 public:
  CaptureAnalysis(const CaptureAnalysisSettings& settings, TeskAnalyzerCallback* callback);
  ~CaptureAnalysis();

  // One captured frame, stamped in microseconds since the epoch.
  void addFrame(int64_t timeMicros, int linkType, const uint8_t* frame, size_t capturedLength);
  void addDatagram(int64_t timeMicros, const UdpDatagram& datagram);
  // The capture has ended: every stream still open ends as at an
  // end-of-stream packet, its partly open window giving no sample. Returns 0, or TIMEOUT_ERROR when no stream was
  // found or one of them gave up.
  int finish();

  const TeskCaptureCounts& counts() const { return captureCounts; }
  // Why finish() did not return 0.
  const FailureNote& failure() const { return failureNote; }

  struct Stream;
  struct Key {
    int family;
    uint8_t source[16], destination[16];
    uint16_t sourcePort, destinationPort;
    uint32_t ssrc;
    bool pulvo;
    bool operator==(const Key& other) const;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const;
  };

 private:
  bool startsRtpStream(uint8_t payloadType) const;
  // Reads the SIP messages of a datagram into the media table; false when
  // it holds none.
  bool readSip(int64_t timeMicros, const UdpDatagram& d);
  // What the SIP announced for the datagram's destination, or nullptr.
  const AnnouncedMedia* announcedFor(const UdpDatagram& d) const;
  std::unique_ptr<Stream> newStream(const UdpDatagram& d, const Key& key, const Payload& pulvo,
                                    const RtpHeader& rtp) const;
  // The datagram's stream key and its packet, a pulvo test packet's or an
  // RTP header; false for anything else.
  bool classify(const UdpDatagram& d, Key* key, Payload* pulvo, RtpHeader* rtp) const;
  // The stream the packet belongs to, started when it may start one (and
  // `firstPacket` then set); null when it is dropped.
  Stream* streamFor(int64_t timeMicros, const UdpDatagram& d, const Key& key,
                    const Payload& pulvo, const RtpHeader& rtp, bool* firstPacket);
  // The stream's totals: packets, duplicates, sequence range, last times.
  void count(Stream& stream, const Payload& payload, bool rtp, bool placeholder,
             int64_t timeMicros);
  // An RTP-looking stream waits for a packet that confirms it: true while
  // the packet goes no further (the stream may be gone).
  bool awaitConfirmation(Stream& stream, const Key& key, const Payload& payload,
                         bool firstPacket, bool placeholder, int64_t timeMicros);
  void confirm(Stream& stream);
  // Runs the stream's ticks due at or before `lastTickMicros`, until it ends.
  void advance(Stream& stream, int64_t lastTickMicros);
  int64_t settled(int64_t timeMicros) const;
  void report(Stream& stream, bool gaveUp);

  CaptureAnalysisSettings settings;
  TeskAnalyzerCallback* callback;
  // Drops the streams that have waited longer than the time-out for their
  // second packet: random datagrams that look like RTP must not pile up.
  void forgetLoneFirstPackets(int64_t timeMicros);

  std::unordered_map<Key, std::unique_ptr<Stream>, KeyHash> streams;
  SipMediaTable sipMedia;
  std::deque<std::pair<int64_t, Key>> unconfirmed;  // by first packet's time
  unsigned int recognised = 0;
  int result = 0;
  TeskCaptureCounts captureCounts;
  FailureNote failureNote;
};

#endif  // TESK_CAPTURE_ANALYSIS_H
