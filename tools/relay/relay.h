#ifndef PULVO_RELAY_RELAY_H
#define PULVO_RELAY_RELAY_H

// The relay's event loop: receives on the listen address, lets the
// impairment decide each datagram's fate, sends what survives to the forward
// address when it is due, and writes a truth row for every datagram and copy.
// Replies from the forward side go back to the last sender: untouched, or,
// for a two-way relay, through an impairment and a truth record of their own.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "impairment.h"
#include "relay_options.h"
#include "truth_log.h"
#include "udp_socket.h"

class Relay {
 public:
  explicit Relay(const RelayOptions& options);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Opens the truth records and the socket; false with `error` set when one
  // cannot be had.
  bool Open(std::string& error);
  // Runs until `stopping` is set, the duration is over or the relay has been
  // idle long enough; then sends what is still queued.
  void Run(const std::atomic<bool>& stopping);

 private:
  struct Pending {
    std::vector<uint8_t> bytes;
    TruthRow row;
    IpMarks marks;  // the class and TTL it arrived with, which it leaves with
  };
  // One way through the relay: its impairment, its queue and its record.
  struct Way {
    Way(const ImpairmentSettings& settings, const std::string& recordPath, bool json)
        : impairment(settings), truth(recordPath, json) {}
    Impairment impairment;
    TruthLog truth;
    uint64_t index = 0;
    std::multimap<int64_t, Pending> queue;  // by departure time, arrival order among equals
    Pending held;                           // the first packet of a swap
    const SocketAddress* to = nullptr;
  };

  bool Finished(int64_t now) const;
  void SendDue(Way& way, int64_t now);
  // How long to wait for the next datagram before something is due, µs.
  int64_t WaitMicros(int64_t now) const;
  void ReceiveOne(int timeoutMs);
  void Impair(Way& way, long length, const TimeOfDay& arrival, const IpMarks& marks);
  // Sends with the class and TTL a datagram came with (Linux; elsewhere the
  // socket's): the relay is a stretch of path, not a router.
  void SendAsCame(const uint8_t* data, size_t length, const SocketAddress& to,
                  const IpMarks& marks);
  void Send(Way& way, Pending& pending, int64_t at);
  void Flush(Way& way);

  RelayOptions options;
  Way out;
  std::unique_ptr<Way> back;  // two-way relays only
  int socketFd = -1;
  SocketAddress forwardTo;
  SocketAddress lastClient;
  bool haveClient = false;
  // The clock is the time of day, as the truth rows record it.
  int64_t started = 0;
  int64_t lastArrival = 0;
  std::vector<uint8_t> buffer;
};

#endif  // PULVO_RELAY_RELAY_H
