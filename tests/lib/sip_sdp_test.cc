#include <gtest/gtest.h>

#include <string>

#include "sdp.h"
#include "sip_media.h"
#include "sip_message.h"

namespace {

SipParse Parse(const std::string& text, SipMessage* out, size_t* used = nullptr) {
  return parseSipMessage(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out, used);
}

const std::string kOffer =
    "v=0\r\n"
    "o=alice 2890844526 2890844526 IN IP4 192.0.2.1\r\n"
    "s=-\r\n"
    "c=IN IP4 192.0.2.1\r\n"
    "t=0 0\r\n"
    "m=audio 49170 RTP/AVP 0 101\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=ptime:20\r\n";
const std::string kInvite =
    "INVITE sip:bob@192.0.2.2:5060 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 192.0.2.1:5060;branch=z9hG4bK776asdhds\r\n"
    "Max-Forwards: 70\r\n"
    "To: Bob <sip:bob@biloxi.example.com>\r\n"
    "From: \"Alice\" <sip:alice@atlanta.example.com>;tag=1928301774\r\n"
    "Call-ID: a84b4c76e66710@pc33.atlanta.example.com\r\n"
    "CSeq: 314159 INVITE\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: " + std::to_string(kOffer.size()) + "\r\n"
    "\r\n" + kOffer + "trailing bytes of another message";

TEST(SipMessageTest, ReadsWhatTiesMediaToACall) {
  SipMessage m;
  ASSERT_EQ(Parse(kInvite, &m), SipParse::Ok);
  EXPECT_TRUE(m.request);
  EXPECT_EQ(m.method, "INVITE");
  EXPECT_EQ(m.callId, "a84b4c76e66710@pc33.atlanta.example.com");
  EXPECT_EQ(m.cseq, 314159u);
  EXPECT_EQ(m.fromUser, "alice");
  EXPECT_EQ(m.fromTag, "1928301774");
  EXPECT_EQ(m.toUser, "bob");
  EXPECT_EQ(m.toTag, "");
  EXPECT_EQ(m.contentType, "application/sdp");
  EXPECT_EQ(m.body, kOffer);
  SdpDescription sdp;
  ASSERT_TRUE(parseSdp(m.body, &sdp));
  ASSERT_EQ(sdp.audio.size(), 1u);
  EXPECT_EQ(sdp.audio[0].address, "192.0.2.1");
  EXPECT_EQ(sdp.audio[0].port, 49170);
  EXPECT_EQ(sdp.audio[0].ptimeMs, 20);
  ASSERT_NE(findPayloadType(sdp.audio[0], 101), nullptr);
  EXPECT_EQ(findPayloadType(sdp.audio[0], 101)->encoding, "telephone-event");
  EXPECT_EQ(findPayloadType(sdp.audio[0], 0)->encoding, "");  // static: no rtpmap needed

  // A response in compact form with a folded header, tel: parties, a bare LF
  // and no Content-Length (over UDP the body is the rest of the datagram).
  const std::string ok =
      "SIP/2.0 200 OK\n"
      "i: 1234@host\n"
      "f: <tel:+4930123>;tag=a\n"
      "t: sip:+4930999@gw.example;user=phone\n"
      "  ;tag=b\n"
      "CSeq: 2\n"
      " BYE\n"
      "c: Application/SDP; charset=x\n"
      "\n"
      "v=0";
  ASSERT_EQ(Parse(ok, &m), SipParse::Ok);
  EXPECT_FALSE(m.request);
  EXPECT_EQ(m.status, 200);
  EXPECT_EQ(m.callId, "1234@host");
  EXPECT_EQ(m.cseqMethod, "BYE");
  EXPECT_EQ(m.fromUser, "+4930123");
  EXPECT_EQ(m.fromTag, "a");
  EXPECT_EQ(m.toUser, "+4930999");
  EXPECT_EQ(m.toTag, "b");
  EXPECT_EQ(m.contentType, "application/sdp");
  EXPECT_EQ(m.body, "v=0");
}

// Two messages in one TCP segment are read one after the other; whatever
// is not a readable SIP message is said as such, never read past its bytes.
TEST(SipMessageTest, BadInputIsRefusedWithItsReason) {
  const std::string bye = "BYE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 3 BYE\r\nContent-Length: 0\r\n\r\n";
  const std::string two = bye + bye;
  SipMessage m;
  size_t used = 0;
  ASSERT_EQ(Parse(two, &m, &used), SipParse::Ok);
  EXPECT_EQ(used, bye.size());
  ASSERT_EQ(Parse(two.substr(used), &m), SipParse::Ok);
  EXPECT_EQ(m.method, "BYE");

  const struct {
    std::string text;
    SipParse result;
  } cases[] = {
      {"", SipParse::NotSip},
      {"\x80\x08\x00\x01", SipParse::NotSip},                       // RTP
      {"HTTP/1.1 200 OK\r\n\r\n", SipParse::NotSip},
      {"SIP/2.0 99 Too low\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\n\r\n", SipParse::NotSip},
      {"INVITE sip:a@b SIP/3.0\r\n\r\n", SipParse::NotSip},
      {"INVITE sip:a@b SIP/2.0\r\nCSeq: 1 INVITE\r\n\r\n", SipParse::Malformed},  // no Call-ID
      {"INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: one INVITE\r\n\r\n", SipParse::Malformed},
      {"INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\n", SipParse::Malformed},  // no end
      {std::string("INVITE sip:a@b SIP/2.0\r\nCall-ID: x\0y\r\n\r\n", 37), SipParse::Malformed},
      {"INVITE sip:a@b SIP/2.0\r\n folded\r\nCall-ID: x\r\n\r\n", SipParse::Malformed},
      {"INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\nl: 10\r\n\r\nv=0", SipParse::Truncated},
      {"INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\nl: 999999999\r\n\r\n", SipParse::Malformed},
      {"INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\nl: 99999999999\r\n\r\n", SipParse::Malformed},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.text, &m), c.result) << c.text;
  std::string many = "OPTIONS sip:a@b SIP/2.0\r\nCall-ID: x\r\nCSeq: 1 OPTIONS\r\n";
  for (int i = 0; i < kSipMaxHeaders; ++i) many += "X-A: 1\r\n";
  EXPECT_EQ(Parse(many + "\r\n", &m), SipParse::Malformed);
}

// The media line's connection overrides the session's; streams that cannot
// be read, or are not audio, are left out; payload types stay those offered.
TEST(SdpTest, EachAudioStreamWithItsAddressAndTypes) {
  SdpDescription sdp;
  ASSERT_TRUE(parseSdp("v=0\nc=IN IP4 198.51.100.1\nm=video 5000 RTP/AVP 96\n"
                       "c=IN IP4 203.0.113.9\na=rtpmap:96 H264/90000\n"
                       "m=audio 6000 RTP/AVP 9 13 99\r\nc=IN IP6 2001:db8::7\r\n"
                       "a=rtpmap:9 G722/8000\r\na=rtpmap:98 opus/48000/2\r\n"
                       "a=rtpmap:99 AMR-WB/16000/1\r\nm=audio 0 RTP/AVP 0\r\n"
                       "m=audio 70000 RTP/AVP 0\r\nm=audio x RTP/AVP 0\r\ngarbage\n",
                       &sdp));
  ASSERT_EQ(sdp.audio.size(), 2u);
  EXPECT_EQ(sdp.audio[0].address, "2001:db8::7");
  EXPECT_EQ(sdp.audio[0].port, 6000);
  ASSERT_EQ(sdp.audio[0].payloadTypes.size(), 3u);
  EXPECT_EQ(findPayloadType(sdp.audio[0], 9)->encoding, "G722");
  EXPECT_EQ(findPayloadType(sdp.audio[0], 99)->clockRate, 16000u);
  EXPECT_EQ(findPayloadType(sdp.audio[0], 98), nullptr);  // mapped, never offered
  EXPECT_EQ(sdp.audio[1].port, 0);                         // disabled
  EXPECT_EQ(sdp.audio[1].address, "198.51.100.1");         // the session's
  EXPECT_FALSE(parseSdp("v=0\nm=audio 5004 RTP/AVP 0\n", &sdp));  // no address
  EXPECT_FALSE(parseSdp(std::string("c=IN IP4 1.2.3.4\0m=audio 1 RTP/AVP 0", 36), &sdp));
}

// A call's progress from its messages: the first INVITE starts it (a
// re-INVITE of a call whose start was missed does not), the first answer
// to an INVITE answers it, a BYE, a CANCEL or a final failure ends it, and
// nothing after its end changes it. A response's SDP is the responder's.
TEST(SipMediaTest, CallsFollowTheirMessages) {
  const auto message = [](const std::string& text) {
    SipMessage m;
    EXPECT_EQ(Parse(text, &m), SipParse::Ok) << text;
    return m;
  };
  const auto request = [&](const std::string& method, const std::string& id, bool tagged) {
    return message(method + " sip:b@x SIP/2.0\r\nCall-ID: " + id + "\r\nCSeq: 1 " + method +
                   "\r\nFrom: <sip:alice@x>;tag=1\r\nTo: <sip:bob@x>" + (tagged ? ";tag=2" : "") +
                   "\r\n\r\n");
  };
  const auto response = [&](int status, const std::string& id, const std::string& body = "") {
    return message("SIP/2.0 " + std::to_string(status) + " X\r\nCall-ID: " + id +
                   "\r\nCSeq: 1 INVITE\r\nFrom: <sip:alice@x>;tag=1\r\nTo: <sip:bob@x>;tag=2\r\n"
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  };
  SipMediaTable table;
  table.learn(1, request("INVITE", "a", false));
  table.learn(1.5, response(180, "a"));
  table.learn(2, response(200, "a", "v=0\r\nc=IN IP6 2001:db8::2\r\nm=audio 7000 RTP/AVP 0\r\n"));
  table.learn(3, request("INVITE", "a", true));  // a re-INVITE
  table.learn(9, request("BYE", "a", true));
  table.learn(10, request("CANCEL", "a", true));
  table.learn(4, request("INVITE", "b", false));
  table.learn(5, request("CANCEL", "b", false));
  table.learn(6, request("INVITE", "c", false));
  table.learn(7, response(486, "c"));
  table.learn(8, request("INVITE", "missed", true));
  table.learn(8, request("BYE", "unknown", true));
  ASSERT_EQ(table.calls().size(), 3u);
  const TeskSipCall& a = table.calls()[0];
  EXPECT_EQ(a.callId, "a");
  EXPECT_EQ(a.caller, "alice");
  EXPECT_EQ(a.callee, "bob");
  EXPECT_EQ(a.invited, 1);
  EXPECT_EQ(a.answered, 2);
  EXPECT_EQ(a.ended, 9);
  EXPECT_EQ(a.endedBy, "BYE");
  EXPECT_EQ(table.calls()[1].endedBy, "CANCEL");
  EXPECT_EQ(table.calls()[1].answered, 0);
  EXPECT_EQ(table.calls()[2].endedBy, "486");
  uint8_t address[16] = {0x20, 0x01, 0x0d, 0xb8};
  address[15] = 2;
  ASSERT_NE(table.find(address, 7000), nullptr);
  EXPECT_EQ(table.find(address, 7000)->party, "bob");
  EXPECT_EQ(table.find(address, 7002), nullptr);

  // Bounded: the oldest calls make room.
  SipMediaTable full;
  for (size_t n = 0; n < SipMediaTable::kMaxCalls + 10; ++n) {
    full.learn(static_cast<double>(n), request("INVITE", "n" + std::to_string(n), false));
  }
  EXPECT_EQ(full.calls().size(), SipMediaTable::kMaxCalls);
  EXPECT_EQ(full.calls().front().callId, "n10");
  full.learn(1e6, request("BYE", "n" + std::to_string(SipMediaTable::kMaxCalls + 9), true));
  EXPECT_EQ(full.calls().back().endedBy, "BYE");
}

}  // namespace
