#include "commands.h"

#include <sstream>

#include "pulvo_main.h"

namespace {

template <typename Params>
std::unique_ptr<CmdParamSetBase> make() {
  return std::make_unique<Params>();
}

template <typename Params, int (PulvoMain::*Start)(const OnOffOptionSet&, Params*, char*)>
int start(PulvoMain& front, const OnOffOptionSet& options, CmdParamSetBase& params, char* text) {
  return (front.*Start)(options, dynamic_cast<Params*>(&params), text);
}

const ParamHelp kTestId = {"testid", "1", "Test Id", true};
const ParamHelp kWindow[] = {
    {"timeout", "30", "Seconds without a packet before the test gives up.", true},
    {"windowsize", "4", "Window size in seconds.", true},
    {"sampleinterval", "1", "Sampling interval in seconds.", true},
    {"dejitterlength", "120", "Dejittering buffer length in milliseconds.", true},
};

std::vector<ParamHelp> withWindow(std::vector<ParamHelp> params) {
  params.insert(params.end(), std::begin(kWindow), std::end(kWindow));
  return params;
}

std::vector<Command> table() {
  return {
      {"send", "one direction of a call, sent to pulvo recv", kJsonLines | kMetricsFile,
       {kTestId,
        {"localaddr", "127.0.0.1", "Local IP address that will send packets.", false},
        {"localport", "49999", "Local send port.", true},
        {"remoteaddr", "127.0.0.1", "Remote IP address that will receive packets.", false},
        {"remoteport", "50000", "Remote receive port.", true},
        {"testduration", "12", "Test duration in seconds.", true},
        {"sampleinterval", "5", "Sampling interval in seconds.", true},
        {"streaminterval", "20", "Stream interval in milliseconds.", true},
        {"codec", "G711", "Stream codec: G711 or GSM0610.", false},
        {"fec", "none", "Stream fec: none, gsmpiggyback1, gsmpiggyback2, gsmpiggyback3.", false}},
       make<SendCmdParams>, start<SendCmdParams, &PulvoMain::ParseAndStartSender>},
      {"recv", "receives what pulvo send sends and scores every window",
       kJsonLines | kMetricsFile | kEModel | kOneWayDelay,
       {kTestId,
        {"localaddr", "127.0.0.1", "Local IP address that will receive packets.", false},
        {"localport", "50000", "Receive port.", true},
        kWindow[0], kWindow[1], kWindow[2], kWindow[3]},
       make<ReceiveCmdParams>, start<ReceiveCmdParams, &PulvoMain::ParseAndStartReceiver>},
      {"analyze", "scores the voice streams of a capture file as recv would have",
       kEModel | kOneWayDelay,
       withWindow({kTestId,
                   {"file", "", "The capture (pcap or pcapng, gzip or not); - for standard input.", false},
                   {"port", "0", "Only this UDP port (either end); 0: every port.", true},
                   {"stream", "0", "Only this stream (its number in the output); 0: every stream.", true},
                   {"codec", "", "Codec of dynamic payload types the SIP seen does not name: G711 or GSM0610.", false},
                   {"events", "0", "Payload type of telephone events; 0: any other dynamic type.", true}}),
       make<AnalyzeCmdParams>, start<AnalyzeCmdParams, &PulvoMain::ParseAndStartAnalyzer>},
      {"call", "both directions of a call against a STAMP or TWAMP reflector",
       kJsonLines | kMetricsFile | kEModel,
       withWindow({kTestId,
                   {"localaddr", "", "Local IP address; empty: any of the remote address's family.", false},
                   {"localport", "0", "Local port; 0: any.", true},
                   {"remoteaddr", "127.0.0.1", "The reflector's IP address.", false},
                   {"remoteport", "862", "The reflector's port.", true},
                   {"testduration", "12", "Call duration in seconds.", true},
                   {"streaminterval", "20", "Stream interval in milliseconds.", true},
                   {"codec", "G711", "Stream codec: G711 or GSM0610.", false},
                   {"fec", "none", "Stream fec: none, gsmpiggyback1, gsmpiggyback2, gsmpiggyback3.", false},
                   {"keyfile", "", "Shared key file: authenticated mode; empty: unauthenticated.", false},
                   {"dscp", "46", "DSCP of the requests, asked of the answers too.", true},
                   {"ecn", "0", "ECN of the requests.", true},
                   {"mode", "stamp", "stamp (STAMP and TWAMP Light) or twamp (full TWAMP).", false},
                   {"controlport", "862", "TWAMP-Control's TCP port, with mode=twamp.", true}}),
       make<CallCmdParams>, start<CallCmdParams, &PulvoMain::ParseAndStartCall>},
      {"reflect", "answers STAMP, TWAMP Light and TWAMP test packets", 0,
       {{"localaddr", "::", "Local IP address; :: takes IPv4 callers too.", false},
        {"localport", "862", "Local UDP port.", true},
        {"maxsessions", "10000", "Sessions held at once.", true},
        {"rate", "1000", "Packets a second from one address; 0: no limit.", true},
        {"idle", "60", "Seconds after which a silent session is forgotten.", true},
        {"allow", "", "Prefixes answered, joined by +; empty: every source.", false},
        {"duration", "0", "Seconds to run; 0: until stopped.", true},
        {"keyfile", "", "Shared key file: authenticated mode; empty: unauthenticated.", false},
        {"metrics", "", "ADDRESS:PORT of a /metrics endpoint; empty: none.", false},
        {"mode", "stamp", "stamp (STAMP and TWAMP Light) or twamp (TWAMP-Control served too).", false},
        {"controlport", "862", "TWAMP-Control's TCP port, with mode=twamp.", true},
        {"controlconnections", "64", "TWAMP-Control connections at once.", true},
        {"controlpersource", "8", "TWAMP-Control connections from one address.", true},
        {"servwait", "900", "Seconds a control connection may stay silent while setting up.", true},
        {"refwait", "900", "Seconds a TWAMP session may stay silent.", true}},
       make<ReflectCmdParams>, start<ReflectCmdParams, &PulvoMain::ParseAndStartReflector>},
      {"probe", "many calls from one process, their scores served to Prometheus", kJsonLines,
       {{"config", "/etc/pulvo/probe.conf", "The configuration file: the paths and /metrics.", false},
        {"duration", "0", "Seconds to run; 0: until stopped.", true}},
       make<ProbeCmdParams>, start<ProbeCmdParams, &PulvoMain::ParseAndStartProbe>},
  };
}

void padTo(std::string& line, size_t column) {
  if (line.size() < column) line.append(column - line.size(), ' ');
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = table();
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::vector<std::string> IgnoredOptionLines(const Command& command, unsigned given) {
  static const std::pair<unsigned, const char*> kOptions[] = {{kJsonLines, "--json-lines"},
                                                              {kMetricsFile, "--metrics"},
                                                              {kEModel, "--emodel"},
                                                              {kOneWayDelay, "--one-way-delay"}};
  std::vector<std::string> lines;
  for (const auto& [bit, option] : kOptions) {
    if ((given & bit) == 0 || (command.longOptions & bit) != 0) continue;
    std::vector<std::string> takers;
    for (const Command& other : Commands()) {
      if ((other.longOptions & bit) != 0) takers.push_back(other.name);
    }
    std::string line = std::string("pulvo: ") + command.name + " ignores " + option + ": only ";
    for (size_t i = 0; i < takers.size(); ++i) {
      line += (i == 0 ? "" : i + 1 == takers.size() ? " and " : ", ") + takers[i];
    }
    lines.push_back(line + (takers.size() == 1 ? " takes it" : " take it"));
  }
  return lines;
}

// The usage text's columns: name from 2, "| " at 17, short name and default
// from 19, description from 34, range after it.
std::string CommandHelp(const Command& command) {
  std::ostringstream out;
  out << command.name << ": " << command.summary << "\n";
  const std::unique_ptr<CmdParamSetBase> set = command.makeParams();
  for (const ParamHelp& p : command.params) {
    CmdParam param;
    set->Find(p.longName, param);
    std::string line = std::string("  ") + p.longName + " ";
    padTo(line, 17);
    line += "| " + param.GetShortName() + " (" + p.defaultText + ") ";
    padTo(line, 34);
    line += p.description;
    if (p.ranged) {
      // send and recv keep the ranges their usage text prints.
      long long low = param.GetRangeLowLimit(), high = param.GetRangeHighLimit();
      for (const PrintedRange& printed : PrintedRanges(command.name)) {
        if (printed.longName == p.longName) low = printed.low, high = printed.high;
      }
      line += "  range: " + std::to_string(low) + " - " + std::to_string(high);
    }
    out << line << "\n";
  }
  return out.str();
}

std::string FullHelpText() {
  std::string text = UsageText();
  text += "Every command and its parameters (pulvo help COMMAND shows one):\n\n";
  for (const Command& command : Commands()) text += CommandHelp(command) + "\n";
  return text;
}
