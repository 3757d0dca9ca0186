#ifndef TESK_CALL_H
#define TESK_CALL_H

// Both directions of a call, measured against a STAMP session-reflector
// (RFC 8762, RFC 8972): packets paced as the sender paces its stream go to
// the reflector, and every sampling interval each direction's window is
// scored as the receive test scores its own, with the round trip beside it.

#include <limits>
#include <string>
#include <vector>

#include "tesk_errors.h"
#include "tesk_export.h"
#include "tesk_sample.h"

// What came back from the reflector and was not scored, by reason, and the
// sizes of what was.
struct TeskUnscoredAnswers {
  unsigned long long tooShort = 0;  // shorter than the fields read
  unsigned int shortestLength = 0, longestShortLength = 0;  // of those, bytes
  unsigned long long wrongSession = 0;   // another session identifier
  unsigned long long authFailed = 0;     // authenticated mode: no valid HMAC
  unsigned long long replayed = 0;       // authenticated mode: a number met before
  unsigned long long otherMode = 0;      // an unauthenticated answer to an authenticated
                                         // request, or the reverse
  unsigned long long notSent = 0;        // to a number never sent, or forgotten since
  unsigned long long repeated = 0;       // to a request already answered
  unsigned long long wrongSenderTime = 0;  // T1 is not the one sent with that number
  unsigned long long impossibleTime = 0;   // time stamps the session cannot have produced
  // The scored answers' length when it differs from the requests' (0: the
  // same): the way back then carries another packet than the voice's.
  unsigned int requestLength = 0, answerLength = 0;

  unsigned long long total() const {
    return tooShort + wrongSession + authFailed + replayed + otherMode + notSent + repeated +
           wrongSenderTime + impossibleTime;
  }
  // The counts that came since `before` (the sizes as they are now).
  TeskUnscoredAnswers since(const TeskUnscoredAnswers& before) const {
    TeskUnscoredAnswers d = *this;
    d.tooShort -= before.tooShort;
    d.wrongSession -= before.wrongSession;
    d.authFailed -= before.authFailed;
    d.replayed -= before.replayed;
    d.otherMode -= before.otherMode;
    d.notSent -= before.notSent;
    d.repeated -= before.repeated;
    d.wrongSenderTime -= before.wrongSenderTime;
    d.impossibleTime -= before.impossibleTime;
    return d;
  }
};

// The answers not scored, by reason, in words ("500 of 38 bytes, shorter
// than the 44 that ..., 1 replayed"); empty when there are none.
TESK_EXPORT std::string teskUnscoredText(const TeskUnscoredAnswers& unscored, bool authenticated);

// Whether the reflector's numbers tell the two directions apart.
enum class TeskWayBack {
  Known,                // its own count per session: each direction scored
  CopiesSenderNumbers,  // a stateless reflector: a loss could be either way
  NumbersRunAhead,      // numbered beyond the requests sent (one count for all sessions)
};

// One sampling tick of a call.
struct TeskCallSample {
  // The window of each direction: forward (to the reflector) and reverse
  // (back). A direction whose window received nothing has no sample.
  bool haveForward = false, haveReverse = false;
  TeskSample forward, reverse;
  // When the reflector's numbers cannot tell the directions apart, both
  // ways are scored as one, the round trip, and neither direction is.
  TeskWayBack wayBack = TeskWayBack::Known;
  bool haveRoundTrip = false;
  TeskSample roundTrip;
  // The reflector stopped answering before the window's end and has not
  // answered since: the window is not scored (no direction has a sample),
  // rather than scored from the answers it did get.
  bool silent = false;
  unsigned int testId = 1;
  // What came back and was not scored, since the call began.
  TeskUnscoredAnswers unscored;
  // Answers that came back for the packets sent in the window, and their
  // round trips net of the reflector's residence, ms (NaN without answers).
  unsigned int answers = 0;
  double roundTripMinMs = 0, roundTripMeanMs = 0, roundTripMaxMs = 0;
  // One-way delays, ms: known only when both ends say their clocks are
  // synchronised (the STAMP error estimate's S bit); NaN otherwise.
  double forwardDelayMs = 0, reverseDelayMs = 0;
  // The class (DSCP, 0 to 63) of the window's packets each way, as sent and
  // as most of them arrived; -1 where unknown. The forward arrivals are as
  // the reflector saw them (its Class of Service TLV, RFC 8972), the reverse
  // ones as they reached this host; the reverse class sent is known from a
  // reflector that says what it answered with.
  int forwardDscpSent = -1, forwardDscpReceived = -1;
  int reverseDscpSent = -1, reverseDscpReceived = -1;
  // The routers crossed each way (most of the window's packets), -1 where
  // unknown: forward from the TTL the requests reached the reflector with
  // (sent with 255), reverse from the TTL the answers arrived with, counted
  // down from the usual initial value (64, 128 or 255) nearest above it.
  int forwardHops = -1, reverseHops = -1;
};


// A scored direction of a tick, by its name ("forward", "reverse",
// "round-trip"), with its one-way delay (ms, NaN when unknown).
struct TeskCallDirection {
  const char* name;
  const TeskSample* sample;
  double oneWayDelayMs;
  int dscpSent, dscpReceived, hops;  // -1 where unknown
};
inline std::vector<TeskCallDirection> scoredDirections(const TeskCallSample& c) {
  std::vector<TeskCallDirection> scored;
  if (c.haveForward) {
    scored.push_back({"forward", &c.forward, c.forwardDelayMs, c.forwardDscpSent,
                      c.forwardDscpReceived, c.forwardHops});
  }
  if (c.haveReverse) {
    scored.push_back({"reverse", &c.reverse, c.reverseDelayMs, c.reverseDscpSent,
                      c.reverseDscpReceived, c.reverseHops});
  }
  // The round trip is no one-way path.
  if (c.haveRoundTrip) {
    scored.push_back(
        {"round-trip", &c.roundTrip, std::numeric_limits<double>::quiet_NaN(), -1, -1, -1});
  }
  return scored;
}

struct TeskCallConfig {
  std::string remoteAddress = "127.0.0.1";
  unsigned short remotePort = 862;
  std::string localAddress;  // empty: any address of the remote address's family
  unsigned short localPort = 0;  // 0: any
  unsigned int testDuration = 12000;  // ms
  unsigned char codec = 0;            // 0 G711, 1 GSM0610
  unsigned char fec = 0;              // 0 none, 1-3 gsmpiggyback1-3
  unsigned char streamInterval = 20;  // ms
  unsigned short windowSize = 4000;   // ms
  unsigned short sampleInterval = 1000;  // ms
  unsigned short dejitterLength = 120;   // ms
  unsigned int timeout = 30000;  // ms without an answer before the call gives up
  unsigned int testId = 1;
  unsigned short sessionId = 0;  // RFC 8972 SSID; 0: one is drawn at random
  // Authenticated mode (RFC 8762): the shared key's file, which only its
  // owner may read (hexadecimal text); empty: unauthenticated.
  std::string keyFile;
  // The class the requests go with, and the one the answers are asked to
  // come back with: DSCP (46, EF, as a voice call's) and ECN.
  unsigned char dscp = 46;
  unsigned char ecn = 0;
  // Full TWAMP (RFC 5357, unauthenticated): the test session is set up over
  // a control connection to this TCP port of the remote address before the
  // first packet, and stopped after the last; the packets hold no session
  // identifier or TLV, so the forward class is not known. Otherwise STAMP
  // (and TWAMP Light).
  bool twamp = false;
  unsigned short controlPort = 862;

  // The messages of every rule this configuration breaks ("Error in call
  // parameter: ..."), in rule order; empty when it can run. The key file is
  // read only when the call runs.
  std::vector<std::string> validate() const;
};

class TESK_EXPORT TeskCaller {
 public:
  explicit TeskCaller(const TeskCallConfig& callConfig) : config(callConfig) {}
  virtual ~TeskCaller() = default;

  // Called on the calling thread for every tick that scored a direction.
  virtual void onSample(const TeskCallSample&) {}

  // Runs the whole call; 0 or a TeskError (the reason in the last error text).
  int run();
  unsigned int sentPackets() const { return sent; }
  unsigned int answers() const { return answered; }
  // Authenticated mode: answers refused for their HMAC, and replays.
  unsigned int authFailures() const {
    return static_cast<unsigned int>(unscoredAnswers.authFailed);
  }
  unsigned int replays() const { return static_cast<unsigned int>(unscoredAnswers.replayed); }
  const TeskUnscoredAnswers& unscored() const { return unscoredAnswers; }
  // The same in words, by reason ("3 failed authentication, 1 replayed");
  // empty when every answer was scored.
  std::string unscoredText() const;
  // How the reflector says it takes T2 and T3 (RFC 8972's Timestamp
  // Information TLV), in words; empty when it did not say.
  const std::string& reflectorTimestamps() const { return timestamps; }

 private:
  const TeskCallConfig config;
  TeskUnscoredAnswers unscoredAnswers;
  std::string timestamps;
  unsigned int sent = 0, answered = 0;
};

#endif  // TESK_CALL_H
