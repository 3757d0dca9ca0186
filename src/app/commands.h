#ifndef PULVO_COMMANDS_H
#define PULVO_COMMANDS_H

// Every command of the tool in one table: its name, what it does, its
// parameters' descriptors, and how it runs. `pulvo --help` and
// `pulvo help COMMAND` are written from it, and Run dispatches through it.

#include <memory>
#include <string>
#include <vector>

#include "cmd_param.h"

class OnOffOptionSet;
class PulvoMain;

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
  const std::vector<ParamDescriptor>& params;  // ParamDescriptors(name)
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

// A parameter's row in the usage text's columns: name from 2, "| " at 17,
// short name and default from 19, description from 34 (each after a blank
// when the one before runs over).
std::string ParamRow(const ParamDescriptor& p, const char* shown, const char* description);
void PadTo(std::string& line, size_t column);

// One command's help: its summary and a row per parameter, a number's
// range after its description.
std::string CommandHelp(const Command& command);
// The usage text, then every command's help.
std::string FullHelpText();

#endif  // PULVO_COMMANDS_H
