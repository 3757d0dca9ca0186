#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stamp_packet.h"
#include "stamp_reflector.h"

namespace {

SocketAddress From(const char* address, uint16_t port) {
  SocketAddress a;
  EXPECT_TRUE(makeSocketAddress(address, port, &a)) << address;
  return a;
}

std::vector<uint8_t> SenderPacket(uint32_t seq, uint16_t ssid, size_t length) {
  StampSenderPacket p;
  p.sequence = seq;
  p.timestamp = ntpFromTimeOfDay(TimeOfDay{1700000000, 250000});
  p.errorEstimate.synchronized = true;
  p.ssid = ssid;
  std::vector<uint8_t> bytes(length);
  encodeStampSender(p, length, bytes.data());
  return bytes;
}

// NTP time and the fields of both packets, at the byte offsets of RFC 8762.
TEST(StampPacketTest, FieldsSitWhereTheRfcPutsThem) {
  // 2023-11-14T22:13:20.25Z: 1700000000 + 2208988800 seconds since 1900.
  const uint64_t ntp = ntpFromTimeOfDay(TimeOfDay{1700000000, 250000});
  EXPECT_EQ(ntp >> 32, 3908988800u);
  EXPECT_EQ(ntp & 0xFFFFFFFFu, 0x40000000u);
  const TimeOfDay back = timeOfDayFromNtp(ntp);
  EXPECT_EQ(back.sec, 1700000000);
  EXPECT_EQ(back.usec, 250000);

  const std::vector<uint8_t> sender = SenderPacket(0x01020304, 0xBEEF, 160);
  EXPECT_EQ(sender[0], 0x01);
  EXPECT_EQ(sender[3], 0x04);
  EXPECT_EQ(sender[12], 0x80);  // S set, Z clear, scale 0
  EXPECT_EQ(sender[13], 1);     // multiplier
  EXPECT_EQ(sender[14], 0xBE);
  EXPECT_EQ(sender[15], 0xEF);
  for (size_t i = 16; i < 44; ++i) EXPECT_EQ(sender[i], 0) << i;  // MBZ
  // Extra Padding TLV: flags 0, type 1, length 160 - 44 - 4.
  EXPECT_EQ(sender[44], 0);
  EXPECT_EQ(sender[45], kStampTlvExtraPadding);
  EXPECT_EQ(sender[46] << 8 | sender[47], 112);
  StampSenderPacket decoded;
  ASSERT_TRUE(decodeStampSender(sender.data(), sender.size(), &decoded));
  EXPECT_EQ(decoded.sequence, 0x01020304u);
  EXPECT_EQ(decoded.ssid, 0xBEEF);
  EXPECT_TRUE(decoded.errorEstimate.synchronized);
  EXPECT_TRUE(decodeStampSender(sender.data(), 41, &decoded));  // TWAMP-Light's shortest
  EXPECT_FALSE(decodeStampSender(sender.data(), 40, &decoded));
}

// A reflection: the same length, its own sequence per session, the sender's
// fields copied, T2 the arrival, TLVs returned (an unknown one flagged U, a
// TLV that runs past the end flagged M).
TEST(StampReflectorTest, AnswersInKindAndCountsPerSession) {
  StampReflector reflector{ReflectorLimits{}};
  const SocketAddress a = From("192.0.2.1", 40000), b = From("2001:db8::1", 40000);
  const TimeOfDay arrival{1700000000, 500000};
  std::vector<uint8_t> out(200);
  for (uint32_t seq = 10; seq < 13; ++seq) {
    const std::vector<uint8_t> in = SenderPacket(seq, 7, 160);
    ASSERT_EQ(reflector.answer(in.data(), in.size(), a, arrival, out.data()), 160u);
    StampReflectorPacket reply;
    ASSERT_TRUE(decodeStampReflector(out.data(), 160, &reply));
    EXPECT_EQ(reply.sequence, seq - 10);  // the reflector's own count
    EXPECT_EQ(reply.senderSequence, seq);
    EXPECT_EQ(reply.ssid, 7);
    EXPECT_EQ(reply.receiveTimestamp, ntpFromTimeOfDay(arrival));
    EXPECT_EQ(reply.senderTimestamp, ntpFromTimeOfDay(TimeOfDay{1700000000, 250000}));
    EXPECT_TRUE(reply.senderErrorEstimate.synchronized);
    EXPECT_EQ(out[45], kStampTlvExtraPadding);
    EXPECT_EQ(out[44], 0);  // padding is understood
  }
  // Another address, another session identifier: sessions of their own.
  std::vector<uint8_t> in = SenderPacket(99, 7, 44);
  ASSERT_EQ(reflector.answer(in.data(), in.size(), b, arrival, out.data()), 44u);
  StampReflectorPacket reply;
  decodeStampReflector(out.data(), 44, &reply);
  EXPECT_EQ(reply.sequence, 0u);
  in = SenderPacket(5, 8, 44);
  reflector.answer(in.data(), in.size(), a, arrival, out.data());
  decodeStampReflector(out.data(), 44, &reply);
  EXPECT_EQ(reply.sequence, 0u);
  EXPECT_EQ(reflector.sessions(), 3u);

  in = SenderPacket(1, 7, 60);
  in[44] = 0;
  in[45] = 42;        // unknown type
  in[46] = 0, in[47] = 4;
  in[52] = 0, in[53] = 1, in[54] = 0, in[55] = 9;  // second TLV runs past the end
  ASSERT_EQ(reflector.answer(in.data(), in.size(), a, arrival, out.data()), 60u);
  EXPECT_EQ(out[44], kStampTlvUnrecognized);
  EXPECT_EQ(out[52], kStampTlvMalformed);

  reflector.finish(out.data(), TimeOfDay{1700000001, 0});
  decodeStampReflector(out.data(), 60, &reply);
  EXPECT_EQ(reply.timestamp, ntpFromTimeOfDay(TimeOfDay{1700000001, 0}));
}

// A request that asks for the reflector's counts (RFC 8972's Direct
// Measurement TLV, then the padding) gets them back: its session's requests
// received and answers sent, this one included.
TEST(StampReflectorTest, FillsInTheDirectMeasurementCounts) {
  StampReflector reflector{ReflectorLimits{}};
  std::vector<uint8_t> out(160);
  for (uint32_t seq = 0; seq < 3; ++seq) {
    StampSenderPacket p;
    p.sequence = seq;
    p.directMeasurement = true;
    p.transmitted = seq + 1;
    std::vector<uint8_t> in(160);
    encodeStampSender(p, in.size(), in.data());
    EXPECT_EQ(in[45], kStampTlvDirectMeasurement);
    EXPECT_EQ(in[61], kStampTlvExtraPadding);
    EXPECT_EQ(in[62] << 8 | in[63], 160 - 64);
    ASSERT_EQ(reflector.answer(in.data(), in.size(), From("192.0.2.1", 1), TimeOfDay{100, 0},
                               out.data()),
              160u);
    StampDirectMeasurement counts;
    ASSERT_TRUE(findStampDirectMeasurement(out.data(), out.size(), &counts));
    EXPECT_EQ(out[44], 0);  // understood: no U flag
    EXPECT_EQ(counts.senderTransmitted, seq + 1);
    EXPECT_EQ(counts.reflectorReceived, seq + 1);
    EXPECT_EQ(counts.reflectorTransmitted, seq + 1);
  }
}

// The words for how a reflector stamps, for the fields any reflector may
// send, known or not.
TEST(StampPacketTest, TimestampInformationInWords) {
  const struct {
    StampTimestampInformation info;
    const char* words;
  } cases[] = {
      {{1, 1, 1, 1}, "T2 and T3 taken in hardware, its clock synchronised to NTP"},
      {{2, 1, 2, 2}, "T2 taken in hardware, T3 taken in software, its clock synchronised to PTP"},
      {{4, 0, 4, 3}, "T3 taken in the control plane, its clock synchronised to GNSS"},
      {{0, 0, 0, 0}, ""},
      {{9, 7, 200, 255}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(describeStampTimestamps(c.info), c.words);
}

// The class and TTL a request arrived with go back in its answer: the TTL
// as the Session-Sender TTL, the class in a Class of Service TLV (DSCP2 and
// ECN, at their bits), and the answer goes with the class the TLV asks for,
// or without one with the request's own DSCP (never its ECN).
TEST(StampReflectorTest, TheRequestsClassAndTtlGoBack) {
  const struct {
    int asked;   // DSCP1, -1: no TLV
    int tos;     // as the request arrived, -1: unknown
    int ttl;
    uint8_t byte4, byte5;  // the TLV's value as answered
    int answerTos;
  } cases[] = {
      {46, 46 << 2 | 1, 250, 0xBA, 0xE4, 46 << 2},  // EF asked, arrived EF with ECT(1)
      {46, 0, 64, 0xB8, 0x00, 46 << 2},             // re-marked to 0 on the way
      {10, 63 << 2 | 3, 1, 0x2B, 0xFC, 10 << 2},    // every DSCP2 and ECN bit set
      {46, -1, -1, 0xB8, 0x00, 46 << 2},            // nothing known of the arrival
      {-1, 34 << 2 | 2, 200, 0, 0, 34 << 2},        // no TLV: the request's own class
      {-1, -1, -1, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "asked " << c.asked << ", tos " << c.tos);
    StampReflector reflector{ReflectorLimits{}};
    StampSenderPacket p;
    p.directMeasurement = true;
    p.classOfService = c.asked;
    p.timestampInformation = true;
    std::vector<uint8_t> in(160), out(160);
    encodeStampSender(p, in.size(), in.data());
    int answerTos = 99;
    ASSERT_EQ(reflector.answer(in.data(), in.size(), From("192.0.2.1", 1), TimeOfDay{100, 0},
                               out.data(), IpMarks{c.tos, c.ttl}, &answerTos),
              160u);
    EXPECT_EQ(answerTos, c.answerTos);
    StampReflectorPacket reply;
    ASSERT_TRUE(decodeStampReflector(out.data(), out.size(), &reply));
    EXPECT_TRUE(reply.senderTtlKnown);
    EXPECT_EQ(reply.senderTtl, c.ttl < 0 ? 255 : c.ttl);
    // How T2 and T3 are taken, after the class (or the counts).
    StampTimestampInformation stamps;
    ASSERT_TRUE(findStampTimestampInformation(out.data(), out.size(), &stamps));
    EXPECT_EQ(describeStampTimestamps(stamps), "T2 and T3 taken in software, its clock free-running");
    StampClassOfService cos;
    ASSERT_EQ(findStampClassOfService(out.data(), out.size(), &cos), c.asked >= 0);
    if (c.asked < 0) continue;
    EXPECT_EQ(out[60], 0);  // understood: no U flag
    EXPECT_EQ(out[61], kStampTlvClassOfService);
    EXPECT_EQ(out[64], c.byte4);
    EXPECT_EQ(out[65], c.byte5);
    EXPECT_EQ(cos.dscpAsked, c.asked);
    EXPECT_EQ(cos.dscpReceived, c.tos < 0 ? 0 : c.tos >> 2);
    EXPECT_EQ(cos.ecnReceived, c.tos < 0 ? 0 : c.tos & 3);
    EXPECT_FALSE(cos.notHonoured || cos.unrecognized);
  }
}

// A full TWAMP session's test packets (set up over TWAMP-Control): from the
// sender's 14 bytes, answered with 41 at least or in their own size, the
// padding returned as it came, numbered by the session's count, in the
// session's class or else the request's own; shorter ones are refused.
TEST(StampReflectorTest, TwampSessionPacketsAreAnsweredFromFourteenBytes) {
  StampReflector reflector{ReflectorLimits{}};
  uint32_t nextSequence = 7;
  const struct {
    size_t length;
    int sessionDscp, tos;
    size_t answered;
    int answerTos;
  } cases[] = {
      {14, 46, 0, 41, 46 << 2}, {41, -1, 34 << 2 | 1, 41, 34 << 2},
      {172, 0, 46 << 2, 172, 0}, {13, 46, 0, 0, 99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> in = SenderPacket(42, 0xABCD, std::max<size_t>(c.length, 44));
    in.resize(c.length);
    for (size_t i = 14; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i);  // padding
    std::vector<uint8_t> out(200, 0xEE);
    int answerTos = 99;
    const uint32_t before = nextSequence;
    ASSERT_EQ(reflector.answerTwamp(in.data(), in.size(), TimeOfDay{100, 0}, out.data(),
                                    &nextSequence, c.sessionDscp, IpMarks{c.tos, 60}, &answerTos),
              c.answered);
    EXPECT_EQ(answerTos, c.answerTos);
    if (c.answered == 0) continue;
    StampReflectorPacket reply;
    ASSERT_TRUE(decodeStampReflector(out.data(), c.answered, &reply));
    EXPECT_EQ(reply.sequence, before);
    EXPECT_EQ(nextSequence, before + 1);
    EXPECT_EQ(reply.senderSequence, 42u);
    EXPECT_EQ(reply.ssid, 0);  // MBZ in TWAMP, whatever the padding held there
    EXPECT_EQ(reply.senderTtl, 60);
    for (size_t i = 41; i < c.answered; ++i) EXPECT_EQ(out[i], i < c.length ? i & 0xFF : 0) << i;
    EXPECT_EQ(out[c.answered], 0xEE);
  }
  EXPECT_EQ(reflector.counters().tooShort, 1u);
}

// TWAMP-Light senders (RFC 5357 section 4.2.1): from 41 bytes, each request
// answered in its own size with every field that fits (the sender's TTL is
// the 41st byte), and padding that is no TLV returned as it came.
TEST(StampReflectorTest, TwampLightRequestsAreAnsweredInTheirOwnSize) {
  StampReflector reflector{ReflectorLimits{}};
  const SocketAddress a = From("192.0.2.1", 40000);
  const TimeOfDay arrival{1700000000, 500000};
  for (size_t length : {41, 42, 43, 44, 47, 48, 64}) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> in = SenderPacket(3, 0, 64);
    in.resize(length);
    for (size_t i = 44; i < length; ++i) in[i] = i % 2 == 0 || i == 45 ? 0 : static_cast<uint8_t>(i);
    std::vector<uint8_t> out(length + 1, 0xAA);
    ASSERT_EQ(reflector.answer(in.data(), length, a, arrival, out.data()), length);
    EXPECT_EQ(out[length], 0xAA);  // never longer than the request
    StampReflectorPacket reply;
    ASSERT_TRUE(decodeStampReflector(out.data(), length, &reply));
    EXPECT_EQ(reply.senderSequence, 3u);
    EXPECT_TRUE(reply.senderErrorEstimate.synchronized);
    for (size_t i = 44; i < length; ++i) EXPECT_EQ(out[i], in[i]) << i;
  }
  EXPECT_EQ(reflector.counters().reflected, 7u);
}

// A sender that starts again from the same address and port (its numbers
// back to 0) is answered from 0 again; a late copy of its first request is
// not taken for a restart.
TEST(StampReflectorTest, ASenderThatStartsAgainIsANewSession) {
  StampReflector reflector{ReflectorLimits{}};
  const SocketAddress a = From("192.0.2.1", 40000);
  std::vector<uint8_t> out(64);
  auto answerTo = [&](uint32_t seq) {
    const std::vector<uint8_t> in = SenderPacket(seq, 7, 44);
    EXPECT_EQ(reflector.answer(in.data(), in.size(), a, TimeOfDay{1700000000, 0}, out.data()), 44u);
    StampReflectorPacket reply;
    decodeStampReflector(out.data(), 44, &reply);
    return reply.sequence;
  };
  EXPECT_EQ(answerTo(0), 0u);
  EXPECT_EQ(answerTo(0), 1u);  // a copy
  for (uint32_t seq = 1; seq < 100; ++seq) answerTo(seq);
  EXPECT_EQ(answerTo(100), 101u);
  EXPECT_EQ(answerTo(0), 0u);  // started again
  EXPECT_EQ(answerTo(1), 1u);
  EXPECT_EQ(reflector.sessions(), 1u);
}

// About 990 datagrams a second from one address, each a new session (random
// ports and identifiers), under the per-source rate: they take a quarter of
// a default table at most, and a call from another address that starts in
// the middle of the flood gets every answer.
TEST(StampReflectorTest, AFloodFromOneSourceLeavesRoomForOthers) {
  StampReflector reflector{ReflectorLimits{}};
  std::mt19937 random(5);
  std::vector<uint8_t> out(64);
  const SocketAddress caller = From("198.51.100.7", 40000);
  size_t answered = 0, asked = 0;
  for (int64_t ms = 0; ms < 30000; ++ms) {
    const TimeOfDay now{1700000000 + ms / 1000, (ms % 1000) * 1000};
    const std::vector<uint8_t> noise =
        SenderPacket(random(), static_cast<uint16_t>(random()), 44);
    reflector.answer(noise.data(), noise.size(),
                     From("192.0.2.66", static_cast<uint16_t>(1024 + random() % 60000)), now,
                     out.data());
    if (ms >= 12000 && ms % 20 == 0) {
      const std::vector<uint8_t> in = SenderPacket(static_cast<uint32_t>(asked++), 9, 44);
      answered += reflector.answer(in.data(), in.size(), caller, now, out.data()) == 44;
    }
    if (ms % 1000 == 0) reflector.forgetIdle(now);
  }
  EXPECT_EQ(answered, asked);
  EXPECT_LE(reflector.sessions(), 2501u);
  EXPECT_GT(reflector.counters().overSessions, 0u);
}

// Each limit refuses without an answer, and counts why.
TEST(StampReflectorTest, LimitsRefuseAndCount) {
  ReflectorLimits limits;
  limits.maxSessions = 2;
  limits.perSourceRate = 5;
  limits.idleSeconds = 10;
  ASSERT_TRUE(parseAddressPrefix("192.0.2.0/24", &limits.allowed.emplace_back()));
  ASSERT_TRUE(parseAddressPrefix("2001:db8::/32", &limits.allowed.emplace_back()));
  StampReflector reflector{limits};
  std::vector<uint8_t> out(64);
  const std::vector<uint8_t> packet = SenderPacket(1, 1, 44);
  auto send = [&](const char* address, uint16_t port, int64_t second, uint16_t ssid = 1) {
    std::vector<uint8_t> in = SenderPacket(1, ssid, 44);
    return reflector.answer(in.data(), in.size(), From(address, port), TimeOfDay{second, 0},
                            out.data());
  };
  EXPECT_EQ(send("198.51.100.1", 1, 100), 0u);  // not allowed
  EXPECT_EQ(send("2001:db9::1", 1, 100), 0u);   // not allowed
  for (int i = 0; i < 5; ++i) EXPECT_EQ(send("192.0.2.1", 1, 100), 44u);
  EXPECT_EQ(send("192.0.2.1", 1, 100), 0u);     // a sixth in the same second
  EXPECT_EQ(send("2001:db8::5", 1, 100), 44u);
  EXPECT_EQ(send("192.0.2.2", 1, 100), 0u);     // a third session while both are in a call
  EXPECT_EQ(send("192.0.2.3", 1, 101), 44u);    // a second later: the idlest makes room
  EXPECT_EQ(reflector.answer(packet.data(), 40, From("192.0.2.1", 1), TimeOfDay{101, 0},
                             out.data()),
            0u);                                 // too short
  reflector.forgetIdle(TimeOfDay{112, 0});       // both left idle for 11 s or more
  EXPECT_EQ(reflector.sessions(), 0u);
  EXPECT_EQ(send("192.0.2.2", 1, 112), 44u);
  // Each source and reason said once, however often it was refused.
  EXPECT_EQ(reflector.takeRefusals(),
            (std::vector<std::string>{
                "198.51.100.1:1: not allowed: outside the allowed prefixes",
                "[2001:db9::1]:1: not allowed: outside the allowed prefixes",
                "192.0.2.1:1: over rate: more than 5 packets a second from one address",
                "192.0.2.2:1: over sessions: the table is full of sessions in a call",
                "192.0.2.1:1: too short: 40 bytes, where a request has 41 at least"}));
  EXPECT_TRUE(reflector.takeRefusals().empty());
  const ReflectorCounters& c = reflector.counters();
  EXPECT_EQ(c.notAllowed, 2u);
  EXPECT_EQ(c.overRate, 1u);
  EXPECT_EQ(c.overSessions, 1u);
  EXPECT_EQ(c.tooShort, 1u);
  EXPECT_EQ(c.sessionsForgotten, 3u);
  EXPECT_EQ(c.reflected, 8u);
  EXPECT_EQ(c.received, 13u);

  AddressPrefix p;
  for (const char* bad : {"", "192.0.2.0/33", "2001:db8::/129", "x/8", "10.0.0.0/", "10.0.0.0/8a"}) {
    EXPECT_FALSE(parseAddressPrefix(bad, &p)) << bad;
  }
}

}  // namespace
