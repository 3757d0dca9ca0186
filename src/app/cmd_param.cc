#include "cmd_param.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "plv_exception.h"

long ParseLongValue(const std::string& text) {
  // strtol reads what atol reads and saturates at LONG_MIN and LONG_MAX.
  return std::strtol(text.c_str(), nullptr, 10);
}

bool CmdParamBase::operator!=(const CmdParamBase& other) {
  return shortName != other.shortName || longName != other.longName ||
         defaultStrValue != other.defaultStrValue || defaultLongValue != other.defaultLongValue ||
         inputValue != other.inputValue || rangeLowLimit != other.rangeLowLimit ||
         rangeHighLimit != other.rangeHighLimit || usageText != other.usageText;
}

std::string CmdParamBase::StringFrom() {
  std::ostringstream out;
  out << "long name " << longName << " " << "short name " << shortName << " "
      << "default value string " << defaultStrValue << " " << "default value long "
      << defaultLongValue << " " << "input value " << inputValue << " " << "range high limit "
      << rangeHighLimit << " " << "range low limit " << rangeLowLimit << " " << "usage text "
      << usageText;
  return out.str();
}

void CmdParamSetBase::SetCmdParamInputValue(std::string& name, std::string value) {
  auto found = params.find(name);
  if (found == params.end()) return;
  found->second.SetInputValue(value);
  given.insert(found->second.GetLongName());
  const std::string otherName = found->second.GetLongName() == name
                                    ? found->second.GetShortName()
                                    : found->second.GetLongName();
  auto other = params.find(otherName);
  if (other != params.end()) other->second.SetInputValue(value);
}

bool CmdParamSetBase::Find(std::string name) const { return params.count(name) != 0; }

bool CmdParamSetBase::Find(std::string name, CmdParam& out) {
  auto found = params.find(name);
  if (found == params.end()) return false;
  out = found->second;
  return true;
}

void CmdParamSetBase::StoreUnderBothNames(CmdParam& param, const char* what) {
  try {
    params.insert({param.GetLongName(), param});
    params.insert({param.GetShortName(), param});
  } catch (const std::exception& e) {
    throw PLV_exception(std::string(e.what()) + " error during " + what +
                        " command parameter map insertion");
  }
}

void CmdParamSetBase::InitStrValueCmdParam(CmdParam& param, std::string longName,
                                           std::string shortName, std::string defaultValue) {
  CmdParamBase& base = param;
  base.SetLongName(longName);
  base.SetShortName(shortName);
  base.SetDefaultStrValue(defaultValue);
  base.SetInputValue(defaultValue);
  StoreUnderBothNames(param, "string value");
}

void CmdParamSetBase::InitLongValueCmdParam(CmdParam& param, std::string longName,
                                            std::string shortName, long defaultValue,
                                            long lowLimit, long highLimit) {
  CmdParamBase& base = param;
  base.SetLongName(longName);
  base.SetShortName(shortName);
  base.SetDefaultLongValue(defaultValue);
  std::ostringstream text;
  text << defaultValue;
  base.SetInputValue(text.str());
  base.SetRangeHighLimit(highLimit);
  base.SetRangeLowLimit(lowLimit);
  StoreUnderBothNames(param, "long value");
}

std::string CmdParamSetBase::PrintAllParams() {
  std::string text;
  std::string previousLongName;
  for (const auto& entry : params) {
    const std::string longName = entry.second.GetLongName();
    if (longName != previousLongName) {
      text += longName + " " + entry.second.GetValueAsString() + "\n";
    }
    previousLongName = longName;
  }
  return text;
}

std::vector<std::string> CmdParamSetBase::LongNames() const {
  std::vector<std::string> names;
  for (const auto& entry : params) {
    if (entry.first == entry.second.GetLongName()) names.push_back(entry.first);
  }
  return names;
}

std::string CmdParamSetBase::FirstOutOfRange(std::initializer_list<CmdParam*> checked) {
  for (CmdParam* param : checked) {
    const unsigned long value = GetValueAsULong(*param);
    const long long low = param->GetRangeLowLimit(), high = param->GetRangeHighLimit();
    // "2.9", "-5" or "5s" would be read as another number: refused as they stand.
    const std::string text = param->GetValueAsString();
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return param->GetLongName() + " " + text + " is not a whole number from " +
             std::to_string(low) + " to " + std::to_string(high);
    }
    if (static_cast<long long>(value) < low || static_cast<long long>(value) > high) {
      return param->GetLongName() + " " + std::to_string(value) + " is out of its range " +
             std::to_string(low) + " - " + std::to_string(high);
    }
  }
  return "";
}

long CmdParamSetBase::GetValueAsMilli(CmdParam& param) {
  Find(param.GetLongName(), param);
  const long value = param.GetValueAsLong();
  if (value < 0) return 0;
  // Saturate rather than overflow for absurdly large second counts.
  return value > LONG_MAX / 1000 ? LONG_MAX : value * 1000;
}
