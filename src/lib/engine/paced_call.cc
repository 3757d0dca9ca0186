#include "paced_call.h"

#include "event_loop.h"

PacedCall::PacedCall(const CallSettings& settings, Environment& environment)
    : call(settings),
      env(environment),
      start(environment.timeOfDay()),
      startMono(environment.monotonicMicros()),
      interval(int64_t{settings.streamInterval} * 1000),
      step(int64_t{settings.window.sampleInterval} * 1000),
      scoreDelay((int64_t{settings.window.dejitterLength} + kAnswerWaitMs) * 1000),
      sendAt(startMono),
      scoreAt(startMono + scoreDelay) {
  call.begin(start);
}

void PacedCall::send(int64_t now, const SocketAddress& to, Datagram& datagram) {
  datagram.length = call.request(env.timeOfDay(), datagram.data);
  datagram.peer = to;
  sendAt = nextPacedSend(sendAt, now, interval);
}

CallSession::Tick PacedCall::score(TeskCallSample* sample) {
  // The tick's time of day is the start plus whole sampling intervals,
  // however late the loop came to score it.
  const TimeOfDay tickTime = plusMicros(start, tickIndex * step);
  call.settle(env.timeOfDay());
  const CallSession::Tick tick = call.tick(tickTime, sample);
  tickIndex++;
  scoreAt = startMono + tickIndex * step + scoreDelay;
  return tick;
}
