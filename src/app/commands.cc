#include "commands.h"

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

std::vector<Command> table() {
  return {
      {"send", "one direction of a call, sent to pulvo recv", kJsonLines | kMetricsFile,
       ParamDescriptors("send"), make<SendCmdParams>,
       start<SendCmdParams, &PulvoMain::ParseAndStartSender>},
      {"recv", "receives what pulvo send sends and scores every window",
       kJsonLines | kMetricsFile | kEModel | kOneWayDelay, ParamDescriptors("recv"),
       make<ReceiveCmdParams>, start<ReceiveCmdParams, &PulvoMain::ParseAndStartReceiver>},
      {"analyze", "scores the voice streams of a capture file as recv would have",
       kEModel | kOneWayDelay, ParamDescriptors("analyze"), make<AnalyzeCmdParams>,
       start<AnalyzeCmdParams, &PulvoMain::ParseAndStartAnalyzer>},
      {"call", "both directions of a call against a STAMP or TWAMP reflector",
       kJsonLines | kMetricsFile | kEModel, ParamDescriptors("call"), make<CallCmdParams>,
       start<CallCmdParams, &PulvoMain::ParseAndStartCall>},
      {"reflect", "answers STAMP, TWAMP Light and TWAMP test packets", 0,
       ParamDescriptors("reflect"), make<ReflectCmdParams>,
       start<ReflectCmdParams, &PulvoMain::ParseAndStartReflector>},
      {"probe", "many calls from one process, their scores served to Prometheus", kJsonLines,
       ParamDescriptors("probe"), make<ProbeCmdParams>,
       start<ProbeCmdParams, &PulvoMain::ParseAndStartProbe>},
  };
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

void PadTo(std::string& line, size_t column) {
  if (line.size() < column) line.append(column - line.size(), ' ');
}

std::string ParamRow(const ParamDescriptor& p, const char* shown, const char* description) {
  std::string row = std::string("  ") + p.longName + " ";
  PadTo(row, 17);
  row += std::string("| ") + p.shortName + " (" + shown + ") ";
  PadTo(row, 34);
  return row + description;
}

std::string CommandHelp(const Command& command) {
  std::string text = std::string(command.name) + ": " + command.summary + "\n";
  for (const ParamDescriptor& p : command.params) {
    text += ParamRow(p, p.Shown(), p.description);
    if (p.kind == ParamKind::Number) {
      text += "  range: " + std::to_string(p.low) + " - " + std::to_string(p.high);
    }
    text += "\n";
  }
  return text;
}

std::string FullHelpText() {
  std::string text = UsageText();
  text += "Every command and its parameters (pulvo help COMMAND shows one):\n\n";
  for (const Command& command : Commands()) text += CommandHelp(command) + "\n";
  return text;
}
