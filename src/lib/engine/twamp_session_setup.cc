#include "twamp_session_setup.h"

#include "tcp_socket.h"
#include "tesk_errors.h"

namespace {

// Writes all of `bytes` (a few control messages), waiting for room.
bool writeAll(Environment& env, int fd, const std::string& bytes, int64_t deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    const long n = env.writeTcp(fd, reinterpret_cast<const uint8_t*>(bytes.data()) + done,
                                bytes.size() - done);
    if (n < 0 && n != kTcpNothing) return false;
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    const int64_t left = deadline - env.monotonicMicros();
    if (left <= 0) return false;
    pollfd watch = pollEntry(fd, POLLOUT);
    bool datagram = false;
    if (env.waitForAny(&watch, 1, static_cast<uint32_t>(left / 1000 + 1), &datagram) !=
        Environment::Wait::Readable) {
      return false;
    }
  }
  return true;
}

// Notes why a step failed in *why; its error code.
int failed(int code, const std::string& words, std::string* why) {
  *why = words;
  return code;
}

// Reads away a datagram that came before the session: it gets no answer,
// and must not wake the wait again.
void dropStrayDatagram(Environment& env) {
  uint8_t scrap[64];
  Datagram stray;
  stray.data = scrap;
  stray.capacity = sizeof scrap;
  env.receiveBatch(&stray, 1);
}

// What the server sent: read, given to the client and its replies written.
// 0, or the error code with *why.
int takeServerBytes(Environment& env, int fd, TwampControlClient& client, int64_t deadline,
                    const std::string& where, std::string* why) {
  uint8_t buffer[512];
  const long n = env.readTcp(fd, buffer, sizeof buffer);
  if (n == kTcpNothing) return 0;
  if (n <= 0) {
    return failed(ANSWER_ERROR,
                  "the reflector closed the TWAMP control connection (" + where +
                      ") before the session started",
                  why);
  }
  std::string out;
  const TwampControlClient::State state =
      client.receive(buffer, static_cast<size_t>(n), env.monotonicMicros() / 1e6, &out);
  if (!out.empty() && !writeAll(env, fd, out, deadline)) {
    return failed(SOCKET_ERROR, "cannot write to the TWAMP control connection to " + where, why);
  }
  if (state == TwampControlClient::State::Failed) {
    return failed(ANSWER_ERROR, "TWAMP control (" + where + "): " + client.failure(), why);
  }
  return 0;
}

// Waits for the connection to `where` to open, then runs the client on it
// until its session runs, within `timeoutMs`: 0, or the error code with *why.
int runControlExchange(Environment& env, int fd, const std::string& where,
                       TwampControlClient& client, uint32_t timeoutMs, std::string* why) {
  const int64_t deadline = env.monotonicMicros() + int64_t{timeoutMs} * 1000;
  bool connected = false;
  for (;;) {
    const int64_t left = deadline - env.monotonicMicros();
    if (left <= 0) {
      return failed(TIMEOUT_ERROR,
                    std::string(connected ? "no answer" : "no connection") +
                        " on the TWAMP control connection to " + where + " within " +
                        std::to_string(timeoutMs / 1000) + " s",
                    why);
    }
    pollfd watch = pollEntry(fd, connected ? POLLIN : POLLOUT);
    bool datagram = false;
    const Environment::Wait wait =
        env.waitForAny(&watch, 1, static_cast<uint32_t>(left / 1000 + 1), &datagram);
    if (wait == Environment::Wait::StopRequested) {
      return failed(TIMEOUT_ERROR, "stopped before the TWAMP session started", why);
    }
    if (wait == Environment::Wait::Failed) {
      return failed(SOCKET_ERROR, "error waiting on the TWAMP control connection", why);
    }
    if (wait != Environment::Wait::Readable) continue;
    if (watch.revents == 0) {
      dropStrayDatagram(env);
      continue;
    }
    if (!connected) {
      std::string error;
      if (!env.tcpConnected(fd, &error)) {
        return failed(SOCKET_ERROR,
                      "cannot open a TWAMP control connection to " + where + ": " + error, why);
      }
      connected = true;
      continue;
    }
    const int code = takeServerBytes(env, fd, client, deadline, where, why);
    if (code != 0) return code;
    if (client.state() == TwampControlClient::State::Running) return 0;
  }
}

}  // namespace

int startTwampSession(Environment& env, const SocketAddress& server,
                      const TwampSessionRequest& request, uint32_t timeoutMs,
                      TwampSession* session) {
  const std::string where = formatAddressAndPort(server);
  std::string error;
  const int fd = env.startTcpConnect(server, &error);
  if (fd < 0) {
    env.failure().note("Call: cannot open a TWAMP control connection to " + where + ": " + error);
    return SOCKET_ERROR;
  }
  TwampControlClient client(request);
  std::string why;
  const int code = runControlExchange(env, fd, where, client, timeoutMs, &why);
  if (code != 0) {
    env.closeTcp(fd);
    env.failure().note("Call: " + why);
    return code;
  }
  session->fd = fd;
  session->testPort = client.reflectorPort();
  session->stop = client.stopSessions();
  return 0;
}

void stopTwampSession(Environment& env, TwampSession* session) {
  if (session->fd < 0) return;
  // The reflector answers what is still on its way for the session's
  // time-out after the stop; a server that takes no more is closed anyway.
  writeAll(env, session->fd, session->stop, env.monotonicMicros() + 1000000);
  env.closeTcp(session->fd);
  session->fd = -1;
}
