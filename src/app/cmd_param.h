#ifndef PULVO_CMD_PARAM_H
#define PULVO_CMD_PARAM_H

// Command parameters as small value objects: names, default, the text the
// user gave and the recorded (not enforced) range. Values stay text until
// they are read.

#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

// The C library's atol, but saturating at the limits of long instead of
// overflowing: leading blanks, an optional sign, digits up to the first other
// character; 0 without digits.
long ParseLongValue(const std::string& text);

class CmdParamBase {
 public:
  virtual void SetShortName(std::string name) { shortName = std::move(name); }
  virtual std::string GetShortName() const { return shortName; }
  virtual void SetLongName(std::string name) { longName = std::move(name); }
  virtual std::string GetLongName() const { return longName; }
  virtual void SetDefaultStrValue(std::string value) { defaultStrValue = std::move(value); }
  virtual void SetDefaultLongValue(long value) { defaultLongValue = value; }
  virtual std::string GetValueAsString() const { return inputValue; }
  virtual long GetValueAsLong() const { return ParseLongValue(inputValue); }
  virtual void SetRangeLowLimit(long limit) { rangeLowLimit = limit; }
  virtual void SetRangeHighLimit(long limit) { rangeHighLimit = limit; }
  long long GetRangeLowLimit() const { return rangeLowLimit; }
  long long GetRangeHighLimit() const { return rangeHighLimit; }
  virtual bool operator!=(const CmdParamBase& other);
  virtual std::string StringFrom();

  void SetInputValue(std::string value) { inputValue = std::move(value); }

 private:
  std::string shortName;
  std::string longName;
  std::string defaultStrValue;
  long long defaultLongValue = 0;
  std::string inputValue;
  long long rangeLowLimit = 0;
  long long rangeHighLimit = 0;
  std::string usageText;
};

class CmdParam : public virtual CmdParamBase {
 public:
  CmdParam() = default;
  CmdParam(const CmdParam&) = default;
  // Copies the eight base fields only; a derived parameter assigned from a
  // plain one keeps its own fields and overrides.
  CmdParam& operator=(const CmdParam&) = default;
  long GetValueAsLong() const override { return ParseLongValue(GetValueAsString()); }
  std::string StringFrom() override { return CmdParamBase::StringFrom(); }
};

// The parameters of one command, each stored twice: under its long and its
// short name. Both copies always carry the same value text.
class CmdParamSetBase {
 public:
  virtual ~CmdParamSetBase() = default;
  std::string CmdName() const { return cmdName; }

  // Stores a new value text under both names of the parameter called `name`;
  // an unknown name is ignored.
  virtual void SetCmdParamInputValue(std::string& name, std::string value);
  // Whether the user gave a value for the parameter with this long name.
  bool WasGiven(const std::string& longName) const { return given.count(longName) != 0; }
  // Whether a parameter has this long or short name (exact match).
  virtual bool Find(std::string name) const;
  // Copies the stored parameter into `out`; false (and `out` untouched) when
  // there is none.
  virtual bool Find(std::string name, CmdParam& out);

  void InitStrValueCmdParam(CmdParam& param, std::string longName, std::string shortName,
                            std::string defaultValue);
  void InitLongValueCmdParam(CmdParam& param, std::string longName, std::string shortName,
                             long defaultValue, long lowLimit, long highLimit);

  // "long-name value" lines, one per parameter, in key order.
  std::string PrintAllParams();
  // The long names, in key order.
  std::vector<std::string> LongNames() const;

  // The parameter's current value (refreshed from the set) in milliseconds,
  // taking it as seconds; never negative.
  long GetValueAsMilli(CmdParam& param);
  unsigned long LongToULong(long value) const { return value >= 0 ? value : 0; }
  // The parameter's current value (refreshed from the set) as a number,
  // never negative.
  unsigned long GetValueAsULong(CmdParam& param) {
    Find(param.GetLongName(), param);
    return LongToULong(param.GetValueAsLong());
  }
  // The first of `checked` whose text is not a whole number ("name text is
  // not a whole number from low to high") or whose value lies outside its
  // recorded range ("name value is out of its range low - high"); empty
  // when every one is within.
  std::string FirstOutOfRange(std::initializer_list<CmdParam*> checked);

 protected:
  std::string cmdName;

 private:
  void StoreUnderBothNames(CmdParam& param, const char* what);

  std::map<std::string, CmdParam> params;
  std::set<std::string> given;  // long names
};

#endif  // PULVO_CMD_PARAM_H
