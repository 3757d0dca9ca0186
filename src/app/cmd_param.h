#ifndef PULVO_CMD_PARAM_H
#define PULVO_CMD_PARAM_H

// A command's parameters: the value texts the user gave, or the initial
// ones of their descriptors. Values stay text until they are read.

#include <set>
#include <string>
#include <vector>

#include "param_descriptors.h"

// The C library's atol, but saturating at the limits of long instead of
// overflowing: leading blanks, an optional sign, digits up to the first other
// character; 0 without digits.
long ParseLongValue(const std::string& text);

// Each parameter answers to its long and its short name.
class CmdParamSetBase {
 public:
  // The parameters of `command` (ParamDescriptors), each at its initial
  // value; none for a command there is not.
  explicit CmdParamSetBase(const std::string& command);
  // `list` must outlive the set.
  CmdParamSetBase(std::string command, const std::vector<ParamDescriptor>& list);
  virtual ~CmdParamSetBase() = default;

  const std::string& CmdName() const { return cmdName; }
  const std::vector<ParamDescriptor>& Descriptors() const { return *descriptors; }

  // The parameter with this long or short name (exact match); null when none.
  const ParamDescriptor* Find(const std::string& name) const;
  // Stores a new value text for the parameter called `name`; an unknown name
  // is ignored.
  void SetCmdParamInputValue(const std::string& name, std::string value);
  // Whether the user gave a value for the parameter with this long name.
  bool WasGiven(const std::string& longName) const { return given.count(longName) != 0; }

  // The value of the parameter called `name`. A name the set does not have
  // is the front end's mistake: PLV_exception.
  const std::string& Text(const std::string& name) const;
  // As ParseLongValue reads it, never negative.
  unsigned long Number(const std::string& name) const;
  // Taken as seconds, in milliseconds; never negative, saturating.
  unsigned long Millis(const std::string& name) const;

  // "long-name value" lines in the order of every long and short name, as
  // a map keyed by both lists them: a parameter comes again when another's
  // name sorts between its two.
  std::string PrintAllParams() const;
  // The first number, in the order of the descriptors, whose text is not a
  // whole number ("name text is not a whole number from low to high") or
  // whose value lies outside its range ("name value is out of its range low
  // - high"); empty when every one is within.
  std::string FirstValueOutOfRange() const;

 private:
  size_t IndexOf(const std::string& name) const;  // descriptors->size() when none

  std::string cmdName;
  const std::vector<ParamDescriptor>* descriptors;
  std::vector<std::string> values;  // one per descriptor
  std::set<std::string> given;      // long names
};

#endif  // PULVO_CMD_PARAM_H
