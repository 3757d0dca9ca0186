#ifndef TESK_TWAMP_SESSION_SETUP_H
#define TESK_TWAMP_SESSION_SETUP_H

// A caller's TWAMP test session on a reflector that answers only sessions
// set up over TWAMP-Control (RFC 5357): the control connection is opened
// and the session requested and started before the first test packet, and
// stopped after the last. Each step waits through the environment, so that
// a stop request ends it at once and a silent server costs the time-out.

#include <cstdint>
#include <string>

#include "environment.h"
#include "twamp_control.h"

struct TwampSession {
  int fd = -1;           // the control connection, kept open while the session runs
  uint16_t testPort = 0;  // where the reflector takes the session's test packets
  std::string stop;       // the Stop-Sessions message
};

// Opens the control connection to `server` and sets up and starts the
// session `request` describes, within `timeoutMs`: 0, or SOCKET_ERROR (no
// connection), TIMEOUT_ERROR (the server fell silent) or ANSWER_ERROR (it
// refused), the reason noted in the environment's failure. Nothing is left
// open on failure.
int startTwampSession(Environment& env, const SocketAddress& server,
                      const TwampSessionRequest& request, uint32_t timeoutMs,
                      TwampSession* session);
// Stops the session (Stop-Sessions) and closes the connection.
void stopTwampSession(Environment& env, TwampSession* session);

#endif  // TESK_TWAMP_SESSION_SETUP_H
