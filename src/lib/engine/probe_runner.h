#ifndef TESK_PROBE_RUNNER_H
#define TESK_PROBE_RUNNER_H

// The probe's engine: any number of calls on one thread and one socket.
// Each path is a CallSession with its own pacing and ticks, all driven by
// one queue of timed events; answers find their path by the session
// identifier, which is unique within the probe. The socket is "::" and
// reaches IPv4 reflectors through mapped addresses.

#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "stamp_auth.h"
#include "environment.h"
#include "event_loop.h"
#include "tesk_call.h"
#include "tesk_probe.h"
#include "twamp_session_setup.h"
#include "test_error.h"

// What the probe hands its user, on its thread.
class ProbeHooks {
 public:
  virtual ~ProbeHooks() = default;
  virtual void sample(const std::string& path, const TeskCallSample& sample) = 0;
  virtual void everySecond() = 0;
};

class PacedCall;

class ProbeRunner : public LoopCore {
 public:
  ProbeRunner();
  ~ProbeRunner();

  // Paths that keep their name and settings keep their calls.
  bool setPaths(const std::vector<TeskProbePath>& paths, std::string* error);
  TestOutcome run(uint32_t durationMs, Environment& env, ProbeHooks& hooks);
  std::vector<TeskProbePathStatus> status() const;

 private:
  struct Path;
  // A path's next send or score; stale once the path is gone or restarted.
  struct Event {
    int64_t at;  // monotonic µs
    uint64_t path;   // Path::id
    uint32_t generation;
    bool send;  // or score
    bool operator>(const Event& other) const { return at > other.at; }
  };

  // A new path of the settings `p` with its key; null, with `error`, when
  // they are not usable.
  std::unique_ptr<Path> makePath(const TeskProbePath& p, const StampKey& key, std::string* error);
  // Starts the path's call afresh: at once, or for TWAMP once its session
  // is set up over a control connection (which waits for nothing else).
  void start(Path& path, Environment& env);
  void beginCall(Path& path, Environment& env);
  void beginSetup(Path& path, Environment& env);
  // Drops the path's set-up, and with `stopSession` its running session.
  void endSetup(Path& path, Environment& env, bool stopSession);
  // The set-up's next step once its connection is `ready` (poll's revents),
  // or its deadline passed.
  void serviceSetup(Path& path, short ready, int64_t now, Environment& env);
  // The loop's turns.
  LoopWake due(int64_t now, Outbox& out) override;
  void take(Datagram* batch, int count, int64_t now, Outbox& out) override;
  void watch(std::vector<pollfd>* fds) override;
  void serviceWatched(const std::vector<pollfd>& fds, int64_t now) override;
  void handle(const Event& event, int64_t now, Outbox& out);
  void answer(const Datagram& datagram, int64_t now);
  void publish(Path& path);
  uint16_t nextSessionId();

  std::vector<std::unique_ptr<Path>> paths;
  std::unordered_map<uint64_t, Path*> byId;
  std::unordered_map<uint16_t, Path*> bySession;
  uint64_t lastId = 0;
  Environment* env = nullptr;  // while running
  ProbeHooks* hooks = nullptr;  // while running
  int64_t nextSecond = 0;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events;
  uint16_t lastSessionId = 0;
  bool running = false;
  std::vector<Path*> controlling;  // TWAMP paths setting their session up
  std::vector<Path*> watching;     // those with a connection, as watch() listed them
  mutable std::mutex statusMutex;
  std::vector<TeskProbePathStatus> published;  // guarded by statusMutex
};

#endif  // TESK_PROBE_RUNNER_H
