#include "datagram_batch.h"

// One datagram a call: the socket is readable, so the one receive does not
// block, and the caller comes back for the next.
int receiveDatagrams(int socketFd, Datagram* batch, int count) {
  if (count <= 0) return 0;
  const long length =
      receiveDatagram(socketFd, batch[0].data, batch[0].capacity, &batch[0].peer, &batch[0].arrival,
                      &batch[0].marks);
  if (length < 0) return -1;
  batch[0].length = static_cast<size_t>(length);
  return 1;
}

int sendDatagrams(int socketFd, const Datagram* batch, int count) {
  int sent = 0;
  for (int i = 0; i < count; ++i) {
    if (sendDatagram(socketFd, batch[i].data, batch[i].length, batch[i].peer) >= 0) sent++;
  }
  return count == 0 || sent > 0 ? sent : -1;
}
