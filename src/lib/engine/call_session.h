#ifndef TESK_CALL_SESSION_H
#define TESK_CALL_SESSION_H

// A call's measurement apart from its socket and clock: it writes the
// session-sender's packets, takes the reflector's answers and, at each
// tick, scores both directions with a meter of their own (the answers split
// into two packet streams by TwoWaySplit) and sums up the round trips of
// the packets sent in the window.
//
// The split needs a reflector that numbers its own answers per session. A
// stateless one copies the sender's numbers (RFC 8762 section 4.2): then a
// lost answer and a lost request look alike. So does a stateful reflector
// as long as no request was lost, unless it says it keeps counts: requests
// that have room carry RFC 8972's Direct Measurement TLV, which a stateful
// reflector (pulvo reflect among them) fills in. Otherwise the numbers are
// judged by what they showed so far: while every answer carried its
// request's number and nothing was lost, both readings agree and both
// directions are scored; once a loss shows with the numbers still alike,
// or a reflector numbers beyond the requests sent, only the round trip is.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ip_marks.h"
#include "meter.h"
#include "stamp_auth.h"
#include "stamp_packet.h"
#include "tesk_call.h"
#include "time_of_day.h"
#include "two_way_split.h"

struct CallSettings {
  uint8_t codec = 0;
  uint8_t fec = 0;
  uint8_t streamInterval = 20;  // ms
  uint16_t packetLength = 160;  // UDP payload; never below the STAMP base
  uint16_t sessionId = 1;
  bool clockSynchronized = false;  // this host's clock, for the S bit
  WindowSettings window;
  StampKey key;  // not empty: authenticated mode
  // The class byte the requests go with (DSCP and ECN); its DSCP is asked
  // of the answers too. -1: the socket's, and none asked.
  int tos = 46 << 2;
  int ttl = 255;  // as a session-sender sends (RFC 8762): hops are counted down from it
  // A full TWAMP session (RFC 5357): its packets hold the sender's fields
  // and zero padding, no session identifier and no TLV, which a TWAMP
  // reflector would not return as they went.
  bool twamp = false;
};

// The answers not scored, by reason, as one line's words ("500 of 38 bytes,
// shorter than the 44 that ..."); empty when there are none.
std::string describeUnscored(const TeskUnscoredAnswers& unscored, bool authenticated);

class CallSession {
 public:
  enum class Tick { WarmUp, Sample, Nothing, GaveUp };

  explicit CallSession(const CallSettings& settings);

  // The next request, stamped `now` (T1), into `out`; its length.
  size_t request(const TimeOfDay& now, uint8_t* out);
  // A datagram that came from the reflector at `arrival` (T4): false when
  // it is no answer to a request of this session that is still waiting for
  // one; it is then counted by reason (unscored) and never scored.
  // `marks` is what the answer's IP header said.
  bool takeAnswer(const uint8_t* data, size_t length, const TimeOfDay& arrival,
                  const IpMarks& marks = IpMarks{});
  // Whether the datagram answers a request of this session still waiting,
  // with its T1: which of several sessions an answer without a session
  // identifier belongs to.
  bool answersWaiting(const uint8_t* data, size_t length) const;

  // Answers held back for a missing one of the reflector's numbers are
  // taken as they stand once they have waited the de-jitter length: call
  // before each tick with the time of day.
  void settle(const TimeOfDay& now);

  // The first tick's time: no sample before a whole window has passed.
  void begin(const TimeOfDay& start);
  // The window that ends at `now`; answers may have come in since.
  Tick tick(const TimeOfDay& now, TeskCallSample* sample);

  uint32_t sent() const { return nextSequence; }
  uint64_t answers() const { return answered; }
  const TeskUnscoredAnswers& unscored() const { return dropped; }
  uint64_t authFailures() const { return dropped.authFailed; }
  uint64_t replays() const { return dropped.replayed; }
  // Since the start: requests lost on the way out, answers lost on the way
  // back (as far as the answers that came back tell).
  uint64_t forwardLost() const { return directions.forwardLost(); }
  uint64_t reverseLost() const { return lostBack; }
  // How the reflector says it takes its time stamps, in words; empty when
  // it does not say.
  const std::string& reflectorTimestamps() const { return timestamps; }

 private:
  struct Trip {
    double sent;       // T1, this host's seconds
    double roundTrip;  // s
    double forward, reverse;  // one-way transit, s, NaN when not both synchronised
    // Each way's class as it arrived and as the answer was sent, and its
    // hops; -1 where unknown.
    int8_t forwardDscp, reverseDscpSent, reverseDscp;
    int16_t forwardHops, reverseHops;
  };
  // The classes and hops of the window's trips (those before `end`).
  void summarizeMarks(double windowEnd, TeskCallSample* sample) const;
  // Fills the sample's round trips; returns T1 of the window's newest
  // answered request (0 without one).
  double summarizeTrips(double windowStart, double windowEnd, TeskCallSample* sample);
  // Hands answers to the split in the reflector's order.
  void hold(Reflection r);
  void releaseInOrder();
  // Releases every held answer, the gaps before them lost.
  void releaseAll();
  void split(const Reflection& r);

  StampMode mode() const {
    return settings.key.empty() ? StampMode::Unauthenticated : StampMode::Authenticated;
  }
  // Counts a datagram that does not read as an answer of this mode.
  void countUndecoded(const uint8_t* data, size_t length);
  // Why a decoded answer is not scored (another session's, not authentic,
  // a replay, or one of refusal's reasons); nullptr when it is.
  unsigned long long* unscoredReason(const StampReflectorPacket& answer, const uint8_t* data,
                                     size_t length, const TimeOfDay& arrival);
  // Why a decoded answer of this session is not scored; nullptr when it is.
  unsigned long long* refusal(const StampReflectorPacket& answer, const TimeOfDay& arrival);
  // Takes an answer that is scored: its request answered, the numbers'
  // evidence noted and the reflection handed to the meters; the reflection.
  Reflection score(const StampReflectorPacket& answer, const uint8_t* data, size_t length,
                   const TimeOfDay& arrival);
  // Keeps the answer's round trip, with its classes and hops, for the
  // window's summary.
  void addTrip(const StampReflectorPacket& answer, const Reflection& r, const uint8_t* data,
               size_t length, const IpMarks& marks);
  // Whether `answer` names a request still waiting, with its T1.
  bool answersWaitingRequest(const StampReflectorPacket& answer) const;
  // Whether the datagram, read in the other mode's layout, names a waiting
  // request: the reflector runs in the other mode.
  bool answersInOtherMode(const uint8_t* data, size_t length) const;

  // The requests of the last sentRing.size() sequence numbers: T1, and
  // whether an answer is still to come.
  struct Sent {
    uint64_t t1 = 0;
    bool waiting = false;
  };
  const Sent* sentRequest(uint32_t sequence) const;

  const CallSettings settings;
  TwoWaySplit directions;
  Meter forward, reverse;
  // Both ways as one, scored beside them for when the reflector's numbers
  // turn out not to tell the directions apart.
  Meter roundTrip;
  bool numbersDiverged = false;  // an answer's number differed from its request's
  bool countsPerSession = false;  // the reflector filled in a Direct Measurement TLV
  bool numbersRunAhead = false;  // an answer numbered beyond the requests sent
  bool lossSeen = false;
  double lastSent = 0;          // T1 of the newest request
  uint32_t nextSequence = 0;
  std::vector<Sent> sentRing;
  uint64_t answered = 0;
  TeskUnscoredAnswers dropped;
  // T2 less T1 of the first answer: the reflector's clock against this
  // host's, give or take a one-way trip.
  bool haveClockOffset = false;
  double clockOffset = 0;
  ReplayWindow answerNumbers;  // authenticated mode
  std::deque<Trip> trips;  // by send time
  // An answer overtaken on the way back would make its gap look like lost
  // answers (and so hide forward losses): answers wait here, by the
  // reflector's number, until the numbers before theirs are in.
  std::map<uint32_t, Reflection> held;
  uint32_t nextReflector = 0;
  bool releasedAny = false;
  // A reflector that restarts numbers from 0 again: its numbers are moved
  // on by this much, so that the way back's stream goes on.
  uint32_t reflectorShift = 0;
  uint32_t newestSender = 0;  // the highest sender number answered
  bool answeredAny = false;
  uint64_t lostBack = 0;
  std::vector<DirectionPacket> forwardPackets, reversePackets;  // reused
  std::string timestamps;
};

#endif  // TESK_CALL_SESSION_H
