#include "stamp_auth.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "call_session.h"
#include "fake_network.h"
#include "probe_runner.h"
#include "hmac_sha256.h"
#include "stamp_packet.h"
#include "stamp_reflector.h"
#include "test_util.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

class StampAuthTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!hmacSha256Available(&why)) GTEST_SKIP() << why;
  }
};

// HMAC-SHA-256 as RFC 4231 gives it (test cases 1 and 2).
TEST_F(StampAuthTest, HmacMatchesRfc4231) {
  const struct {
    std::string key, data, mac;
  } vectors[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
  };
  for (const auto& v : vectors) {
    uint8_t mac[kSha256Length];
    ASSERT_TRUE(hmacSha256(reinterpret_cast<const uint8_t*>(v.key.data()), v.key.size(),
                           reinterpret_cast<const uint8_t*>(v.data.data()), v.data.size(), mac));
    EXPECT_EQ(Hex(mac, sizeof mac), v.mac);
  }
  const uint8_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 3, 5};
  EXPECT_TRUE(sameInConstantTime(a, a, 4));
  EXPECT_FALSE(sameInConstantTime(a, b, 4));
}

// Keys are hexadecimal text of 16 bytes or more, in a file for its owner alone.
TEST_F(StampAuthTest, KeyFiles) {
  StampKey key;
  EXPECT_TRUE(parseStampKeyText(" 00112233445566778899aabbccddeeff\n", &key));
  EXPECT_EQ(key.size(), 16u);
  for (const char* bad : {"00112233445566778899aabbccddee", "0011223344556677889g9aabbccddeeff",
                          "00112233445566778899aabbccddeeff0", ""}) {
    EXPECT_FALSE(parseStampKeyText(bad, &key)) << bad;
  }
  const TempDir dir;
  const std::string path = dir.path() + "/key";
  std::ofstream(path) << "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n";
  std::string error;
  chmod(path.c_str(), 0640);
  EXPECT_FALSE(readStampKeyFile(path, &key, &error));
  EXPECT_NE(error.find("(mode 0640): chmod 600"), std::string::npos) << error;
  chmod(path.c_str(), 0600);
  EXPECT_TRUE(readStampKeyFile(path, &key, &error)) << error;
  EXPECT_EQ(key.size(), 32u);
  EXPECT_FALSE(readStampKeyFile(dir.path() + "/none", &key, &error));
}

// A probe path keeps its call across a reload only while its key is the
// same: a key file rewritten in place starts the path afresh with the new key.
TEST_F(StampAuthTest, AProbePathTakesItsRotatedKeyAtAReload) {
  const TempDir dir;
  const std::string keyFile = dir.path() + "/key";
  const auto writeKey = [&](const char* hex) {
    std::ofstream(keyFile) << hex << "\n";
    chmod(keyFile.c_str(), 0600);
  };
  writeKey("00112233445566778899aabbccddeeff");
  std::vector<TeskProbePath> paths(1);
  paths[0].name = "signed";
  paths[0].call.keyFile = keyFile;
  ProbeRunner probe;
  std::string error;
  ASSERT_TRUE(probe.setPaths(paths, &error)) << error;
  struct : ProbeHooks {
    void sample(const std::string&, const TeskCallSample&) override {}
    void everySecond() override {}
  } hooks;
  FakeNetwork net;
  const auto sentAfterOneMoreRun = [&] {
    EXPECT_EQ(probe.run(1500, net, hooks).code, 0);
    return probe.status()[0].sent;
  };
  const unsigned long long first = sentAfterOneMoreRun();
  ASSERT_TRUE(probe.setPaths(paths, &error)) << error;  // the same key: the call goes on
  const unsigned long long kept = sentAfterOneMoreRun();
  EXPECT_GT(kept, first);
  writeKey("ffeeddccbbaa99887766554433221100");
  ASSERT_TRUE(probe.setPaths(paths, &error)) << error;  // a new key: started afresh
  EXPECT_LT(sentAfterOneMoreRun(), kept);
}

TEST(ReplayWindowTest, EachNumberOnce) {
  ReplayWindow w;
  const struct {
    uint32_t sequence;
    bool accepted;
  } steps[] = {{5, true}, {5, false}, {3, true}, {7, true}, {3, false}, {6, true},
               {100, true}, {36, false}, {37, true}, {37, false}, {99, true}};
  for (const auto& s : steps) EXPECT_EQ(w.accept(s.sequence), s.accepted) << s.sequence;
}

// Both ends of an authenticated session: signed requests are answered and
// the answers scored; a forged, a cut and a replayed request get no answer
// and are counted; a forged and a replayed answer are counted, never scored.
TEST_F(StampAuthTest, ForgedCutAndReplayedPacketsAreCountedNotScored) {
  StampKey key;
  ASSERT_TRUE(parseStampKeyText("000102030405060708090a0b0c0d0e0f", &key));
  CallSettings settings;
  settings.key = key;
  settings.sessionId = 9;
  CallSession caller(settings);
  StampReflector reflector{ReflectorLimits{}};
  reflector.setKey(key);
  SocketAddress from;
  makeSocketAddress("192.0.2.1", 40000, &from);
  const TimeOfDay t{1700000000, 0};

  uint8_t request[512], answer[512];
  std::vector<std::vector<uint8_t>> answers;
  for (int i = 0; i < 3; ++i) {
    const size_t length = caller.request(t, request);
    ASSERT_EQ(length, 160u);  // G.711's packet, above the 112 of the format
    const size_t n = reflector.answer(request, length, from, t, answer);
    ASSERT_EQ(n, length);
    reflector.finish(answer, t);
    answers.emplace_back(answer, answer + n);
  }
  std::vector<uint8_t> forged(request, request + 160);
  forged[20] ^= 1;  // inside the time stamp
  EXPECT_EQ(reflector.answer(forged.data(), forged.size(), from, t, answer), 0u);
  EXPECT_EQ(reflector.answer(request, 111, from, t, answer), 0u);   // cut
  EXPECT_EQ(reflector.answer(request, 160, from, t, answer), 0u);   // replayed
  EXPECT_EQ(reflector.counters().authFailed, 1u);
  EXPECT_EQ(reflector.counters().tooShort, 1u);
  EXPECT_EQ(reflector.counters().replayed, 1u);
  EXPECT_EQ(reflector.counters().reflected, 3u);

  EXPECT_TRUE(caller.takeAnswer(answers[0].data(), answers[0].size(), t));
  std::vector<uint8_t> bad = answers[1];
  bad[100] ^= 0x80;  // inside the HMAC
  EXPECT_FALSE(caller.takeAnswer(bad.data(), bad.size(), t));
  EXPECT_TRUE(caller.takeAnswer(answers[1].data(), answers[1].size(), t));
  EXPECT_FALSE(caller.takeAnswer(answers[1].data(), answers[1].size(), t));
  EXPECT_EQ(caller.answers(), 2u);
  EXPECT_EQ(caller.authFailures(), 1u);
  EXPECT_EQ(caller.replays(), 1u);

  // An unauthenticated answer to an authenticated caller is no answer.
  StampReflector plain{ReflectorLimits{}};
  const size_t n = plain.answer(request, 160, from, t, answer);
  plain.finish(answer, t);
  EXPECT_FALSE(caller.takeAnswer(answer, n, t));
  EXPECT_EQ(caller.answers(), 2u);
}

}  // namespace
