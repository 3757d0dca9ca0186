#ifndef PULVO_CMD_PARAM_SETS_H
#define PULVO_CMD_PARAM_SETS_H

// The parameter set of each command, one type per command so that each
// runner takes its own; the general options; and how the word parameters
// (codec, fec) are read.

#include <string>

#include "cmd_param.h"
#include "tesk_settings.h"

struct SendCmdParams : CmdParamSetBase { SendCmdParams() : CmdParamSetBase("send") {} };
struct ReceiveCmdParams : CmdParamSetBase { ReceiveCmdParams() : CmdParamSetBase("recv") {} };
struct AnalyzeCmdParams : CmdParamSetBase { AnalyzeCmdParams() : CmdParamSetBase("analyze") {} };
struct ReflectCmdParams : CmdParamSetBase { ReflectCmdParams() : CmdParamSetBase("reflect") {} };
struct CallCmdParams : CmdParamSetBase { CallCmdParams() : CmdParamSetBase("call") {} };
struct ProbeCmdParams : CmdParamSetBase { ProbeCmdParams() : CmdParamSetBase("probe") {} };

// The window a command's testid, timeout, windowsize, sampleinterval and
// dejitterlength give, in the library's units (the test id never negative).
TeskWindowSettings WindowSettingsOf(const CmdParamSetBase& params);

// The number of a FEC name, exactly as written (none 0, gsmpiggyback1-3
// 1-3); -1 for a name that is none of them.
int FecNumber(const std::string& name);
// How send and call read their codec and fec: 1 for "GSM0610" exactly, else
// 0 (G711); the FEC's number, 0 (none) for an unknown name.
unsigned char CodecOrG711(const std::string& name);
unsigned char FecOrNone(const std::string& name);

// The general options that are flags.
class OnOffOptionSet {
 public:
  void setLog(bool enabled) { log = enabled; }
  bool IsLogEnabled() const { return log; }
  void SetVerboseDisplay(bool enabled) { verboseDisplay = enabled; }
  bool IsVerboseDisplayOn() const { return verboseDisplay; }
  void SetResultsAsText(bool enabled) { resultsAsText = enabled; }
  bool IsResultsAsTextOn() const { return resultsAsText; }

 private:
  bool log = false, verboseDisplay = false, resultsAsText = true;
};

#endif  // PULVO_CMD_PARAM_SETS_H
