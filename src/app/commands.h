#ifndef PULVO_COMMANDS_H
#define PULVO_COMMANDS_H

// Every command of the tool in one table: its name, what it does, how its
// parameters read in the help, and how it runs. `pulvo --help` and
// `pulvo help COMMAND` are written from it, and Run dispatches through it.

#include <memory>
#include <string>
#include <vector>

#include "cmd_param.h"

class OnOffOptionSet;
class PulvoMain;

// A parameter's line in the help: the set gives its short name and range.
struct ParamHelp {
  const char* longName;
  const char* defaultText;  // as the user would write it
  const char* description;  // with its unit, or the words it takes
  bool ranged;              // a whole number: its range follows
};

// The long options a command may take.
enum LongOption : unsigned {
  kJsonLines = 1,
  kMetricsFile = 2,
  kEModel = 4,
  kOneWayDelay = 8,
};

struct Command {
  const char* name;
  const char* summary;
  unsigned longOptions;  // LongOption bits: the others it says it ignores
  std::vector<ParamHelp> params;
  std::unique_ptr<CmdParamSetBase> (*makeParams)();
  int (*start)(PulvoMain& front, const OnOffOptionSet& options, CmdParamSetBase& params,
               char* parameterText);
};

const std::vector<Command>& Commands();
// Null when there is no such command.
const Command* FindCommand(const std::string& name);

// "pulvo: probe ignores --emodel: only recv, analyze and call take it", for
// each option in `given` (LongOption bits) that the command does not take.
std::vector<std::string> IgnoredOptionLines(const Command& command, unsigned given);

// One command's help: its summary and a line per parameter.
std::string CommandHelp(const Command& command);
// The usage text, then every command's help.
std::string FullHelpText();

#endif  // PULVO_COMMANDS_H
