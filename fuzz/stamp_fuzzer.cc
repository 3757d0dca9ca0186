// Arbitrary datagrams from arbitrary sources at arbitrary times through the
// STAMP reflector (with tight limits, so that every refusal is reachable),
// unauthenticated or authenticated, and through a caller's answer parser
// and meters: an answer is never longer than its request, its TLV walk
// stays inside it, the counters add up, and the caller never scores what is
// no answer to it.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "call_session.h"
#include "stamp_packet.h"
#include "stamp_reflector.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ReflectorLimits limits;
  limits.maxSessions = in.ConsumeIntegralInRange<uint32_t>(1, 4);
  limits.perSourceRate = in.ConsumeIntegralInRange<uint32_t>(0, 10);
  limits.idleSeconds = in.ConsumeIntegralInRange<uint32_t>(1, 5);
  if (in.ConsumeBool()) parseAddressPrefix(in.ConsumeRandomLengthString(50), &limits.allowed.emplace_back());
  StampReflector reflector(limits);
  CallSettings settings;
  settings.sessionId = in.ConsumeIntegral<uint16_t>();
  if (in.ConsumeBool()) {
    const StampKey key(16, 0x5A);
    reflector.setKey(key);
    settings.key = key;
  }
  CallSession caller(settings);
  uint8_t request0[512];
  for (int i = 0; i < 8; ++i) caller.request(TimeOfDay{1700000000, i * 20000}, request0);
  const char* sources[] = {"192.0.2.1", "192.0.2.2", "2001:db8::1", "::ffff:192.0.2.1"};
  int64_t second = 1700000000;
  while (in.remaining_bytes() > 0) {
    std::vector<uint8_t> request = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
    SocketAddress from;
    makeSocketAddress(sources[in.ConsumeIntegralInRange<int>(0, 3)],
                      in.ConsumeIntegral<uint16_t>(), &from);
    second += in.ConsumeIntegralInRange<int>(0, 3);
    const TimeOfDay arrival{second, in.ConsumeIntegralInRange<int64_t>(0, 999999)};
    std::vector<uint8_t> answer(request.size() + 1, 0xAA);
    const size_t length = reflector.answer(request.data(), request.size(), from, arrival, answer.data());
    check(length == 0 || length == request.size());
    check(answer[request.size()] == 0xAA);  // nothing written past the request's length
    if (length != 0) {
      StampReflectorPacket reply;
      check(decodeStampReflector(answer.data(), length, &reply));
      reflector.finish(answer.data(), arrival);
    }
    StampSenderPacket sender;
    decodeStampSender(request.data(), request.size(), &sender);
    decodeStampSender(request.data(), request.size(), &sender, StampMode::Authenticated);
    caller.takeAnswer(request.data(), request.size(), arrival);
    if (length != 0) caller.takeAnswer(answer.data(), length, arrival);
    if (in.ConsumeBool()) {
      caller.settle(arrival);
      TeskCallSample sample;
      caller.tick(arrival, &sample);
      check(!sample.haveForward || sample.forward.lostPackets <= 8);
      check(!sample.haveReverse || sample.reverse.lostPackets <= 8);
    }
    if (in.ConsumeBool()) reflector.forgetIdle(TimeOfDay{second, 0});
    for (const std::string& refusal : reflector.takeRefusals()) check(!refusal.empty());
  }
  // Only answers to the 8 requests sent are scored, each once.
  check(caller.answers() <= 8 && caller.forwardLost() <= 8 && caller.reverseLost() <= 8);
  const ReflectorCounters& c = reflector.counters();
  check(c.received == c.reflected + c.tooShort + c.notAllowed + c.overRate + c.overSessions +
                        c.authFailed + c.replayed);
  check(reflector.sessions() <= limits.maxSessions);
  return 0;
}
