#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "datagram_batch.h"
#include "ip_marks_cmsg.h"

namespace {

constexpr int kMaxBatch = 64;

}  // namespace

int receiveDatagrams(int socketFd, Datagram* batch, int count) {
  if (count > kMaxBatch) count = kMaxBatch;
  mmsghdr messages[kMaxBatch];
  iovec data[kMaxBatch];
  alignas(cmsghdr) char control[kMaxBatch][kReceiveControlSpace];
  std::memset(messages, 0, sizeof(mmsghdr) * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    data[i] = {batch[i].data, batch[i].capacity};
    msghdr& m = messages[i].msg_hdr;
    m.msg_name = &batch[i].peer.storage;
    m.msg_namelen = sizeof batch[i].peer.storage;
    m.msg_iov = &data[i];
    m.msg_iovlen = 1;
    m.msg_control = control[i];
    m.msg_controllen = sizeof control[i];
  }
  int received;
  do {
    received = recvmmsg(socketFd, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  const TimeOfDay now = platformTimeOfDay();
  for (int i = 0; i < received; ++i) {
    msghdr& m = messages[i].msg_hdr;
    batch[i].length = messages[i].msg_len;
    batch[i].peer.length = m.msg_namelen;
    batch[i].arrival = now;
    batch[i].marks = IpMarks{};
    readIpMarks(m, &batch[i].marks);
    // The kernel's stamp of when the datagram reached the socket, as for one.
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
        timeval stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        batch[i].arrival = TimeOfDay{stamp.tv_sec, stamp.tv_usec};
      }
    }
  }
  return received;
}

int sendDatagrams(int socketFd, const Datagram* batch, int count) {
  int done = 0, went = 0;
  while (done < count) {
    const int chunk = count - done > kMaxBatch ? kMaxBatch : count - done;
    mmsghdr messages[kMaxBatch];
    iovec data[kMaxBatch];
    alignas(cmsghdr) char control[kMaxBatch][kSendControlSpace];
    std::memset(messages, 0, sizeof(mmsghdr) * static_cast<size_t>(chunk));
    for (int i = 0; i < chunk; ++i) {
      const Datagram& d = batch[done + i];
      data[i] = {d.data, d.length};
      msghdr& m = messages[i].msg_hdr;
      m.msg_name = const_cast<sockaddr_storage*>(&d.peer.storage);
      m.msg_namelen = d.peer.length;
      m.msg_iov = &data[i];
      m.msg_iovlen = 1;
      m.msg_controllen = writeMarksControl(d.marks, d.peer.storage, control[i]);
      if (m.msg_controllen != 0) m.msg_control = control[i];
    }
    const int sent = sendmmsg(socketFd, messages, static_cast<unsigned>(chunk), 0);
    if (sent < 0 && errno == EINTR) continue;
    // A datagram the system refuses stops the call: it is skipped, and the
    // rest go in the next one.
    done += sent < 0 ? 1 : sent;
    went += sent < 0 ? 0 : sent;
  }
  return count == 0 || went > 0 ? went : -1;
}
