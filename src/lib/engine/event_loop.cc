#include "event_loop.h"

#include <algorithm>

namespace {

// Below this much before a paced send, the wait is a precise nap, not a
// poll: a poll wakes up to a tick late, a nap learns its lateness.
constexpr int64_t kNapMicros = 3000;
// However close the sends follow each other, the socket is looked at once
// a millisecond: answers do not wait behind a run of naps.
constexpr int64_t kLookMicros = 1000;

}  // namespace

Outbox::Outbox(Environment& environment, int count, size_t bytesPerSlot)
    : env(environment),
      bytes(static_cast<size_t>(count) * bytesPerSlot),
      slots(static_cast<size_t>(count)),
      slotBytes(bytesPerSlot) {}

Datagram& Outbox::add() {
  if (queued == slots.size()) sendQueued();
  Datagram& d = slots[queued++];
  d = Datagram();
  d.data = bytes.data() + (queued - 1) * slotBytes;
  d.capacity = slotBytes;
  return d;
}

void Outbox::sendQueued() {
  if (queued == 0) return;
  const int count = static_cast<int>(queued);
  queued = 0;
  if (env.sendBatch(slots.data(), count) == count) return;
  failure = env.lastSendError();
  failed = true;
}

bool Outbox::flush() {
  sendQueued();
  const bool allWent = !failed;
  failed = false;
  return allWent;
}

LoopEnd runLoop(Environment& env, LoopCore& core, const LoopSettings& settings) {
  Outbox out(env, settings.batch, settings.slotBytes);
  std::vector<uint8_t> inBytes(static_cast<size_t>(settings.batch) * settings.slotBytes);
  std::vector<Datagram> in(static_cast<size_t>(settings.batch));
  for (size_t i = 0; i < in.size(); ++i) {
    in[i].data = inBytes.data() + i * settings.slotBytes;
    in[i].capacity = settings.slotBytes;
  }
  const int64_t begun = env.monotonicMicros();
  const int64_t end = settings.durationMs == 0 ? INT64_MAX : begun + settings.durationMs * 1000LL;
  int64_t lastLook = begun;
  std::vector<pollfd> watched;
  for (;;) {
    int64_t now = env.monotonicMicros();
    if (now >= end) return LoopEnd::DurationOver;
    LoopWake wake = core.due(now, out);
    if (!out.flush() && !core.sendFailed(out.lastFailure())) return LoopEnd::SendFailed;
    if (wake.done) return LoopEnd::Finished;
    if (wake.at > end) wake = LoopWake{end, false, false};
    now = env.monotonicMicros();
    const int64_t left = wake.at - now;
    if (!settings.receives) {
      if (left > 0) env.nap(static_cast<unsigned int>(left));
      continue;
    }
    const bool looked = now - lastLook < kLookMicros;
    if (wake.paced && left < kNapMicros + 1000 && looked) {
      if (left > 0) env.nap(static_cast<unsigned int>(left));
      continue;
    }
    int64_t waitMillis = 0;  // a look at what is waiting, before a nap
    if (!wake.paced) {
      waitMillis = std::max<int64_t>((left + 999) / 1000, 0);
    } else if (left >= kNapMicros + 1000) {
      waitMillis = (left - kNapMicros) / 1000;
    }
    watched.clear();
    core.watch(&watched);
    bool datagram = true;
    const Environment::Wait w =
        env.waitForAny(watched.data(), watched.size(),
                       static_cast<uint32_t>(std::min<int64_t>(waitMillis, UINT32_MAX)), &datagram);
    if (w == Environment::Wait::StopRequested) return LoopEnd::Stopped;
    if (w == Environment::Wait::Failed) return LoopEnd::WaitFailed;
    lastLook = env.monotonicMicros();
    if (!watched.empty()) core.serviceWatched(watched, lastLook);
    if (w != Environment::Wait::Readable || !datagram) continue;
    const int received = env.receiveBatch(in.data(), settings.batch);
    if (received < 0 && !core.receiveFailed()) return LoopEnd::ReceiveFailed;
    if (received <= 0) continue;
    core.take(in.data(), received, lastLook, out);
    if (!out.flush() && !core.sendFailed(out.lastFailure())) return LoopEnd::SendFailed;
  }
}
