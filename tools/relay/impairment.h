#ifndef PULVO_RELAY_IMPAIRMENT_H
#define PULVO_RELAY_IMPAIRMENT_H

// What the relay does to each datagram: a pure, seeded decision engine.
// Times are microseconds on the relay's monotonic clock.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct ImpairmentSettings {
  uint64_t seed = 1;
  // Loss.
  double lossProbability = 0.0;
  uint32_t lossFrom = 0, lossTo = UINT32_MAX;  // sequence numbers the random loss applies to
  bool gilbertElliott = false;
  double geGoodToBad = 0.0, geBadToGood = 1.0;  // per packet transition probabilities
  double geLossGood = 0.0, geLossBad = 1.0;     // loss probability in each state
  uint32_t dropEvery = 0;                        // with dropRun: the last dropRun of every dropEvery sequence numbers
  uint32_t dropRun = 1;
  std::vector<uint32_t> dropSequences;
  // Delay.
  int64_t delayMicros = 0;
  int64_t jitterMicros = 0;  // uniform in [-jitter, +jitter] on top of the delay
  uint32_t jitterFrom = 0, jitterTo = UINT32_MAX;  // sequence numbers the jitter applies to
  std::vector<int64_t> alternatingMicros;  // extra delay by sequence number, cycling
  uint32_t stepFromSequence = 0;           // with stepMicros: extra delay from this packet on
  int64_t stepMicros = 0;
  bool allowReorder = false;  // jittered packets may overtake each other
  // Explicit reordering.
  // Packets n*swapEvery+swapOffset and the one after trade places.
  uint32_t swapEvery = 0;
  uint32_t swapOffset = 0;
  double reorderProbability = 0.0;
  int64_t reorderHoldMicros = 50000;  // how long a reordered packet is held back
  // Duplication and truncation.
  double duplicateProbability = 0.0;
  int truncateLength = -1;  // bytes kept of every impaired datagram; -1 keeps all
  // Whether RTP datagrams (version 2) count as data packets, numbered by
  // their 16-bit RTP sequence number: real voice streams through the relay.
  bool rtp = false;
  // Whether STAMP test packets (RFC 8762, 44 bytes or more) count as data
  // packets, numbered by their first field: the session-sender's sequence
  // number on the way out, the reflector's on the way back.
  bool stamp = false;
  // Whether datagrams that are not data packets (end-of-stream packets,
  // foreign datagrams) are impaired too.
  bool impairAll = false;
  // With impairAll: datagrams shorter than this pass untouched (keeps the
  // handshakes of other tools intact).
  size_t impairMinLength = 0;
};

// What the relay did with a datagram, as its truth record names it.
enum class RelayAction { Drop, Forward, Truncate, Duplicate, Swap, Reorder };
// "drop", "forward", "truncate", "duplicate", "swap", "reorder".
const char* RelayActionName(RelayAction action);

struct Departure {
  int64_t atMicros;
  size_t length;  // bytes of the datagram sent
  RelayAction action;  // any but Drop
};

struct Decision {
  bool dataPacket = false;
  bool endOfStream = false;
  int64_t sequence = -1;  // -1 when the datagram is not a test packet
  bool dropped = false;
  bool held = false;  // kept back to swap places with the next packet
  // Swap departures carry the held datagram, all others this one.
  std::vector<Departure> departures;
};

class Impairment {
 public:
  explicit Impairment(const ImpairmentSettings& settings);

  // Decides the fate of one datagram that arrived at `arrivalMicros`.
  Decision Decide(const uint8_t* data, size_t length, int64_t arrivalMicros);

  // A packet held for a swap leaves when its partner has; if none comes,
  // this is when it leaves anyway (0 when nothing is held).
  int64_t HeldDeadline() const { return held ? heldDeadline : 0; }
  // Releases the held packet; its departure time is `nowMicros`.
  bool ReleaseHeld(int64_t nowMicros, Departure* departure);

 private:
  bool Lose(uint32_t sequence);
  int64_t Delay(uint32_t sequence);

  ImpairmentSettings s;
  std::mt19937_64 random;
  std::uniform_real_distribution<double> uniform{0.0, 1.0};
  bool geBad = false;
  int64_t lastDeparture = 0;
  bool held = false;
  int64_t heldDeadline = 0;
  size_t heldLength = 0;
};

#endif  // PULVO_RELAY_IMPAIRMENT_H
