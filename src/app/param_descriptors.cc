#include "param_descriptors.h"

#include <iterator>
#include <map>

namespace {

using Param = ParamDescriptor;
constexpr ParamKind kNumber = ParamKind::Number, kText = ParamKind::Text, kName = ParamKind::Name;

// Parameters several commands take with the same default and range.
constexpr Param kTestId = {"testid", "tid", "1", nullptr, kNumber, 0, 2000000000, "Test Id"};
constexpr Param kTimeout = {"timeout", "to", "30", nullptr, kNumber, 1, 60,
                            "Seconds without a packet before the test gives up."};
constexpr Param kWindowSize = {"windowsize", "ws", "4", nullptr, kNumber, 2, 20,
                               "Window size in seconds."};
constexpr Param kSampleInterval = {"sampleinterval", "sai", "1", nullptr, kNumber, 1, 10,
                                   "Sampling interval in seconds."};
constexpr Param kDejitterLength = {"dejitterlength", "dj", "120", nullptr, kNumber, 10, 200,
                                   "Dejittering buffer length in milliseconds."};
constexpr Param kStreamInterval = {"streaminterval", "sti", "20", nullptr, kNumber, 20, 30,
                                   "Stream interval in milliseconds."};
// Held as "0" until given, which reads as G711 and as no FEC (and is what
// the -v listing shows).
constexpr Param kCodec = {"codec", "co", "0", "G711", kName, 0, 0,
                          "Stream codec: G711 or GSM0610."};
constexpr Param kFec = {"fec", "fe", "0", "none", kName, 0, 0,
                        "Stream fec: none, gsmpiggyback1, gsmpiggyback2, gsmpiggyback3."};
constexpr Param kKeyFile = {"keyfile", "kf", "", nullptr, kText, 0, 0,
                            "Shared key file: authenticated mode; empty: unauthenticated."};
constexpr Param kControlPort = {"controlport", "cp", "862", nullptr, kNumber, 1, 65535,
                                "TWAMP-Control's TCP port, with mode=twamp."};
constexpr Param kDuration = {"duration", "du", "0", nullptr, kNumber, 0, 2000000,
                             "Seconds to run; 0: until stopped."};

// In each list, the newer commands check their numbers in its order: the
// first one out of range is the one refused.
constexpr Param kSend[] = {
    kTestId,
    {"localaddr", "la", "127.0.0.1", nullptr, kText, 0, 0,
     "Local IP address that will send packets."},
    {"localport", "lp", "49999", nullptr, kNumber, 10000, 65535, "Local send port."},
    {"remoteaddr", "ra", "127.0.0.1", nullptr, kText, 0, 0,
     "Remote IP address that will receive packets."},
    {"remoteport", "rp", "50000", nullptr, kNumber, 10000, 65535, "Remote receive port."},
    {"testduration", "td", "12", nullptr, kNumber, 10, 600, "Test duration in seconds."},
    {"sampleinterval", "sai", "5", nullptr, kNumber, 1, 10, "Sampling interval in seconds."},
    kStreamInterval, kCodec, kFec};

constexpr Param kReceive[] = {
    kTestId,
    {"localaddr", "la", "127.0.0.1", nullptr, kText, 0, 0,
     "Local IP address that will receive packets."},
    {"localport", "lp", "50000", nullptr, kNumber, 10000, 65535, "Receive port."},
    kTimeout, kWindowSize, kSampleInterval, kDejitterLength};

constexpr Param kAnalyze[] = {
    kTestId,
    {"file", "fi", "", nullptr, kText, 0, 0,
     "The capture (pcap or pcapng, gzip or not); - for standard input."},
    kWindowSize, kSampleInterval, kDejitterLength, kTimeout,
    {"port", "po", "0", nullptr, kNumber, 0, 65535,
     "Only this UDP port (either end); 0: every port."},
    {"stream", "st", "0", nullptr, kNumber, 0, 2000000000,
     "Only this stream (its number in the output); 0: every stream."},
    {"codec", "co", "", nullptr, kName, 0, 0,
     "Codec of dynamic payload types the SIP seen does not name: G711 or GSM0610."},
    {"events", "ev", "0", nullptr, kNumber, 0, 127,
     "Payload type of telephone events; 0: any other dynamic type."}};

constexpr Param kCall[] = {
    kTestId,
    {"localaddr", "la", "", nullptr, kText, 0, 0,
     "Local IP address; empty: any of the remote address's family."},
    {"localport", "lp", "0", nullptr, kNumber, 0, 65535, "Local port; 0: any."},
    {"remoteaddr", "ra", "127.0.0.1", nullptr, kText, 0, 0, "The reflector's IP address."},
    {"remoteport", "rp", "862", nullptr, kNumber, 1, 65535, "The reflector's port."},
    {"testduration", "td", "12", nullptr, kNumber, 2, 86400, "Call duration in seconds."},
    kStreamInterval, kCodec, kFec, kTimeout, kWindowSize, kSampleInterval, kDejitterLength,
    kKeyFile,
    {"dscp", "ds", "46", nullptr, kNumber, 0, 63,
     "DSCP of the requests, asked of the answers too."},
    {"ecn", "ecn", "0", nullptr, kNumber, 0, 3, "ECN of the requests."},
    {"mode", "mo", "stamp", nullptr, kName, 0, 0,
     "stamp (STAMP and TWAMP Light) or twamp (full TWAMP)."},
    kControlPort};

constexpr Param kReflect[] = {
    {"localaddr", "la", "::", nullptr, kText, 0, 0,
     "Local IP address; :: takes IPv4 callers too."},
    {"localport", "lp", "862", nullptr, kNumber, 1, 65535, "Local UDP port."},
    {"maxsessions", "ms", "10000", nullptr, kNumber, 1, 1000000, "Sessions held at once."},
    {"rate", "rt", "1000", nullptr, kNumber, 0, 1000000,
     "Packets a second from one address; 0: no limit."},
    {"idle", "id", "60", nullptr, kNumber, 1, 86400,
     "Seconds after which a silent session is forgotten."},
    {"allow", "al", "", nullptr, kText, 0, 0,
     "Prefixes answered, joined by +; empty: every source."},
    kDuration, kKeyFile,
    {"metrics", "mt", "", nullptr, kText, 0, 0,
     "ADDRESS:PORT of a /metrics endpoint; empty: none."},
    {"mode", "mo", "stamp", nullptr, kName, 0, 0,
     "stamp (STAMP and TWAMP Light) or twamp (TWAMP-Control served too)."},
    kControlPort,
    {"controlconnections", "cc", "64", nullptr, kNumber, 1, 100000,
     "TWAMP-Control connections at once."},
    {"controlpersource", "cps", "8", nullptr, kNumber, 1, 100000,
     "TWAMP-Control connections from one address."},
    {"servwait", "sw", "900", nullptr, kNumber, 1, 86400,
     "Seconds a control connection may stay silent while setting up."},
    {"refwait", "rw", "900", nullptr, kNumber, 1, 86400,
     "Seconds a TWAMP session may stay silent."}};

constexpr Param kProbe[] = {
    {"config", "cf", "/etc/pulvo/probe.conf", nullptr, kText, 0, 0,
     "The configuration file: the paths and /metrics."},
    kDuration};

}  // namespace

const std::vector<ParamDescriptor>& ParamDescriptors(const std::string& command) {
  using List = std::vector<ParamDescriptor>;
  static const std::map<std::string, List> lists = {
      {"send", List(std::begin(kSend), std::end(kSend))},
      {"recv", List(std::begin(kReceive), std::end(kReceive))},
      {"analyze", List(std::begin(kAnalyze), std::end(kAnalyze))},
      {"call", List(std::begin(kCall), std::end(kCall))},
      {"reflect", List(std::begin(kReflect), std::end(kReflect))},
      {"probe", List(std::begin(kProbe), std::end(kProbe))},
  };
  static const List none;
  const auto found = lists.find(command);
  return found != lists.end() ? found->second : none;
}
