#ifndef TESK_IP_MARKS_H
#define TESK_IP_MARKS_H

// The two IP header fields a two-way test reads and sets per datagram: the
// traffic class byte (the DSCP in its high six bits, ECN in its low two;
// IPv4's type of service, IPv6's traffic class) and the TTL (IPv6's hop
// limit). A voice path is judged by whether its packets keep their class,
// and a hop count that changes is a path that changed.

struct IpMarks {
  int tos = -1;  // -1: unknown, or (to send) the socket's own
  int ttl = -1;
};

inline int dscpOfTos(int tos) { return tos < 0 ? -1 : (tos >> 2) & 0x3F; }
inline int ecnOfTos(int tos) { return tos < 0 ? -1 : tos & 0x3; }

// Asks the system to report the class and TTL each datagram arrives with
// (on a dual-stack socket, for IPv4 and IPv6 peers alike); the receive
// calls then fill them in. False where the system cannot.
bool reportIpMarks(int socketFd);
// Every datagram the socket sends from now on goes with these marks (a
// field of -1 is left as it is). False when the system refused one.
bool setIpMarks(int socketFd, const IpMarks& marks);

#endif  // TESK_IP_MARKS_H
