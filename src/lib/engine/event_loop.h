#ifndef TESK_EVENT_LOOP_H
#define TESK_EVENT_LOOP_H

// The one loop under every two-way test: a single thread that waits on the
// test's socket (and any control connections), hands what arrives to a core,
// runs the core when its next deadline comes and sends what it queued. The
// core holds the state; the loop holds the waiting, the pacing and the
// stop request, so every command paces, batches and stops alike, and a test
// drives a core on virtual time through a fake Environment.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "environment.h"

// When a paced send that was due at `scheduled` and went at `now` has its
// successor: one interval on, and a late wake is not made up with a burst
// (the next one goes half an interval after the late one at the earliest).
inline int64_t nextPacedSend(int64_t scheduled, int64_t now, int64_t interval) {
  const int64_t onTime = scheduled + interval;
  const int64_t afterLate = now + interval / 2;
  return onTime > afterLate ? onTime : afterLate;
}

// When a core next needs to run (monotonic µs), and whether that is a
// paced send, which the loop reaches with a precise nap rather than a poll.
struct LoopWake {
  int64_t at = 0;
  bool paced = false;
  bool done = false;  // the core has finished: the loop ends

  static LoopWake finished() {
    LoopWake w;
    w.done = true;
    return w;
  }
};

// The datagrams a core sends during one of its turns: slots of the loop's
// batch, sent in one call when the turn ends (or when the batch is full).
class Outbox {
 public:
  Outbox(Environment& env, int slots, size_t slotBytes);

  // An empty slot of `slotBytes` to fill: its data and length, the peer
  // and, for a class of its own, marks.
  Datagram& add();
  // Takes back the slot last added: nothing to send in it after all.
  void drop() { queued--; }
  // Sends what is queued: false when any of what was queued since the last
  // flush could not go.
  bool flush();
  const std::string& lastFailure() const { return failure; }

 private:
  void sendQueued();

  Environment& env;
  std::vector<uint8_t> bytes;
  std::vector<Datagram> slots;
  size_t slotBytes;
  size_t queued = 0;
  bool failed = false;
  std::string failure;
};

class LoopCore {
 public:
  virtual ~LoopCore() = default;
  // Does what is due by `now` and says when it next needs to run.
  virtual LoopWake due(int64_t now, Outbox& out) = 0;
  // Datagrams that arrived together, read at `now`.
  virtual void take(Datagram* batch, int count, int64_t now, Outbox& out) = 0;
  // Control connections to watch beside the test socket, with their events;
  // after each wait that was not stopped they come back, revents filled in.
  virtual void watch(std::vector<pollfd>* /*fds*/) {}
  virtual void serviceWatched(const std::vector<pollfd>& /*fds*/, int64_t /*now*/) {}
  // Some of a turn's datagrams could not be sent: whether to go on.
  virtual bool sendFailed(const std::string& /*reason*/) { return true; }
  // A readable socket could not be read: whether to go on (skipping it).
  virtual bool receiveFailed() { return true; }
};

struct LoopSettings {
  int batch = 64;           // datagrams per receive and per send
  size_t slotBytes = 2048;  // the longest datagram read or sent in full
  uint32_t durationMs = 0;  // 0: until the core finishes or the stop request
  // A core that only sends: the loop naps to each of its sends and never
  // waits on the socket; the stop request is the core's to heed.
  bool receives = true;
};

enum class LoopEnd { Finished, DurationOver, Stopped, WaitFailed, SendFailed, ReceiveFailed };

LoopEnd runLoop(Environment& env, LoopCore& core, const LoopSettings& settings);

#endif  // TESK_EVENT_LOOP_H
