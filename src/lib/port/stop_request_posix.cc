// Linux and macOS: a pipe whose read end becomes readable at the stop request
// and is never drained, since a stop request is never withdrawn.
#include <fcntl.h>
#include <unistd.h>

#include "stop_request.h"

namespace {

struct WakePipe {
  // Made before main, so that a signal handler never has to create it.
  WakePipe() {
    if (pipe(fds) != 0) {
      fds[0] = fds[1] = -1;
      return;
    }
    for (int fd : fds) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  }
  int fds[2] = {-1, -1};
};

WakePipe wakePipe;

}  // namespace

int stopRequestWakeFd() { return wakePipe.fds[0]; }

void signalStopRequestWake() {
  if (wakePipe.fds[1] < 0) return;
  const char byte = 1;
  // A full pipe is readable already; nothing else can go wrong that matters.
  [[maybe_unused]] const ssize_t written = write(wakePipe.fds[1], &byte, 1);
}
