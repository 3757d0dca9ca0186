#ifndef TESK_PAYLOAD_MAP_H
#define TESK_PAYLOAD_MAP_H

// A stream's received packets, ordered by their arrival (time of day in
// seconds). Packets that arrive in the same microsecond are all kept, in the
// order they were handed in: a burst released after a stall reaches the
// socket faster than the clock ticks, and the socket (or the capture) has
// already put it in order.
//
// Packets nearly always arrive in order and leave from the oldest end, so
// they are kept in one deque: adding the newest and dropping the oldest take
// constant time, a window pass walks contiguous memory and no packet is a
// heap node of its own. A packet stamped before the newest (a capture
// written out of order) is moved to its place, after those of its own time.

#include <algorithm>
#include <deque>
#include <utility>

#include "packet.h"

class PayloadMap {
 public:
  using value_type = std::pair<double, Payload>;
  using iterator = std::deque<value_type>::iterator;
  using const_iterator = std::deque<value_type>::const_iterator;

  void add(double arrival, const Payload& payload) {
    if (packets.empty() || packets.back().first <= arrival) {
      packets.emplace_back(arrival, payload);
      return;
    }
    auto place = std::upper_bound(
        packets.begin(), packets.end(), arrival,
        [](double key, const value_type& packet) { return key < packet.first; });
    packets.emplace(place, arrival, payload);
  }

  // Erasing the oldest packet leaves every other iterator valid.
  iterator erase(iterator packet) { return packets.erase(packet); }
  void clear() { packets.clear(); }

  iterator begin() { return packets.begin(); }
  iterator end() { return packets.end(); }
  const_iterator begin() const { return packets.begin(); }
  const_iterator end() const { return packets.end(); }
  size_t size() const { return packets.size(); }
  bool empty() const { return packets.empty(); }

 private:
  std::deque<value_type> packets;
};

#endif  // TESK_PAYLOAD_MAP_H
