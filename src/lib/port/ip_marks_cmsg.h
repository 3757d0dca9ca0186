#ifndef TESK_IP_MARKS_CMSG_H
#define TESK_IP_MARKS_CMSG_H

// The class and TTL in a received message's control data, and a send's
// own class as control data: the POSIX socket calls' half of ip_marks.h.

#include <sys/socket.h>

#include <cstddef>

#include "ip_marks.h"

// Room for the arrival stamp and the marks a socket may report.
constexpr size_t kReceiveControlSpace = CMSG_SPACE(sizeof(struct timeval)) + 4 * CMSG_SPACE(sizeof(int));
// Room for one datagram's class and TTL.
constexpr size_t kSendControlSpace = 2 * CMSG_SPACE(sizeof(int));

// Fills what `message`'s control data says; the rest stays as it was.
void readIpMarks(msghdr& message, IpMarks* marks);
// Puts a datagram's own marks (those not -1) for its way to `peer` into
// `space` (kSendControlSpace bytes): the control length to give, 0 when none.
size_t writeMarksControl(const IpMarks& marks, const sockaddr_storage& peer, char* space);

#endif  // TESK_IP_MARKS_CMSG_H
