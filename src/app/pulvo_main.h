#ifndef PULVO_MAIN_H
#define PULVO_MAIN_H

// The command-line front end: general options, the command and its
// name=value list, the runners, and the mapping of outcomes to exit codes.
// Messages go to standard error, results to standard output.

#include <string>

#include "cmd_param_sets.h"

// Exit codes besides 0 and the library results made positive.
constexpr int kExitInvalidCommand = 10;
constexpr int kExitPulvoException = 11;
constexpr int kExitStdException = 20;

// The usage text, every line ended by a newline.
std::string UsageText();

// strtok's rule with an explicit position: skips leading delimiters, ends the
// token at the next delimiter (overwritten with a zero byte) or at the end.
// Null when nothing but delimiters is left.
char* NextToken(char*& cursor, const char* delimiters);

class PulvoMain {
 public:
  // Applies the options; `commandIndex` becomes the last argument that does
  // not start with '-'. -h and a lone -V end the process here.
  void ParseCommandLineOptions(int argc, char** argv, OnOffOptionSet& options, int& commandIndex);
  int ParseAndStartSender(const OnOffOptionSet& options, SendCmdParams* params,
                          char* parameterText);
  int ParseAndStartReceiver(const OnOffOptionSet& options, ReceiveCmdParams* params,
                            char* parameterText);
  // Stores every name=value pair; unknown names draw a line on standard error.
  void ParseCommandParameters(CmdParamSetBase* params, char* parameterText);
  int normalizeErrorCode(int code) { return code < 0 ? -code : code; }
  void display_usage() const;

  // Everything main does after the options; returns the exit code.
  int Run(int argc, char** argv);
};

#endif  // PULVO_MAIN_H
