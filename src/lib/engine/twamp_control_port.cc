#include "twamp_control_port.h"

#include <cmath>

#include "tcp_socket.h"
#include "tesk_errors.h"
#include "tesk_log.h"

namespace {

// A client that has not taken this much of its replies is not reading them.
constexpr size_t kMostUnsent = 64 * 1024;

}  // namespace

int TwampControlPort::open(Environment& env, const SocketAddress& local) {
  std::string error;
  listener = env.openTcpListener(local, &error);
  if (listener < 0) {
    env.failure().note("Reflector: cannot serve TWAMP control on " + formatAddressAndPort(local) +
                       ": " + error);
    return SOCKET_ERROR;
  }
  return 0;
}

std::vector<pollfd>& TwampControlPort::watched() {
  fds.clear();
  fdLinks.clear();
  fds.push_back(pollEntry(listener, POLLIN));
  for (const auto& entry : links) {
    fds.push_back(pollEntry(entry.second.fd, POLLIN | (entry.second.out.empty() ? 0 : POLLOUT)));
    fdLinks.push_back(entry.first);
  }
  return fds;
}

bool TwampControlPort::flush(Environment& env, Link& link) {
  while (!link.out.empty()) {
    const long n = env.writeTcp(link.fd, reinterpret_cast<const uint8_t*>(link.out.data()),
                                link.out.size());
    if (n == kTcpNothing) break;
    if (n < 0) return false;
    link.out.erase(0, static_cast<size_t>(n));
  }
  return link.out.size() <= kMostUnsent;
}

void TwampControlPort::drop(Environment& env, uint64_t id) {
  auto link = links.find(id);
  if (link == links.end()) return;
  env.closeTcp(link->second.fd);
  links.erase(link);
}

void TwampControlPort::service(Environment& env, double now) {
  for (size_t i = 0; i < fdLinks.size(); ++i) {
    const short ready = fds[i + 1].revents;
    if (ready == 0) continue;
    const uint64_t id = fdLinks[i];
    auto found = links.find(id);
    if (found == links.end()) continue;
    Link& link = found->second;
    bool keep = true;
    if ((ready & (POLLIN | POLLHUP | POLLERR)) != 0) {
      uint8_t buffer[4096];
      const long n = env.readTcp(link.fd, buffer, sizeof buffer);
      if (n == kTcpClosed || n == kTcpFailed) {
        control.close(id);
        keep = false;
      } else if (n > 0) {
        keep = control.receive(id, buffer, static_cast<size_t>(n), now, &link.out);
      }
    }
    // What the server said last goes out before a connection it ends closes.
    if (!flush(env, link)) {
      control.close(id);
      keep = false;
    }
    if (!keep) drop(env, id);
  }
  if (!fds.empty() && (fds[0].revents & POLLIN) != 0) {
    // A burst of clients is taken a few at a time, the test packets between.
    for (int i = 0; i < 16; ++i) {
      SocketAddress peer;
      const int fd = env.acceptTcp(listener, &peer);
      if (fd < 0) break;
      std::string greeting;
      const uint64_t id = control.open(peer, now, &greeting);
      Link link{fd, greeting};
      const bool sent = flush(env, link);
      if (id == 0 || !sent) {
        if (id != 0) control.close(id);
        env.closeTcp(fd);
        continue;
      }
      links.emplace(id, std::move(link));
    }
  }
  for (uint64_t id : control.expire(now)) drop(env, id);
}

uint32_t TwampControlPort::msUntilDue(double now) const {
  const double due = control.nextDeadline() - now;
  if (!(due < 3600)) return 3600 * 1000;
  return due <= 0 ? 0 : static_cast<uint32_t>(std::ceil(due * 1000));
}

void TwampControlPort::close(Environment& env) {
  for (auto& entry : links) {
    control.close(entry.first);
    env.closeTcp(entry.second.fd);
  }
  links.clear();
  if (listener >= 0) env.closeTcp(listener);
  listener = -1;
}
