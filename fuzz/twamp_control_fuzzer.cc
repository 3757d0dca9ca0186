// Control connections opened, fed arbitrary pieces of bytes (or well-formed
// messages with arbitrary fields), closed and left to expire at arbitrary
// times, and test packets from arbitrary sources, through a TWAMP-Control
// server with tight limits (so that every refusal is reachable); arbitrary
// bytes through a client. Replies are whole messages, the limits hold, the
// counters add up, and what the server says it forgot it has forgotten.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "twamp_control.h"
#include "twamp_messages.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// A message the server takes, its fields from the input, so that the runs
// reach the sessions without having to find every byte of them.
std::vector<uint8_t> wellFormed(FuzzedDataProvider& in) {
  std::vector<uint8_t> bytes(kTwampLongestMessage);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      encodeTwampSetUpResponse(TwampSetUpResponse{in.ConsumeIntegralInRange<uint32_t>(0, 5)},
                               bytes.data());
      bytes.resize(kTwampSetUpResponseLength);
      break;
    case 1: {
      TwampRequestSession r;
      r.ipVersion = in.ConsumeBool() ? 4 : in.ConsumeIntegralInRange<uint8_t>(0, 15);
      r.confSender = in.ConsumeBool() ? 0 : 1;
      r.senderPort = in.ConsumeIntegralInRange<uint16_t>(0, 3);
      r.senderAddress[0] = in.ConsumeIntegralInRange<uint8_t>(0, 1);
      r.padding = in.ConsumeIntegral<uint32_t>();
      r.timeout = in.ConsumeIntegral<uint64_t>() >> in.ConsumeIntegralInRange<int>(0, 63);
      r.typeP = in.ConsumeIntegral<uint32_t>();
      encodeTwampRequestSession(r, bytes.data());
      bytes.resize(kTwampRequestSessionLength);
      break;
    }
    case 2:
      encodeTwampStartSessions(bytes.data());
      bytes.resize(kTwampStartSessionsLength);
      break;
    default:
      encodeTwampStopSessions(TwampStopSessions{0, in.ConsumeIntegral<uint32_t>()}, bytes.data());
      bytes.resize(kTwampStopSessionsLength);
      break;
  }
  return bytes;
}

// Every decoder on arbitrary bytes: none reads past them.
void decodeAll(const std::vector<uint8_t>& bytes) {
  const uint8_t* data = bytes.data();
  const size_t length = bytes.size();
  TwampServerGreeting greeting;
  TwampSetUpResponse setUp;
  TwampServerStart start;
  TwampRequestSession request;
  TwampAcceptSession accept;
  TwampStopSessions stop;
  uint8_t code = 0;
  decodeTwampGreeting(data, length, &greeting);
  decodeTwampSetUpResponse(data, length, &setUp);
  decodeTwampServerStart(data, length, &start);
  if (decodeTwampRequestSession(data, length, &request)) {
    const int dscp = dscpOfTypeP(request.typeP);
    check(dscp >= -1 && dscp <= 63);
  }
  decodeTwampAcceptSession(data, length, &accept);
  decodeTwampStartSessions(data, length);
  decodeTwampStartAck(data, length, &code);
  decodeTwampStopSessions(data, length, &stop);
  check(!twampAcceptText(code).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  TwampControlLimits limits;
  limits.maxConnections = in.ConsumeIntegralInRange<uint32_t>(0, 4);
  limits.perSource = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  limits.maxSessions = in.ConsumeIntegralInRange<uint32_t>(0, 4);
  limits.servWait = in.ConsumeIntegralInRange<int>(1, 20);
  limits.refWait = in.ConsumeIntegralInRange<int>(1, 20);
  if (in.ConsumeBool()) {
    parseAddressPrefix(in.ConsumeRandomLengthString(50), &limits.allowed.emplace_back());
  }
  TwampControlServer server(limits, 4000, in.ConsumeIntegral<uint64_t>());
  TwampSessionRequest request;
  request.ipVersion = in.ConsumeBool() ? 4 : 6;
  request.senderPort = in.ConsumeIntegral<uint16_t>();
  request.padding = in.ConsumeIntegral<uint32_t>();
  request.dscp = in.ConsumeIntegralInRange<int>(-1, 63);
  request.timeoutSeconds = in.ConsumeIntegral<uint32_t>();
  TwampControlClient client(request);
  size_t clientSent = 0;

  const char* sources[] = {"192.0.2.1", "192.0.2.2", "2001:db8::1", "::ffff:192.0.2.1"};
  auto source = [&] {
    SocketAddress address;
    makeSocketAddress(sources[in.ConsumeIntegralInRange<int>(0, 3)],
                      in.ConsumeIntegralInRange<uint16_t>(0, 3), &address);
    return address;
  };
  std::vector<uint64_t> open;
  uint64_t opens = 0;
  double now = 0;
  while (in.remaining_bytes() > 0) {
    now += in.ConsumeIntegralInRange<int>(0, 8000) / 1000.0;
    std::string out;
    // An id that is open, or one that never was or no longer is.
    auto pick = [&]() -> uint64_t {
      if (open.empty() || in.ConsumeBool()) return in.ConsumeIntegralInRange<uint64_t>(0, 8);
      return open[in.ConsumeIntegralInRange<size_t>(0, open.size() - 1)];
    };
    auto forgotten = [&](uint64_t id) {
      open.erase(std::remove(open.begin(), open.end(), id), open.end());
      std::string none;
      check(!server.receive(id, nullptr, 0, now, &none) && none.empty());
    };
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
      case 0: {
        const uint64_t id = server.open(source(), now, &out);
        opens++;
        check(out.size() == kTwampGreetingLength);
        if (id != 0) {
          check(std::find(open.begin(), open.end(), id) == open.end());
          open.push_back(id);
        }
        break;
      }
      case 1:
      case 2: {
        const uint64_t id = pick();
        const bool wasOpen = std::find(open.begin(), open.end(), id) != open.end();
        const std::vector<uint8_t> bytes =
            in.ConsumeBool() ? wellFormed(in)
                             : in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
        decodeAll(bytes);
        const bool alive = server.receive(id, bytes.data(), bytes.size(), now, &out);
        check(wasOpen || (!alive && out.empty()));
        // Replies of 48 and 32 bytes: at most one for each message that
        // could have been completed (the shortest is 32 bytes, and less than
        // the longest was held), and one for an unknown command.
        check(out.size() % 16 == 0 && out.size() != 16);
        check(out.size() <=
              ((bytes.size() + kTwampLongestMessage - 1) / kTwampStartSessionsLength + 1) * 48);
        if (!alive) forgotten(id);
        break;
      }
      case 3: {
        const uint64_t id = pick();
        server.close(id);
        forgotten(id);
        break;
      }
      case 4: {
        const std::vector<uint64_t> silent = server.expire(now);
        check(std::is_sorted(silent.begin(), silent.end()));
        for (uint64_t id : silent) {
          check(std::find(open.begin(), open.end(), id) != open.end());
          forgotten(id);
        }
        check(server.nextDeadline() > now);
        break;
      }
      case 5: {
        const SocketAddress from = source();
        const TwampTestSession* session = server.sessionFor(from, now);
        if (session != nullptr) {
          check(session->started && session->senderPort == from.port());
          check(session->dscp >= -1 && session->dscp <= 63);
          check(session->padding <= 65507);
        }
        break;
      }
      default: {
        const std::vector<uint8_t> bytes =
            in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 200));
        const TwampControlClient::State state =
            client.receive(bytes.data(), bytes.size(), now, &out);
        clientSent += out.size();
        // Set-Up-Response, then Request-TW-Session, then Start-Sessions.
        check(clientSent == 0 || clientSent == kTwampSetUpResponseLength ||
              clientSent == kTwampSetUpResponseLength + kTwampRequestSessionLength ||
              clientSent == kTwampSetUpResponseLength + kTwampRequestSessionLength +
                                kTwampStartSessionsLength);
        check((state == TwampControlClient::State::Failed) == !client.failure().empty());
        check(state != TwampControlClient::State::Running || client.reflectorPort() != 0);
        break;
      }
    }
    for (const std::string& refusal : server.takeRefusals()) check(!refusal.empty());
    const TwampControlCounters& c = server.counters();
    check(server.connections() == open.size());
    check(server.connections() <= limits.maxConnections);
    check(server.sessions() <= limits.maxSessions);
    check(opens == c.connections + c.overConnections + c.overPerSource + c.notAllowed);
    check(c.connections == server.connections() + c.connectionsEnded);
    check(c.modeRefused + c.clientGaveUp + c.badMessages + c.servWaitClosed <= c.connectionsEnded);
    check(c.sessionRequests ==
          c.sessionsAccepted + c.sessionsNotSupported + c.overSessions + c.senderInUse);
    check(c.sessionsAccepted == server.sessions() + c.sessionsEnded);
    check(c.refWaitEnded <= c.sessionsEnded);
  }
  check(client.stopSessions().size() == kTwampStopSessionsLength);
  return 0;
}
