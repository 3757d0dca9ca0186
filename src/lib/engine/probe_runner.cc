#include "probe_runner.h"

#include <algorithm>

#include "call_start.h"
#include "codec_names.h"
#include "event_loop.h"
#include "paced_call.h"
#include "stamp_auth.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "tcp_socket.h"

namespace {

constexpr int kBatch = 64;
constexpr size_t kSlot = 2048;

bool sameCall(const TeskCallConfig& a, const TeskCallConfig& b) {
  return a.remoteAddress == b.remoteAddress && a.remotePort == b.remotePort &&
         a.localAddress == b.localAddress && a.codec == b.codec && a.fec == b.fec &&
         a.streamInterval == b.streamInterval && a.windowSize == b.windowSize &&
         a.sampleInterval == b.sampleInterval && a.dejitterLength == b.dejitterLength &&
         a.timeout == b.timeout && a.testId == b.testId && a.keyFile == b.keyFile &&
         a.dscp == b.dscp && a.ecn == b.ecn && a.twamp == b.twamp &&
         a.controlPort == b.controlPort;
}

// The one socket is "::": an IPv4 reflector is reached at its mapped address.
std::string socketAddressText(const std::string& address) {
  return isIPv6Text(address.c_str()) ? address : "::ffff:" + address;
}

}  // namespace

struct ProbeRunner::Path {
  uint64_t id = 0;
  TeskProbePath config;
  CallSettings settings;
  SocketAddress to;
  std::string peer;
  uint16_t sessionId = 0;
  std::unique_ptr<PacedCall> call;
  uint32_t generation = 0;
  // The totals of the path's earlier sessions (a silent reflector's call is
  // started afresh).
  uint64_t sentBefore = 0, answersBefore = 0, forwardLostBefore = 0, reverseLostBefore = 0;
  int64_t lastAnswerMono = -1;
  size_t slot = 0;  // its place among the published statuses
  TeskProbePathStatus status;
  // TWAMP: each call's session is set up over a control connection first
  // (again after each restart), which stays open while the call runs.
  SocketAddress control;
  TwampSession twamp;
  std::unique_ptr<TwampControlClient> setup;  // while setting up
  int setupFd = -1;
  bool connecting = false;
  int64_t setupDeadline = 0;  // monotonic µs: give up, or (without a connection) try again
};

ProbeRunner::ProbeRunner() = default;
ProbeRunner::~ProbeRunner() = default;

uint16_t ProbeRunner::nextSessionId() {
  if (lastSessionId == 0) lastSessionId = static_cast<uint16_t>(env->random32() % 60000 + 1);
  do {
    lastSessionId = static_cast<uint16_t>(lastSessionId % 65535 + 1);
  } while (bySession.count(lastSessionId) != 0);
  return lastSessionId;
}

std::unique_ptr<ProbeRunner::Path> ProbeRunner::makePath(const TeskProbePath& p,
                                                        const StampKey& key, std::string* error) {
  auto path = std::make_unique<Path>();
  path->config = p;
  // The S bit is the environment's to say, when each call begins.
  CallConfig call = callConfigOf(p.call, 0, false);
  std::vector<std::string> errors = callParameterErrors(call);
  if (!errors.empty()) {
    *error = errors.front();
    return nullptr;
  }
  call.settings.key = key;
  path->settings = call.settings;
  const std::string remote = socketAddressText(p.call.remoteAddress);
  if (!makeSocketAddress(remote.c_str(), p.call.remotePort, &path->to)) {
    *error = "remote address " + p.call.remoteAddress + " is not usable";
    return nullptr;
  }
  path->peer = formatAddress(path->to);
  path->control = path->to;
  makeSocketAddress(remote.c_str(), p.call.controlPort, &path->control);
  path->status.name = p.name;
  path->status.peer = (isIPv6Text(p.call.remoteAddress.c_str()) ? "[" + p.call.remoteAddress + "]"
                                                                   : p.call.remoteAddress) +
                      ":" + std::to_string(p.call.remotePort);
  path->status.codec = codecName(p.call.codec);
  return path;
}

bool ProbeRunner::setPaths(const std::vector<TeskProbePath>& wanted, std::string* error) {
  std::vector<std::unique_ptr<Path>> next;
  std::vector<std::string> names;
  for (const TeskProbePath& p : wanted) {
    if (p.name.empty() || std::find(names.begin(), names.end(), p.name) != names.end()) {
      *error = "path " + p.name + ": " + (p.name.empty() ? "no name" : "named twice");
      return false;
    }
    names.push_back(p.name);
    // The key is read at each reading, so that a key file rewritten in place
    // starts the path afresh with the new key.
    StampKey key;
    if (!p.call.keyFile.empty() && !readStampKeyFile(p.call.keyFile, &key, error)) {
      *error = "path " + p.name + ": " + *error;
      return false;
    }
    auto kept = std::find_if(paths.begin(), paths.end(), [&](const std::unique_ptr<Path>& old) {
      return old != nullptr && old->config.name == p.name && sameCall(old->config.call, p.call) &&
             old->settings.key == key;
    });
    if (kept != paths.end()) {
      next.push_back(std::move(*kept));
      continue;
    }
    std::unique_ptr<Path> path = makePath(p, key, error);
    if (path == nullptr) {
      *error = "path " + p.name + ": " + *error;
      return false;
    }
    next.push_back(std::move(path));
  }
  // The paths that are gone leave their sessions; their events go stale.
  for (const std::unique_ptr<Path>& old : paths) {
    if (old == nullptr) continue;
    byId.erase(old->id);
    bySession.erase(old->sessionId);
    if (running) endSetup(*old, *env, true);
  }
  paths = std::move(next);
  for (const std::unique_ptr<Path>& path : paths) {
    if (path->id == 0) {
      path->id = ++lastId;
      if (running) start(*path, *env);
    }
    byId[path->id] = path.get();
    if (path->call != nullptr) bySession[path->sessionId] = path.get();
  }
  std::lock_guard<std::mutex> lock(statusMutex);
  published.clear();
  for (const std::unique_ptr<Path>& path : paths) {
    path->slot = published.size();
    published.push_back(path->status);
  }
  return true;
}

void ProbeRunner::start(Path& path, Environment& environment) {
  if (path.call != nullptr) {
    const CallSession& ended = path.call->session();
    path.sentBefore += ended.sent();
    path.answersBefore += ended.answers();
    path.forwardLostBefore += ended.forwardLost();
    path.reverseLostBefore += ended.reverseLost();
    bySession.erase(path.sessionId);
  }
  path.generation++;  // the old call's events go stale
  if (path.settings.twamp) {
    endSetup(path, environment, true);
    beginSetup(path, environment);
    return;
  }
  path.sessionId = nextSessionId();
  path.settings.sessionId = path.sessionId;
  beginCall(path, environment);
}

void ProbeRunner::beginSetup(Path& path, Environment& environment) {
  const int64_t now = environment.monotonicMicros();
  const int64_t timeout = int64_t{path.settings.window.timeout} * 1000;
  TwampSessionRequest request;
  request.ipVersion = isIPv6Text(path.config.call.remoteAddress.c_str()) ? 6 : 4;
  request.senderPort = environment.localPort();
  request.receiverPort = path.config.call.remotePort;
  request.padding = static_cast<uint32_t>(
      std::max<size_t>(path.settings.packetLength, kStampBaseLength) - kTwampShortestRequest);
  request.dscp = dscpOfTos(path.settings.tos);
  path.setup = std::make_unique<TwampControlClient>(request);
  std::string error;
  path.setupFd = environment.startTcpConnect(path.control, &error);
  path.connecting = true;
  path.setupDeadline = now + timeout;
  if (std::find(controlling.begin(), controlling.end(), &path) == controlling.end()) {
    controlling.push_back(&path);
  }
  if (path.setupFd < 0) {
    TESK_LOG(7, "Probe: " << path.config.name << ": no TWAMP control connection to "
                          << formatAddressAndPort(path.control) << ": " << error);
  }
}

void ProbeRunner::endSetup(Path& path, Environment& environment, bool stopSession) {
  if (path.setupFd >= 0) environment.closeTcp(path.setupFd);
  path.setupFd = -1;
  path.setup.reset();
  if (stopSession) stopTwampSession(environment, &path.twamp);
  controlling.erase(std::remove(controlling.begin(), controlling.end(), &path), controlling.end());
}

void ProbeRunner::serviceSetup(Path& path, short ready, int64_t now, Environment& environment) {
  const auto retry = [&](const std::string& why) {
    TESK_LOG(7, "Probe: " << path.config.name << ": TWAMP control ("
                          << formatAddressAndPort(path.control) << "): " << why);
    path.status.answering = false;
    environment.closeTcp(path.setupFd);
    path.setupFd = -1;
    path.setupDeadline = now + int64_t{path.settings.window.timeout} * 1000;
  };
  if (path.setupFd < 0) {
    if (now >= path.setupDeadline) beginSetup(path, environment);
    return;
  }
  if (now >= path.setupDeadline) return retry("no answer before the time-out");
  if (ready == 0) return;
  std::string error;
  if (path.connecting) {
    if (!environment.tcpConnected(path.setupFd, &error)) return retry(error);
    path.connecting = false;
    return;
  }
  uint8_t buffer[512];
  const long n = environment.readTcp(path.setupFd, buffer, sizeof buffer);
  if (n == kTcpNothing) return;
  if (n <= 0) return retry("the reflector closed the connection");
  std::string out;
  const TwampControlClient::State state =
      path.setup->receive(buffer, static_cast<size_t>(n), now / 1e6, &out);
  // A few small messages: the socket takes them whole, or the set-up fails.
  if (!out.empty() && environment.writeTcp(path.setupFd, reinterpret_cast<const uint8_t*>(out.data()),
                                           out.size()) != static_cast<long>(out.size())) {
    return retry("cannot write to the connection");
  }
  if (state == TwampControlClient::State::Failed) return retry(path.setup->failure());
  if (state != TwampControlClient::State::Running) return;
  path.twamp.fd = path.setupFd;
  path.twamp.testPort = path.setup->reflectorPort();
  path.twamp.stop = path.setup->stopSessions();
  path.setupFd = -1;
  endSetup(path, environment, false);
  if (path.twamp.testPort != 0) {
    makeSocketAddress(socketAddressText(path.config.call.remoteAddress).c_str(),
                      path.twamp.testPort, &path.to);
  }
  path.sessionId = 0;
  path.settings.sessionId = 0;
  beginCall(path, environment);
}

void ProbeRunner::beginCall(Path& path, Environment& environment) {
  path.settings.clockSynchronized = environment.clockSynchronized();
  path.call = std::make_unique<PacedCall>(path.settings, environment);
  if (!path.settings.twamp) bySession[path.sessionId] = &path;
  events.push({path.call->nextSend(), path.id, path.generation, true});
  events.push({path.call->nextScore(), path.id, path.generation, false});
}

void ProbeRunner::publish(Path& path) {
  TeskProbePathStatus& s = path.status;
  const CallSession& session = path.call->session();
  s.sent = path.sentBefore + session.sent();
  s.answers = path.answersBefore + session.answers();
  s.forwardLost = path.forwardLostBefore + session.forwardLost();
  s.reverseLost = path.reverseLostBefore + session.reverseLost();
  std::lock_guard<std::mutex> lock(statusMutex);
  published[path.slot] = s;
}

void ProbeRunner::handle(const Event& e, int64_t now, Outbox& out) {
  auto found = byId.find(e.path);
  if (found == byId.end() || found->second->generation != e.generation) return;  // stale
  Path& path = *found->second;
  const CallSettings& s = path.settings;
  if (e.send) {
    Datagram& d = out.add();
    path.call->send(now, path.to, d);
    d.marks.tos = s.tos;  // each path's own class, on the one socket
    events.push({path.call->nextSend(), path.id, path.generation, true});
    return;
  }
  TeskCallSample sample;
  const CallSession::Tick t = path.call->score(&sample);
  // A window the reflector left unanswered shows the path down at once.
  path.status.answering = path.lastAnswerMono >= 0 && !sample.silent &&
                          now - path.lastAnswerMono < int64_t{s.window.timeout} * 1000;
  if (t == CallSession::Tick::Sample) {
    path.status.haveSample = true;
    path.status.last = sample;
    hooks->sample(path.config.name, sample);
  }
  if (t == CallSession::Tick::GaveUp) {
    // No answer for the time-out: the path is down; its call starts afresh.
    TESK_LOG(7, "Probe: " << path.config.name << ": no answer from " << path.peer);
    path.status.answering = false;
    path.status.restarts++;
    publish(path);
    start(path, *env);
    return;
  }
  publish(path);
  events.push({path.call->nextScore(), path.id, path.generation, false});
}

void ProbeRunner::answer(const Datagram& d, int64_t now) {
  // The answer names its session where its mode puts the identifier.
  for (StampMode mode : {StampMode::Unauthenticated, StampMode::Authenticated}) {
    uint16_t ssid = 0;
    if (!peekStampSsid(d.data, d.length, mode, &ssid)) return;
    auto found = bySession.find(ssid);
    if (found == bySession.end()) continue;
    Path& path = *found->second;
    const bool authenticated = !path.settings.key.empty();
    if ((mode == StampMode::Authenticated) != authenticated || !sameEndpoint(d.peer, path.to)) {
      continue;
    }
    if (path.call->session().takeAnswer(d.data, d.length, d.arrival, d.marks)) {
      path.lastAnswerMono = now;
    }
    return;
  }
  // A TWAMP Light reflector leaves the session identifier zero: the answer
  // is that of the path to its reflector whose request it answers.
  uint16_t ssid = 0;
  if (!peekStampSsid(d.data, d.length, StampMode::Unauthenticated, &ssid) || ssid != 0) return;
  for (const std::unique_ptr<Path>& path : paths) {
    if (path->call == nullptr || !sameEndpoint(d.peer, path->to) ||
        !path->call->session().answersWaiting(d.data, d.length)) {
      continue;
    }
    if (path->call->session().takeAnswer(d.data, d.length, d.arrival, d.marks)) {
      path->lastAnswerMono = now;
    }
    return;
  }
}

TestOutcome ProbeRunner::run(uint32_t durationMs, Environment& environment, ProbeHooks& probeHooks) {
  if (environment.openSocketOnAnyPort(getOwnThreadId(), "::", true) != 0) {
    return outcomeOf(SOCKET_ERROR, environment.failure());
  }
  environment.enlargeReceiveBuffer(8 << 20);
  // Requests leave with the TTL a session-sender sends with; the answers'
  // class and TTL are read as they arrive.
  environment.setIpMarks(IpMarks{-1, 255});
  environment.reportIpMarks();
  env = &environment;
  hooks = &probeHooks;
  running = true;
  for (const std::unique_ptr<Path>& path : paths) start(*path, environment);
  nextSecond = environment.monotonicMicros() + 1000000;
  LoopSettings loopSettings;
  loopSettings.batch = kBatch;
  loopSettings.slotBytes = kSlot;
  loopSettings.durationMs = durationMs;
  int code = 0;
  if (runLoop(environment, *this, loopSettings) == LoopEnd::WaitFailed) {
    TESK_LOG_FAILURE(environment.failure(), 7, "", "Probe: error waiting for answers");
    code = SOCKET_ERROR;
  }
  for (const std::unique_ptr<Path>& path : paths) endSetup(*path, environment, true);
  running = false;
  env = nullptr;
  hooks = nullptr;
  environment.closeSocket();
  return outcomeOf(code, environment.failure());
}

LoopWake ProbeRunner::due(int64_t now, Outbox& out) {
  while (!events.empty() && events.top().at <= now) {
    const Event e = events.top();
    events.pop();
    handle(e, now, out);
  }
  if (now >= nextSecond) {
    out.flush();
    hooks->everySecond();  // may set new paths
    nextSecond = now + 1000000;
  }
  // The set-ups whose deadline passed, connection or not.
  for (Path* path : std::vector<Path*>(controlling)) serviceSetup(*path, 0, now, *env);
  LoopWake wake{nextSecond, false, false};
  for (Path* path : controlling) wake.at = std::min(wake.at, path->setupDeadline);
  if (!events.empty() && events.top().at <= wake.at) wake = LoopWake{events.top().at, events.top().send, false};
  return wake;
}

void ProbeRunner::take(Datagram* batch, int count, int64_t now, Outbox&) {
  for (int i = 0; i < count; ++i) answer(batch[i], now);
}

void ProbeRunner::watch(std::vector<pollfd>* fds) {
  watching.clear();
  for (Path* path : controlling) {
    if (path->setupFd < 0) continue;
    watching.push_back(path);
    fds->push_back(pollEntry(path->setupFd, path->connecting ? POLLOUT : POLLIN));
  }
}

void ProbeRunner::serviceWatched(const std::vector<pollfd>& fds, int64_t now) {
  for (size_t i = 0; i < watching.size(); ++i) {
    if (fds[i].revents != 0) serviceSetup(*watching[i], fds[i].revents, now, *env);
  }
}

std::vector<TeskProbePathStatus> ProbeRunner::status() const {
  std::lock_guard<std::mutex> lock(statusMutex);
  return published;
}
