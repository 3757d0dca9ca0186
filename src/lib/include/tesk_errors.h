#ifndef TESK_ERRORS_H
#define TESK_ERRORS_H

// Result codes of every library operation: 0 is success, the rest are
// negative and are passed up unchanged to the caller of startSender or
// startReceiver.
// Winsock defines SOCKET_ERROR as a macro (-1); a caller that included it
// first gets the library's code instead.
#ifdef SOCKET_ERROR
#undef SOCKET_ERROR
#endif
enum TeskError {
  TESK_OK = 0,
  TIMEOUT_ERROR = -1,    // the receive test saw no test packet within its time-out
  SOCKET_ERROR = -2,     // a UDP socket could not be opened, bound or used
  TIME_ERROR = -3,       // reserved; no operation returns it
  PARAMETER_ERROR = -4,  // parameter validation failed
  THREAD_ERROR = -5,     // reserved: the receive test measures on its own thread
  ANSWER_ERROR = -6,     // a call's reflector answered, but no answer could be scored
};

// The code's name as written above ("TIMEOUT_ERROR"); "UNKNOWN_ERROR" for
// any other value.
inline const char* teskErrorName(int code) {
  switch (code) {
    case TESK_OK: return "TESK_OK";
    case TIMEOUT_ERROR: return "TIMEOUT_ERROR";
    case SOCKET_ERROR: return "SOCKET_ERROR";
    case TIME_ERROR: return "TIME_ERROR";
    case PARAMETER_ERROR: return "PARAMETER_ERROR";
    case THREAD_ERROR: return "THREAD_ERROR";
    case ANSWER_ERROR: return "ANSWER_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

#endif  // TESK_ERRORS_H
