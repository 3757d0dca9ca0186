#include "packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Header(uint32_t seq, uint32_t sec, uint32_t usec, uint8_t codec, uint8_t fec,
                            uint8_t intervalMs) {
  std::vector<uint8_t> bytes(kPacketHeaderSize);
  encodePacketHeader(bytes.data(), seq, sec, usec, makeCodecFec(codec, fec),
                     makeIntervalCode(intervalMs));
  return bytes;
}

TEST(PacketTest, EncodesDataAndEndOfStreamHeaders) {
  EXPECT_EQ(Header(5, 1700000000, 250000, 1, 2, 20),
            (std::vector<uint8_t>{0x71, 0x00, 0x00, 0x00, 0x05, 0x65, 0x53, 0xF1, 0x00, 0x00, 0x03,
                                  0xD0, 0x90, 0x12, 0x20}));
  EXPECT_EQ(Header(600, 0, 0, 1, 2, 20),
            (std::vector<uint8_t>{0x71, 0x00, 0x00, 0x02, 0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0x12, 0x20}));
}

TEST(PacketTest, IntervalCarriesOnlyTensOfMilliseconds) {
  EXPECT_EQ(makeIntervalCode(20), 0x20);
  EXPECT_EQ(makeIntervalCode(25), 0x20);
  EXPECT_EQ(makeIntervalCode(30), 0x30);
  EXPECT_EQ(makeIntervalCode(150), 0xF0);
  EXPECT_EQ(makeIntervalCode(5), 0x00);

  Payload p;
  ASSERT_TRUE(decodePacket(Header(1, 2, 3, 0, 0, 25).data(), kPacketHeaderSize, p));
  EXPECT_EQ(p.packetInterval, 20);
  ASSERT_TRUE(decodePacket(Header(1, 2, 3, 0, 0, 150).data(), kPacketHeaderSize, p));
  EXPECT_EQ(p.packetInterval, 150);
}

TEST(PacketTest, DecodesWhatWasEncoded) {
  Payload p;
  std::vector<uint8_t> bytes = Header(0xFFFFFFFE, 1700000000, 999999, 1, 3, 30);
  ASSERT_TRUE(decodePacket(bytes.data(), bytes.size(), p));
  EXPECT_EQ(p.seqNum, 0xFFFFFFFEu);
  EXPECT_EQ(p.sendSec, 1700000000u);
  EXPECT_EQ(p.sendUsec, 999999u);
  EXPECT_EQ(p.markerHigh, 7);
  EXPECT_EQ(p.markerLow, 1);
  EXPECT_EQ(p.codec, 1);
  EXPECT_EQ(p.fec, 3);
  EXPECT_EQ(p.packetInterval, 30);
  EXPECT_FALSE(p.isEndOfStream());
  ASSERT_TRUE(decodePacket(Header(7, 0, 0, 0, 0, 20).data(), kPacketHeaderSize, p));
  EXPECT_TRUE(p.isEndOfStream());
}

TEST(PacketTest, ForeignBytesAreTakenAsTheyCome) {
  std::vector<uint8_t> bytes = Header(1, 2, 3, 0, 0, 20);
  bytes[0] = 0xA5;   // another marker: only the marker fields differ
  bytes[13] = 0xF2;  // upper nibble read as a signed byte
  Payload p;
  ASSERT_TRUE(decodePacket(bytes.data(), bytes.size(), p));
  EXPECT_EQ(p.markerHigh, -6);
  EXPECT_EQ(p.markerLow, 5);
  EXPECT_EQ(p.codec, -1);
  EXPECT_EQ(p.fec, 2);
  EXPECT_EQ(p.seqNum, 1u);
}

TEST(PacketTest, ShortDatagramsAreRefused) {
  std::vector<uint8_t> bytes = Header(1, 2, 3, 0, 0, 20);
  Payload p;
  p.seqNum = 42;
  EXPECT_FALSE(decodePacket(bytes.data(), kPacketHeaderSize - 1, p));
  EXPECT_FALSE(decodePacket(bytes.data(), 0, p));
  EXPECT_FALSE(decodePacket(nullptr, 100, p));
  EXPECT_EQ(p.seqNum, 42u);
}

TEST(PacketTest, SizeLimits) {
  EXPECT_EQ(kMinPacketSize, 43u);
  EXPECT_EQ(kMaxPacketSize, 1528u);
}

}  // namespace
