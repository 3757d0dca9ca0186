#include "cmd_param.h"

#include <climits>
#include <cstdlib>
#include <map>

#include "plv_exception.h"

long ParseLongValue(const std::string& text) {
  // strtol reads what atol reads and saturates at LONG_MIN and LONG_MAX.
  return std::strtol(text.c_str(), nullptr, 10);
}

CmdParamSetBase::CmdParamSetBase(const std::string& command)
    : CmdParamSetBase(command, ParamDescriptors(command)) {}

CmdParamSetBase::CmdParamSetBase(std::string command, const std::vector<ParamDescriptor>& list)
    : cmdName(std::move(command)), descriptors(&list) {
  for (const ParamDescriptor& d : list) values.push_back(d.initial);
}

size_t CmdParamSetBase::IndexOf(const std::string& name) const {
  size_t i = 0;
  for (const ParamDescriptor& d : *descriptors) {
    if (name == d.longName || name == d.shortName) break;
    ++i;
  }
  return i;
}

const ParamDescriptor* CmdParamSetBase::Find(const std::string& name) const {
  const size_t i = IndexOf(name);
  return i < descriptors->size() ? &(*descriptors)[i] : nullptr;
}

void CmdParamSetBase::SetCmdParamInputValue(const std::string& name, std::string value) {
  const size_t i = IndexOf(name);
  if (i == descriptors->size()) return;
  values[i] = std::move(value);
  given.insert((*descriptors)[i].longName);
}

const std::string& CmdParamSetBase::Text(const std::string& name) const {
  const size_t i = IndexOf(name);
  if (i == descriptors->size()) throw PLV_exception(cmdName + " has no parameter " + name);
  return values[i];
}

unsigned long CmdParamSetBase::Number(const std::string& name) const {
  const long value = ParseLongValue(Text(name));
  return value >= 0 ? value : 0;
}

unsigned long CmdParamSetBase::Millis(const std::string& name) const {
  const long value = ParseLongValue(Text(name));
  if (value < 0) return 0;
  // Saturate rather than overflow for absurdly large second counts.
  return value > LONG_MAX / 1000 ? LONG_MAX : value * 1000;
}

std::string CmdParamSetBase::PrintAllParams() const {
  std::map<std::string, size_t> byName;
  for (size_t i = 0; i < descriptors->size(); ++i) {
    byName.insert({(*descriptors)[i].longName, i});
    byName.insert({(*descriptors)[i].shortName, i});
  }
  std::string text;
  size_t previous = descriptors->size();
  for (const auto& [name, i] : byName) {
    if (i != previous) text += std::string((*descriptors)[i].longName) + " " + values[i] + "\n";
    previous = i;
  }
  return text;
}

std::string CmdParamSetBase::FirstValueOutOfRange() const {
  for (const ParamDescriptor& d : *descriptors) {
    if (d.kind != ParamKind::Number) continue;
    const std::string& text = Text(d.longName);
    const std::string name = d.longName, low = std::to_string(d.low),
                      high = std::to_string(d.high);
    // "2.9", "-5" or "5s" would be read as another number: refused as they stand.
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return name + " " + text + " is not a whole number from " + low + " to " + high;
    }
    const long long value = static_cast<long long>(Number(name));
    if (value < d.low || value > d.high) {
      return name + " " + std::to_string(value) + " is out of its range " + low + " - " + high;
    }
  }
  return "";
}
