#ifndef PULVO_PARAM_DESCRIPTORS_H
#define PULVO_PARAM_DESCRIPTORS_H

// Every command's parameters, each described once: its names, its value
// until the user gives one, its range and its help line. The parameter
// sets, the range checks, the warnings of send and recv, the help and the
// usage text's ranges are all read from here.

#include <string>
#include <vector>

enum class ParamKind {
  Number,  // a whole number within [low, high]
  Text,    // free text: an address, a file
  Name,    // one of a few words (codec, fec, mode); read by its own conversion
};

struct ParamDescriptor {
  const char* longName;
  const char* shortName;
  const char* initial;  // the value text until the user gives one
  const char* shown;    // the default as the user writes it; null: `initial`
  ParamKind kind;
  long low, high;  // Number only
  const char* description;  // the help's, with its unit or the words it takes

  const char* Shown() const { return shown != nullptr ? shown : initial; }
};

// The parameters of a command ("send", "recv", ...), in the order the help
// lists them and the newer commands check their ranges; empty for an
// unknown command. The list lives as long as the process.
const std::vector<ParamDescriptor>& ParamDescriptors(const std::string& command);

#endif  // PULVO_PARAM_DESCRIPTORS_H
