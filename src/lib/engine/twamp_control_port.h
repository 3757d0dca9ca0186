#ifndef TESK_TWAMP_CONTROL_PORT_H
#define TESK_TWAMP_CONTROL_PORT_H

// The reflector's TWAMP-Control service on its sockets: a listening TCP
// socket and one connection per client, each fed to the control server and
// written back without blocking. A client that stops reading, or sends
// half a message and nothing more, costs its own connection (SERVWAIT, or
// a reply it will not take) and never holds up the test packets or the
// other clients.
//
// Thread safety: none; the reflector's loop makes every call.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "environment.h"
#include "twamp_control.h"

class TwampControlPort {
 public:
  TwampControlPort(const TwampControlLimits& limits, uint16_t testPort, uint64_t startTime)
      : control(limits, testPort, startTime) {}

  // Listens on `local`: 0, or SOCKET_ERROR with the reason noted in the
  // environment's failure.
  int open(Environment& env, const SocketAddress& local);
  // The sockets to wait on, with what for: the listener, and each
  // connection (to read, and to write while a reply waits). Good until the
  // next call of service or close.
  std::vector<pollfd>& watched();
  // After a wait that filled in watched()'s revents: accepts, reads,
  // writes and closes what is ready, then lets the server expire what is
  // due. `now` is monotonic seconds.
  void service(Environment& env, double now);
  // Milliseconds until the server has something to expire (capped).
  uint32_t msUntilDue(double now) const;
  void close(Environment& env);

  TwampControlServer& server() { return control; }

 private:
  struct Link {
    int fd = -1;
    std::string out;  // replies not yet taken by the socket
  };
  void drop(Environment& env, uint64_t id);
  // Writes what waits; false when the connection failed.
  bool flush(Environment& env, Link& link);

  TwampControlServer control;
  int listener = -1;
  std::unordered_map<uint64_t, Link> links;
  std::vector<pollfd> fds;
  std::vector<uint64_t> fdLinks;  // the link of fds[i + 1]
};

#endif  // TESK_TWAMP_CONTROL_PORT_H
