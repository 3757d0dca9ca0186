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
  const int64_t deadline = env.monotonicMicros() + int64_t{timeoutMs} * 1000;
  const auto fail = [&](int code, const std::string& why) {
    env.closeTcp(fd);
    env.failure().note("Call: " + why);
    return code;
  };
  TwampControlClient client(request);
  bool connected = false;
  for (;;) {
    const int64_t left = deadline - env.monotonicMicros();
    if (left <= 0) {
      return fail(TIMEOUT_ERROR, std::string(connected ? "no answer" : "no connection") +
                                     " on the TWAMP control connection to " + where + " within " +
                                     std::to_string(timeoutMs / 1000) + " s");
    }
    pollfd watch = pollEntry(fd, connected ? POLLIN : POLLOUT);
    bool datagram = false;
    const Environment::Wait wait =
        env.waitForAny(&watch, 1, static_cast<uint32_t>(left / 1000 + 1), &datagram);
    if (wait == Environment::Wait::StopRequested) {
      return fail(TIMEOUT_ERROR, "stopped before the TWAMP session started");
    }
    if (wait == Environment::Wait::Failed) {
      return fail(SOCKET_ERROR, "error waiting on the TWAMP control connection");
    }
    if (wait != Environment::Wait::Readable) continue;
    if (watch.revents == 0) {
      // A datagram before the session: no answer of it, and not to wake on again.
      uint8_t scrap[64];
      Datagram stray;
      stray.data = scrap;
      stray.capacity = sizeof scrap;
      env.receiveBatch(&stray, 1);
      continue;
    }
    if (!connected) {
      if (!env.tcpConnected(fd, &error)) {
        return fail(SOCKET_ERROR,
                    "cannot open a TWAMP control connection to " + where + ": " + error);
      }
      connected = true;
      continue;
    }
    uint8_t buffer[512];
    const long n = env.readTcp(fd, buffer, sizeof buffer);
    if (n == kTcpNothing) continue;
    if (n <= 0) {
      return fail(ANSWER_ERROR, "the reflector closed the TWAMP control connection (" + where +
                                    ") before the session started");
    }
    std::string out;
    const TwampControlClient::State state =
        client.receive(buffer, static_cast<size_t>(n), env.monotonicMicros() / 1e6, &out);
    if (!out.empty() && !writeAll(env, fd, out, deadline)) {
      return fail(SOCKET_ERROR, "cannot write to the TWAMP control connection to " + where);
    }
    if (state == TwampControlClient::State::Failed) {
      return fail(ANSWER_ERROR, "TWAMP control (" + where + "): " + client.failure());
    }
    if (state == TwampControlClient::State::Running) break;
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
