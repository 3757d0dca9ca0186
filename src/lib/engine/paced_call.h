#ifndef TESK_PACED_CALL_H
#define TESK_PACED_CALL_H

// One call's timetable around its session: a request every stream interval
// from the start, and each sampling tick scored once the answers to its
// windows have had time to come back. `pulvo call` runs one; the probe runs
// one per path, and starts a path's afresh when its reflector falls silent.

#include <cstdint>

#include "call_session.h"
#include "environment.h"

// How long after a tick its windows are scored: the de-jitter length, as a
// receiver plays out, and then the time an answer may take to come back.
constexpr uint32_t kAnswerWaitMs = 1000;

class PacedCall {
 public:
  // A call that begins now: its first request is due at once.
  PacedCall(const CallSettings& settings, Environment& env);

  int64_t nextSend() const { return sendAt; }   // monotonic µs
  int64_t nextScore() const { return scoreAt; }  // monotonic µs
  uint32_t ticksScored() const { return tickIndex; }

  // The request due, sent at `now` to `to`, into `datagram`; the next one
  // is due an interval after it was due (a late one is not made up).
  void send(int64_t now, const SocketAddress& to, Datagram& datagram);
  // Scores the tick that is due, on the session's answers so far.
  CallSession::Tick score(TeskCallSample* sample);

  CallSession& session() { return call; }
  const CallSession& session() const { return call; }

 private:
  CallSession call;
  Environment& env;
  const TimeOfDay start;
  const int64_t startMono;
  const int64_t interval, step, scoreDelay;  // µs
  int64_t sendAt, scoreAt;
  uint32_t tickIndex = 0;
};

#endif  // TESK_PACED_CALL_H
