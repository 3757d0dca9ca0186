#include "two_way_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "stamp_packet.h"

namespace {

struct Session {
  std::vector<DirectionPacket> forward, reverse;
  std::vector<double> roundTrips;
};

// 300 packets every 20 ms; the reflector's clock 5.3 s ahead; 10 ms out and
// 15 ms back. `lostOut` never reach the reflector; the answers to `lostBack`
// never come back.
Session RunSession(const std::set<uint32_t>& lostOut, const std::set<uint32_t>& lostBack) {
  TwoWaySplit split(0, 0, 20);
  Session s;
  uint32_t answered = 0;
  for (uint32_t seq = 0; seq < 300; ++seq) {
    if (lostOut.count(seq) != 0) continue;
    const double sent = 1700000000.0 + seq * 0.02;
    Reflection r;
    r.senderSequence = seq;
    r.reflectorSequence = answered++;
    r.t1 = ntpFromTimeOfDay(TimeOfDay{static_cast<int64_t>(sent), std::lround((sent - std::floor(sent)) * 1e6)});
    const double atReflector = sent + 5.3 + 0.010;
    const TimeOfDay t2{static_cast<int64_t>(atReflector), std::lround((atReflector - std::floor(atReflector)) * 1e6)};
    r.t2 = ntpFromTimeOfDay(t2);
    r.t3 = ntpFromTimeOfDay(TimeOfDay{t2.sec, t2.usec + 50});  // 50 µs in the reflector
    const double back = sent + 0.010 + 0.00005 + 0.015;
    r.t4 = TimeOfDay{static_cast<int64_t>(back), std::lround((back - std::floor(back)) * 1e6)};
    if (r.t4.usec == 1000000) r.t4 = TimeOfDay{r.t4.sec + 1, 0};
    if (lostBack.count(seq) != 0) continue;
    split.add(r, &s.forward, &s.reverse);
    s.roundTrips.push_back(TwoWaySplit::roundTrip(r));
  }
  return s;
}

// Each direction's losses, counted apart: the forward stream lacks exactly
// the packets that never reached the reflector, the reverse stream exactly
// the answers that never came back; transit times keep no clock offset.
TEST(TwoWaySplitTest, EachDirectionCountsItsOwnLosses) {
  const struct {
    std::set<uint32_t> out, back;
    bool separateGaps;  // no gap holds losses of both directions
  } cases[] = {
      {{}, {}, true},
      {{10, 11, 12, 100}, {}, true},
      {{}, {50, 51, 200}, true},
      {{10, 11, 100}, {50, 51, 200}, true},
      {{60, 61}, {62, 63, 64}, false},  // one gap, both directions
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.out.size() << " out, " << c.back.size() << " back");
    const Session s = RunSession(c.out, c.back);
    std::set<uint32_t> timed, held;
    for (const DirectionPacket& p : s.forward) (p.payload.placeholder ? held : timed).insert(p.payload.seqNum);
    EXPECT_EQ(timed.size() + held.size() + c.out.size(), 300u);
    EXPECT_EQ(held.size(), c.back.size());
    if (c.separateGaps) {
      EXPECT_EQ(held, c.back);  // the very packets whose answers were lost
    }
    EXPECT_EQ(s.reverse.size(), 300 - c.out.size() - c.back.size());
    std::set<uint32_t> reflector;
    for (const DirectionPacket& p : s.reverse) reflector.insert(p.payload.seqNum);
    EXPECT_EQ(*reflector.rbegin() + 1 - reflector.size(), c.back.size());  // the reverse gaps

    for (const DirectionPacket& p : s.forward) {
      if (p.payload.placeholder) continue;
      const double transit = p.arrival - (p.payload.sendSec + p.payload.sendUsec / 1e6);
      EXPECT_NEAR(transit, 0.0125, 2e-6);  // half the round trip: the offset is gone
    }
    for (const DirectionPacket& p : s.reverse) {
      const double transit = p.arrival - (p.payload.sendSec + p.payload.sendUsec / 1e6);
      EXPECT_NEAR(transit, 0.0125, 2e-6);
    }
    for (double rtt : s.roundTrips) EXPECT_NEAR(rtt, 0.025, 2e-6);  // net of the 50 µs
  }
}

}  // namespace
