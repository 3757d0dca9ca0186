#ifndef TESK_DATAGRAM_BATCH_H
#define TESK_DATAGRAM_BATCH_H

// Many datagrams per system call where the system has one for it (Linux's
// recvmmsg and sendmmsg): a reflector answering thousands of sessions
// spends its time on packets, not on calls. Elsewhere one datagram a call.

#include <cstddef>
#include <cstdint>

#include "ip_marks.h"
#include "time_of_day.h"
#include "udp_socket.h"

struct Datagram {
  uint8_t* data = nullptr;
  size_t capacity = 0;  // of data
  size_t length = 0;    // received, or to send
  SocketAddress peer;   // where it came from, or goes to
  TimeOfDay arrival;    // received datagrams: when they reached the socket
  // Received: the class and TTL it arrived with, where the socket reports
  // them (reportIpMarks). To send: its own class and TTL (Linux; elsewhere
  // the socket's), -1 for the socket's.
  IpMarks marks;
};

// The datagrams waiting on a readable socket, up to `count`, without
// blocking for more: how many, or -1 on an error.
int receiveDatagrams(int socketFd, Datagram* batch, int count);
// Sends `count` datagrams, skipping any the system refuses: how many went,
// or -1 when none could.
int sendDatagrams(int socketFd, const Datagram* batch, int count);

#endif  // TESK_DATAGRAM_BATCH_H
