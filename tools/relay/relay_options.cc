#include "relay_options.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "udp_socket.h"

const char* const kRelayUsage =
    "usage: pulvo-relay --listen PORT --forward PORT [options]\n"
    "Forwards UDP datagrams from 127.0.0.1:LISTEN to 127.0.0.1:FORWARD and impairs the\n"
    "pulvo test packets among them, reproducibly for a given seed.\n"
    "  --listen-addr A, --forward-addr A   addresses or host names (default 127.0.0.1),\n"
    "                           both IPv4 or both IPv6 (for example ::1)\n"
    "  --seed N                 random seed (default 1)\n"
    "  --loss P[:A-B]           drop each packet with probability P (sequence numbers A to\n"
    "                           B only; B may be left out)\n"
    "  --ge PGB,PBG[,LG,LB]     Gilbert-Elliott loss: good->bad and bad->good transition\n"
    "                           probabilities, loss probability in the good and bad state\n"
    "                           (default 0 and 1)\n"
    "  --drop-every N[:K]       drop the last K (default 1) of every N sequence numbers\n"
    "  --drop-seq A,B,...       drop these sequence numbers\n"
    "  --delay MS               fixed extra delay\n"
    "  --jitter MS[:A-B]        uniform random delay in [-MS, +MS] around the delay\n"
    "                           (sequence numbers A to B only; B may be left out); a\n"
    "                           delay below 0 is none, so give --delay MS or more for\n"
    "                           jitter on both sides\n"
    "  --alternate MS,MS,...    extra delay by sequence number, in turn\n"
    "  --step SEQ:MS            extra delay from sequence number SEQ on\n"
    "  --allow-reorder          let jittered packets overtake each other\n"
    "  --swap-every N[:K]       packets kN+K and kN+K+1 trade places (K below N, default 0)\n"
    "  --reorder P[:MS]         hold a packet back MS (default 50) with probability P\n"
    "  --duplicate P            send a packet twice with probability P\n"
    "  --truncate LEN           cut impaired datagrams to LEN bytes\n"
    "  --rtp                    impair RTP datagrams too, numbered by their RTP sequence\n"
    "                           number (real voice streams, for example from GStreamer)\n"
    "  --impair-all [MIN]       impair end-of-stream and foreign datagrams too (those of at\n"
    "                           least MIN bytes when MIN is given)\n"
    "  --stamp                  impair STAMP test packets (RFC 8762), numbered by the\n"
    "                           sender's sequence number, and their answers by the\n"
    "                           reflector's: two-way tests with pulvo call\n"
    "  --back-OPTION ...        any impairment option above for the datagrams coming\n"
    "                           back (for example --back-loss 0.02 --back-seed 7): they\n"
    "                           are impaired and recorded apart (--back-record FILE)\n"
    "  --record FILE            ground truth, one row per datagram and action\n"
    "  --format csv|jsonl       record format (default csv)\n"
    "  --duration S             stop after S seconds\n"
    "  --idle-exit S            stop S seconds after the last datagram\n"
    "  --help, --version        this text, the version\n"
    "Datagrams coming back from the forward address go to the last sender, untouched\n"
    "unless --stamp or a --back- option is given.\n";

namespace {

// Host names for --listen-addr and --forward-addr, resolved once: to the
// family of the other address when that one is a literal.
bool resolveNames(RelayOptions& o, std::string& error) {
  int family = AF_UNSPEC;
  for (const std::string* text : {&o.listenAddress, &o.forwardAddress}) {
    if (!namesAHost(*text)) family = isIPv6Text(text->c_str()) ? AF_INET6 : AF_INET;
  }
  for (std::string* text : {&o.listenAddress, &o.forwardAddress}) {
    if (!namesAHost(*text)) continue;
    std::string address, reason;
    if (!resolveHostName(*text, family, &address, &reason)) {
      error = *text + " does not resolve: " + reason;
      return false;
    }
    *text = address;
    family = isIPv6Text(address.c_str()) ? AF_INET6 : AF_INET;
  }
  return true;
}

bool toDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && out == out;
}

bool toInt(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && out >= low && out <= high;
}

bool probability(const std::string& text, double& out) {
  return toDouble(text, out) && out >= 0.0 && out <= 1.0;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back("");
  return parts;
}

// "A-B" or "A-": sequence numbers A to B, or A on.
bool sequenceRange(const std::string& text, uint32_t& from, uint32_t& to) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return false;
  long long a = 0, b = UINT32_MAX;
  if (!toInt(text.substr(0, dash), 0, UINT32_MAX, a)) return false;
  if (dash + 1 < text.size() && !toInt(text.substr(dash + 1), a, UINT32_MAX, b)) return false;
  from = static_cast<uint32_t>(a);
  to = static_cast<uint32_t>(b);
  return true;
}

bool millis(const std::string& text, long long low, int64_t& micros) {
  double ms;
  if (!toDouble(text, ms) || ms < low || ms > 3600000) return false;
  micros = static_cast<int64_t>(ms * 1000.0);
  return true;
}

}  // namespace

namespace {

enum class Parsed { Ok, Bad, Unknown };

Parsed parsedIf(bool ok) { return ok ? Parsed::Ok : Parsed::Bad; }

// An impairment option's value (either way's): Unknown for another option.
Parsed impairmentValue(const std::string& name, const std::string& value, ImpairmentSettings& s) {
  long long n = 0;
  const std::vector<std::string> colon = split(value, ':');
  const bool oneOrTwo = colon.size() == 1 || colon.size() == 2;
  if (name == "--loss") {
    return parsedIf(oneOrTwo && probability(colon[0], s.lossProbability) &&
                    (colon.size() == 1 || sequenceRange(colon[1], s.lossFrom, s.lossTo)));
  }
  if (name == "--ge") {
    std::vector<std::string> p = split(value, ',');
    s.gilbertElliott =
        (p.size() == 2 || p.size() == 4) && probability(p[0], s.geGoodToBad) &&
        probability(p[1], s.geBadToGood) &&
        (p.size() == 2 || (probability(p[2], s.geLossGood) && probability(p[3], s.geLossBad)));
    return parsedIf(s.gilbertElliott);
  }
  if (name == "--drop-every") {
    long long run = 1;
    const bool ok = oneOrTwo && toInt(colon[0], 1, UINT32_MAX, n) &&
                    (colon.size() == 1 || toInt(colon[1], 1, n, run));
    s.dropEvery = static_cast<uint32_t>(n);
    s.dropRun = static_cast<uint32_t>(run);
    return parsedIf(ok);
  }
  if (name == "--drop-seq") {
    bool ok = true;
    for (const std::string& part : split(value, ',')) {
      ok = ok && toInt(part, 0, UINT32_MAX, n);
      s.dropSequences.push_back(static_cast<uint32_t>(n));
    }
    return parsedIf(ok);
  }
  if (name == "--delay") return parsedIf(millis(value, 0, s.delayMicros));
  if (name == "--jitter") {
    return parsedIf(oneOrTwo && millis(colon[0], 0, s.jitterMicros) &&
                    (colon.size() == 1 || sequenceRange(colon[1], s.jitterFrom, s.jitterTo)));
  }
  if (name == "--alternate") {
    bool ok = true;
    for (const std::string& part : split(value, ',')) {
      int64_t micros = 0;
      ok = ok && millis(part, 0, micros);
      s.alternatingMicros.push_back(micros);
    }
    return parsedIf(ok);
  }
  if (name == "--step") {
    const bool ok = colon.size() == 2 && toInt(colon[0], 0, UINT32_MAX, n) &&
                    millis(colon[1], 0, s.stepMicros);
    s.stepFromSequence = static_cast<uint32_t>(n);
    return parsedIf(ok);
  }
  if (name == "--swap-every") {
    long long offset = 0;
    const bool ok = oneOrTwo && toInt(colon[0], 2, UINT32_MAX, n) &&
                    (colon.size() == 1 || toInt(colon[1], 0, n - 1, offset));
    s.swapEvery = static_cast<uint32_t>(n);
    s.swapOffset = static_cast<uint32_t>(offset);
    return parsedIf(ok);
  }
  if (name == "--reorder") {
    return parsedIf(oneOrTwo && probability(colon[0], s.reorderProbability) &&
                    (colon.size() == 1 || millis(colon[1], 0, s.reorderHoldMicros)));
  }
  if (name == "--duplicate") return parsedIf(probability(value, s.duplicateProbability));
  if (name == "--truncate") {
    const bool ok = toInt(value, 0, 65535, n);
    s.truncateLength = static_cast<int>(n);
    return parsedIf(ok);
  }
  return Parsed::Unknown;
}

// The relay's own options with a value: Unknown for another option.
Parsed relayValue(const std::string& name, const std::string& value, RelayOptions& o) {
  long long n = 0;
  if (name == "--listen" || name == "--forward") {
    const bool ok = toInt(value, 1, 65535, n);
    (name == "--listen" ? o.listenPort : o.forwardPort) = static_cast<int>(n);
    return parsedIf(ok);
  }
  if (name == "--listen-addr") o.listenAddress = value;
  else if (name == "--forward-addr") o.forwardAddress = value;
  else if (name == "--record") o.recordPath = value;
  else if (name == "--back-record") o.backRecordPath = value, o.twoWay = true;
  else if (name == "--format") {
    o.recordJson = value == "jsonl";
    return parsedIf(value == "csv" || value == "jsonl");
  } else if (name == "--duration") {
    return parsedIf(toDouble(value, o.durationSeconds) && o.durationSeconds > 0);
  } else if (name == "--idle-exit") {
    return parsedIf(toDouble(value, o.idleExitSeconds) && o.idleExitSeconds > 0);
  } else {
    return Parsed::Unknown;
  }
  return Parsed::Ok;
}

// The options of the way there that the way back cannot have.
bool oneWayOnly(const std::string& name) {
  for (const char* only : {"--listen", "--forward", "--listen-addr", "--forward-addr", "--record",
                           "--format", "--duration", "--idle-exit", "--stamp", "--help",
                           "--version"}) {
    if (name == only) return true;
  }
  return false;
}

}  // namespace

bool ParseRelayOptions(int argc, const char* const* argv, RelayOptions& o, std::string& error) {
  bool backSeedGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    // "--back-loss" is "--loss" for the way back.
    const bool back = name.rfind("--back-", 0) == 0 && name != "--back-record";
    if (back) {
      name = "--" + name.substr(7);
      o.twoWay = true;
      if (oneWayOnly(name)) {
        error = "unknown option " + std::string(argv[i]);
        return false;
      }
    }
    ImpairmentSettings& s = back ? o.back : o.impairment;
    if (name == "--help" || name == "-h" || name == "--version") {
      o.show = name == "--version" ? RelayOptions::Show::Version : RelayOptions::Show::Usage;
      return true;
    }
    if (name == "--allow-reorder" || name == "--rtp" || name == "--stamp") {
      if (name == "--allow-reorder") s.allowReorder = true;
      if (name == "--rtp") s.rtp = true;
      if (name == "--stamp") o.impairment.stamp = o.back.stamp = o.twoWay = true;
      continue;
    }
    if (name == "--impair-all") {
      s.impairAll = true;
      long long minimum = 0;
      if (i + 1 < argc && toInt(argv[i + 1], 0, 65535, minimum)) {
        s.impairMinLength = static_cast<size_t>(minimum);
        ++i;
      }
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value for " + name;
      return false;
    }
    const std::string value = argv[++i];
    Parsed parsed;
    if (name == "--seed") {
      long long n = 0;
      parsed = parsedIf(toInt(value, 0, INT64_MAX, n));
      s.seed = static_cast<uint64_t>(n);
      backSeedGiven = backSeedGiven || back;
    } else {
      parsed = impairmentValue(name, value, s);
      if (parsed == Parsed::Unknown) parsed = relayValue(name, value, o);
    }
    if (parsed == Parsed::Unknown) {
      error = "unknown option " + name;
      return false;
    }
    if (parsed == Parsed::Bad) {
      error = "invalid value for " + name + ": " + value;
      return false;
    }
  }
  // The way back draws its own random numbers unless told otherwise.
  if (!backSeedGiven) o.back.seed = o.impairment.seed + 1;
  if (o.listenPort == 0 || o.forwardPort == 0) {
    error = "--listen and --forward are required";
    return false;
  }
  return resolveNames(o, error);
}
