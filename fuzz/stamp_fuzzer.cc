// Arbitrary datagrams from arbitrary sources at arbitrary times through the
// STAMP reflector (with tight limits, so that every refusal is reachable)
// and the reflection decoder: an answer is never longer than its request,
// its TLV walk stays inside it, and the counters add up.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

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
      StampReflector::stampTransmitTime(answer.data(), arrival);
    }
    StampSenderPacket sender;
    decodeStampSender(request.data(), request.size(), &sender);
    if (in.ConsumeBool()) reflector.forgetIdle(TimeOfDay{second, 0});
  }
  const ReflectorCounters& c = reflector.counters();
  check(c.received == c.reflected + c.tooShort + c.notAllowed + c.overRate + c.overSessions);
  check(reflector.sessions() <= limits.maxSessions);
  return 0;
}
