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

bool ParseRelayOptions(int argc, const char* const* argv, RelayOptions& o, std::string& error) {
  bool backSeedGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    // "--back-loss" is "--loss" for the way back.
    const bool back = name.rfind("--back-", 0) == 0 && name != "--back-record";
    if (back) {
      name = "--" + name.substr(7);
      o.twoWay = true;
      if (name == "--listen" || name == "--forward" || name == "--listen-addr" ||
          name == "--forward-addr" || name == "--record" || name == "--format" ||
          name == "--duration" || name == "--idle-exit" || name == "--stamp" || name == "--help" ||
          name == "--version") {
        error = "unknown option " + std::string(argv[i]);
        return false;
      }
    }
    ImpairmentSettings& s = back ? o.back : o.impairment;
    auto flag = [&](const char* n) { return name == n; };
    if (flag("--help") || flag("-h") || flag("--version")) {
      o.show = flag("--version") ? RelayOptions::Show::Version : RelayOptions::Show::Usage;
      return true;
    }
    if (flag("--allow-reorder")) {
      s.allowReorder = true;
      continue;
    }
    if (flag("--rtp")) {
      s.rtp = true;
      continue;
    }
    if (flag("--stamp")) {
      o.impairment.stamp = o.back.stamp = o.twoWay = true;
      continue;
    }
    if (flag("--impair-all")) {
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
    const std::string bad = "invalid value for " + name + ": " + value;
    long long n = 0;
    bool ok = true;
    if (flag("--listen") || flag("--forward")) {
      ok = toInt(value, 1, 65535, n);
      (flag("--listen") ? o.listenPort : o.forwardPort) = static_cast<int>(n);
    } else if (flag("--listen-addr")) {
      o.listenAddress = value;
    } else if (flag("--forward-addr")) {
      o.forwardAddress = value;
    } else if (flag("--seed")) {
      ok = toInt(value, 0, INT64_MAX, n);
      s.seed = static_cast<uint64_t>(n);
      backSeedGiven = backSeedGiven || back;
    } else if (flag("--loss")) {
      std::vector<std::string> p = split(value, ':');
      ok = (p.size() == 1 || p.size() == 2) && probability(p[0], s.lossProbability) &&
           (p.size() == 1 || sequenceRange(p[1], s.lossFrom, s.lossTo));
    } else if (flag("--ge")) {
      std::vector<std::string> p = split(value, ',');
      ok = (p.size() == 2 || p.size() == 4) && probability(p[0], s.geGoodToBad) &&
           probability(p[1], s.geBadToGood) &&
           (p.size() == 2 || (probability(p[2], s.geLossGood) && probability(p[3], s.geLossBad)));
      s.gilbertElliott = ok;
    } else if (flag("--drop-every")) {
      std::vector<std::string> p = split(value, ':');
      long long run = 1;
      ok = (p.size() == 1 || p.size() == 2) && toInt(p[0], 1, UINT32_MAX, n) &&
           (p.size() == 1 || toInt(p[1], 1, n, run));
      s.dropEvery = static_cast<uint32_t>(n);
      s.dropRun = static_cast<uint32_t>(run);
    } else if (flag("--drop-seq")) {
      for (const std::string& part : split(value, ',')) {
        ok = ok && toInt(part, 0, UINT32_MAX, n);
        s.dropSequences.push_back(static_cast<uint32_t>(n));
      }
    } else if (flag("--delay")) {
      ok = millis(value, 0, s.delayMicros);
    } else if (flag("--jitter")) {
      std::vector<std::string> p = split(value, ':');
      ok = (p.size() == 1 || p.size() == 2) && millis(p[0], 0, s.jitterMicros) &&
           (p.size() == 1 || sequenceRange(p[1], s.jitterFrom, s.jitterTo));
    } else if (flag("--alternate")) {
      for (const std::string& part : split(value, ',')) {
        int64_t micros = 0;
        ok = ok && millis(part, 0, micros);
        s.alternatingMicros.push_back(micros);
      }
    } else if (flag("--step")) {
      std::vector<std::string> p = split(value, ':');
      ok = p.size() == 2 && toInt(p[0], 0, UINT32_MAX, n) && millis(p[1], 0, s.stepMicros);
      s.stepFromSequence = static_cast<uint32_t>(n);
    } else if (flag("--swap-every")) {
      std::vector<std::string> p = split(value, ':');
      long long offset = 0;
      ok = (p.size() == 1 || p.size() == 2) && toInt(p[0], 2, UINT32_MAX, n) &&
           (p.size() == 1 || toInt(p[1], 0, n - 1, offset));
      s.swapEvery = static_cast<uint32_t>(n);
      s.swapOffset = static_cast<uint32_t>(offset);
    } else if (flag("--reorder")) {
      std::vector<std::string> p = split(value, ':');
      ok = (p.size() == 1 || p.size() == 2) && probability(p[0], s.reorderProbability) &&
           (p.size() == 1 || millis(p[1], 0, s.reorderHoldMicros));
    } else if (flag("--duplicate")) {
      ok = probability(value, s.duplicateProbability);
    } else if (flag("--truncate")) {
      ok = toInt(value, 0, 65535, n);
      s.truncateLength = static_cast<int>(n);
    } else if (flag("--record")) {
      o.recordPath = value;
    } else if (flag("--back-record")) {
      o.backRecordPath = value;
      o.twoWay = true;
    } else if (flag("--format")) {
      ok = value == "csv" || value == "jsonl";
      o.recordJson = value == "jsonl";
    } else if (flag("--duration")) {
      ok = toDouble(value, o.durationSeconds) && o.durationSeconds > 0;
    } else if (flag("--idle-exit")) {
      ok = toDouble(value, o.idleExitSeconds) && o.idleExitSeconds > 0;
    } else {
      error = "unknown option " + name;
      return false;
    }
    if (!ok) {
      error = bad;
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
