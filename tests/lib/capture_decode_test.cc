#include "capture_decode.h"

#include <gtest/gtest.h>

#include "rtp_stream.h"
#include "udp_socket.h"
#include "test_util.h"

namespace {

const int kLinkTypes[] = {kLinkEthernet, kLinkNull,      kLinkLoop,     kLinkLinuxSll,
                          kLinkLinuxSll2, kLinkRaw,      kLinkRawDlt,   kLinkIPv4};

// Every link type and family gives back the datagram that was wrapped; every
// shorter capture of the same frame is either cut inside a header or a
// datagram whose payload lies within what was captured.
TEST(CaptureDecodeTest, EveryLinkTypeFamilyAndCutLength) {
  const std::vector<uint8_t> payload = RtpDatagram(0, 7, 160, 0xABCD, 20);
  for (int linkType : kLinkTypes) {
    for (int family : {4, 6}) {
      SCOPED_TRACE(testing::Message() << "link " << linkType << " IPv" << family);
      const std::vector<uint8_t> frame = CaptureFrame(linkType, family, 5004, 6006, payload);
      UdpDatagram d;
      ASSERT_EQ(decodeFrame(linkType, frame.data(), frame.size(), &d), FrameKind::Udp);
      EXPECT_EQ(d.family, family);
      EXPECT_EQ(d.sourcePort, 5004);
      EXPECT_EQ(d.destinationPort, 6006);
      EXPECT_EQ(std::vector<uint8_t>(d.payload, d.payload + d.payloadLength), payload);
      EXPECT_EQ(formatEndpoint(d.family, d.source, d.sourcePort),
                family == 6 ? "[2001:db8::1]:5004" : "192.0.2.1:5004");
      const size_t headers = frame.size() - payload.size();
      for (size_t cut = 0; cut < frame.size(); ++cut) {
        UdpDatagram part;
        const FrameKind kind = decodeFrame(linkType, frame.data(), cut, &part);
        if (cut < headers) {
          EXPECT_EQ(kind, FrameKind::Truncated) << "cut at " << cut;
        } else {
          ASSERT_EQ(kind, FrameKind::Udp);
          EXPECT_EQ(part.payloadLength, cut - headers);
        }
      }
    }
  }
}

TEST(CaptureDecodeTest, WhatIsNotAWholeUdpDatagram) {
  std::vector<uint8_t> v4 = CaptureFrame(kLinkRaw, 4, 1, 2, {1, 2, 3});
  UdpDatagram d;
  std::vector<uint8_t> fragment = v4;
  fragment[6] = 0x20;  // more fragments
  EXPECT_EQ(decodeFrame(kLinkRaw, fragment.data(), fragment.size(), &d), FrameKind::Fragment);
  fragment[6] = 0x00;
  fragment[7] = 0x10;  // a later piece
  EXPECT_EQ(decodeFrame(kLinkRaw, fragment.data(), fragment.size(), &d), FrameKind::Fragment);
  std::vector<uint8_t> tcp = v4;
  tcp[9] = 6;
  EXPECT_EQ(decodeFrame(kLinkRaw, tcp.data(), tcp.size(), &d), FrameKind::NotUdp);
  std::vector<uint8_t> lying = v4;
  lying[3] = 10;  // a total length shorter than the header
  EXPECT_EQ(decodeFrame(kLinkRaw, lying.data(), lying.size(), &d), FrameKind::Truncated);

  std::vector<uint8_t> v6 = CaptureFrame(kLinkRaw, 6, 1, 2, {1, 2, 3});
  v6[6] = 44;  // a fragment header
  EXPECT_EQ(decodeFrame(kLinkRaw, v6.data(), v6.size(), &d), FrameKind::Fragment);
  // A hop-by-hop header of 8 bytes in front of UDP is stepped over.
  std::vector<uint8_t> hop = CaptureFrame(kLinkRaw, 6, 1, 2, {1, 2, 3});
  const std::vector<uint8_t> option = {17, 0, 1, 4, 0, 0, 0, 0};
  hop[6] = 0;
  hop[5] += 8;
  hop.insert(hop.begin() + 40, option.begin(), option.end());
  ASSERT_EQ(decodeFrame(kLinkRaw, hop.data(), hop.size(), &d), FrameKind::Udp);
  EXPECT_EQ(d.payloadLength, 3u);

  std::vector<uint8_t> arp = CaptureFrame(kLinkEthernet, 4, 1, 2, {});
  arp[12] = 0x08;
  arp[13] = 0x06;
  EXPECT_EQ(decodeFrame(kLinkEthernet, arp.data(), arp.size(), &d), FrameKind::NotIp);
  EXPECT_FALSE(isSupportedLinkType(105));  // 802.11
}

TEST(RtpStreamTest, HeadersThatAreNotRtp) {
  RtpHeader h;
  std::vector<uint8_t> rtp = RtpDatagram(8, 0x1234, 0x01020304, 0xCAFEF00D, 0);
  ASSERT_TRUE(parseRtpHeader(rtp.data(), rtp.size(), &h));
  EXPECT_EQ(h.payloadType, 8);
  EXPECT_EQ(h.sequence, 0x1234);
  EXPECT_EQ(h.timestamp, 0x01020304u);
  EXPECT_EQ(h.ssrc, 0xCAFEF00Du);
  EXPECT_FALSE(parseRtpHeader(rtp.data(), 11, &h));
  rtp[0] = 0x83;  // three CSRCs that are not there
  EXPECT_FALSE(parseRtpHeader(rtp.data(), rtp.size(), &h));
  rtp[0] = 0x40;  // version 1
  EXPECT_FALSE(parseRtpHeader(rtp.data(), rtp.size(), &h));
  EXPECT_EQ(codecOfPayloadType(0), 0);
  EXPECT_EQ(codecOfPayloadType(3), 1);
  EXPECT_EQ(codecOfPayloadType(13), kNoCodec);
}

TEST(RtpStreamTest, CountersCarryOnAcrossWrapsAndLatePacketsStayBehind) {
  Unwrapper seq(16);
  const uint64_t first = seq.extend(65534);
  EXPECT_EQ(seq.extend(65535), first + 1);
  EXPECT_EQ(seq.extend(1), first + 3);   // across the wrap, one lost
  EXPECT_EQ(seq.extend(0), first + 2);   // late, from after the wrap
  EXPECT_EQ(seq.extend(65533), first - 1);  // late, from before it
  EXPECT_EQ(seq.extend(2), first + 4);
}

// The interval follows the timestamp steps; one long step (a silence) does
// not move it, two equal new steps do. Send times keep rising across the
// timestamp's wrap.
TEST(RtpStreamTest, PacketIntervalAndSendTimes) {
  RtpStreamClock clock;
  uint32_t ts = 0xFFFFFFFFu - 320;
  uint16_t seq = 10;
  std::vector<uint8_t> intervals;
  double lastSend = 0;
  auto add = [&](uint32_t step) {
    ts += step;
    RtpHeader h;
    h.sequence = seq++;
    h.timestamp = ts;
    const Payload p = clock.toPayload(h, 0);
    const double send = p.sendSec + p.sendUsec / 1e6;
    EXPECT_GT(send, lastSend);
    EXPECT_FALSE(p.isEndOfStream());
    lastSend = send;
    intervals.push_back(p.packetInterval);
  };
  for (uint32_t step : {160u, 160u, 160u, 1600u, 160u, 240u, 240u, 240u}) add(step);
  EXPECT_EQ(intervals, (std::vector<uint8_t>{0, 20, 20, 20, 20, 20, 30, 30}));
}

}  // namespace
