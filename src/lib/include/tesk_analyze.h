#ifndef TESK_ANALYZE_H
#define TESK_ANALYZE_H

// Scoring captured calls: every RTP voice stream (and every pulvo test
// stream) in a pcap or pcapng file is measured by the receive test's own
// window pass and MOS model, its windows ticking on capture time.

#include <string>

#include "tesk_errors.h"
#include "tesk_export.h"
#include "tesk_sample.h"

struct TeskStreamInfo {
  unsigned int index = 0;   // 1, 2, ... in the order the streams were recognised
  std::string source;       // "192.0.2.1:5004" or "[2001:db8::5]:5004"
  std::string destination;
  unsigned int ssrc = 0;    // 0 for a pulvo test stream
  int payloadType = -1;     // the RTP payload type; -1 for a pulvo test stream
  unsigned char codec = 0;  // 0 G711, 1 GSM0610
  unsigned char fec = 0;
  unsigned int packetInterval = 0;  // ms, from the stream's first two packets
  double firstPacketTime = 0.0;     // capture time, seconds since the epoch
  bool pulvoStream = false;
  // Whole-stream totals, complete when the stream has ended: the packets
  // received (duplicates included) and those lost by the sequence numbers
  // (expected from the first to the highest, less received; negative when
  // duplicates outnumber the losses), as RTP receivers count them.
  unsigned long long packets = 0;
  long long lostPackets = 0;
  // Of those packets: repeated sequence numbers, comfort noise (payload
  // type 13 or 19) and other payload types than the stream's (telephone
  // events): counted, but neither voice nor timed.
  unsigned long long duplicates = 0;
  unsigned long long comfortNoise = 0;
  unsigned long long events = 0;
  double lastPacketTime = 0.0;  // capture time of its last packet
  unsigned int clockRate = 8000;  // Hz of its RTP timestamps
  // False for a stream whose codec neither the MOS model nor the E-model
  // knows: it gets its totals and `unscoredReason`, and no samples.
  bool scored = true;
  std::string unscoredReason;
  // False for a scored stream that only the E-model rates (G.729, G.723.1,
  // G.722): its samples carry no MOS of the trained model.
  bool modelScored = true;
  bool wideband = false;  // rated on G.107.1's wideband scale (G.722)
  // Where the capture's SIP announced the stream's destination: the call's
  // Call-ID, the party that receives there (the user part of its address)
  // and the payload type's encoding name ("PCMA", "G722", "opus", ...);
  // empty where no SIP said.
  std::string callId;
  std::string party;
  std::string encoding;
};

// A call as the capture's SIP tells it: the parties (the user parts of the
// first INVITE's From and To), and the capture times (seconds since the
// epoch; 0 where none was seen) of its first INVITE, its first answer (a 2xx
// to an INVITE) and its end: a BYE, a CANCEL, or a final failure to the
// INVITE, said in `endedBy` ("BYE", "CANCEL", "486"); empty while it lasts.
struct TeskSipCall {
  std::string callId;
  std::string caller, callee;
  double invited = 0.0, answered = 0.0, ended = 0.0;
  std::string endedBy;
};

// Receives the streams and their samples, all on the thread that called
// TeskAnalyzer::analyzeCapture, before it returns. A stream is recognised
// at its second packet; its samples follow in capture-time order, but the
// samples of different streams interleave.
class TESK_EXPORT TeskAnalyzerCallback {
 public:
  virtual ~TeskAnalyzerCallback() = default;
  virtual void streamFound(const TeskStreamInfo& stream) = 0;
  // The receive test's sample, with the stream's index and the capture time
  // of the tick that took it (seconds since the epoch).
  virtual void doCallback(unsigned int stream, double sampleTime, const TeskSample& sample) = 0;
  // The stream's measurement ended, with its totals: 0 at its end (its last
  // packet, or a pulvo end-of-stream packet), TIMEOUT_ERROR when its packets
  // stopped for longer than the time-out.
  virtual void streamEnded(const TeskStreamInfo& stream, int result) = 0;
  // Every call whose INVITE the capture held, in the order of their
  // INVITEs, once the capture has been read.
  virtual void callSeen(const TeskSipCall&) {}
};

// What the capture held, for a verbose report.
struct TeskCaptureCounts {
  unsigned long long frames = 0;
  unsigned long long udp = 0;
  unsigned long long voice = 0;      // datagrams of recognised or candidate streams
  unsigned long long fragments = 0;  // IP fragments, skipped
  unsigned long long notUdp = 0;     // other protocols, skipped
  unsigned long long truncated = 0;  // frames cut inside a header, skipped
  unsigned long long otherUdp = 0;   // UDP that is neither RTP voice nor pulvo's
  unsigned long long filtered = 0;   // left out by the port or stream choice
  unsigned long long sip = 0;        // SIP messages read, for what their SDP announces
};

// One analysis. Window, sampling interval, time-out and dejitter length in
// milliseconds, with the receive test's rules.
class TESK_EXPORT TeskAnalyzer {
 public:
  TeskAnalyzer(std::string captureFile, unsigned short windowSize, unsigned short sampleInterval,
               unsigned short dejitterLength, unsigned int timeout, unsigned int testId,
               TeskAnalyzerCallback* callback);
  virtual ~TeskAnalyzer() = default;

  // Only datagrams from or to this UDP port (0: every port).
  void setPort(unsigned short udpPort) { port = udpPort; }
  // Only the stream with this index (0: every stream).
  void setStream(unsigned int index) { stream = index; }
  // The codec of streams with a dynamic payload type (96-127) that no SIP
  // in the capture named: 0 G711, 1 GSM0610; -1 (the default) lists them
  // with their totals, unscored.
  void setDynamicPayloadCodec(int codec) { dynamicCodec = codec; }
  // The payload type of telephone events (RFC 4733); 0 (the default): any
  // dynamic type other than the one a stream started with.
  void setEventPayloadType(int payloadType) { eventPayloadType = payloadType; }
  // The one-way network delay (ms) that the E-model's conversational rating
  // assumes: a capture at one point of the path cannot tell it. 0 unless set.
  void setOneWayDelay(double milliseconds) { oneWayDelayMs = milliseconds; }

  // Reads the whole capture; returns 0, PARAMETER_ERROR (bad values, or a
  // file that cannot be read as a capture: TeskControl::GetLastErrorMessage
  // names the file and the reason) or TIMEOUT_ERROR (no voice stream in the
  // capture, or a stream whose packets stopped for longer than the
  // time-out). The streams read before a damaged part keep their samples.
  virtual int analyzeCapture();

  const TeskCaptureCounts& counts() const { return captureCounts; }

 private:
  std::string captureFile;
  unsigned short windowSize, sampleInterval, dejitterLength;
  unsigned int timeout, testId;
  TeskAnalyzerCallback* callback;
  unsigned short port = 0;
  unsigned int stream = 0;
  int dynamicCodec = -1;
  int eventPayloadType = 0;
  double oneWayDelayMs = 0.0;
  TeskCaptureCounts captureCounts;
};

#endif  // TESK_ANALYZE_H
