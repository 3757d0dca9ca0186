#ifndef PULVO_MAIN_H
#define PULVO_MAIN_H

// The command-line front end: general options, the command and its
// name=value list, the runners, and the mapping of outcomes to exit codes.
// Messages go to standard error, results to standard output.

#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include "cmd_param_sets.h"
#include "input_checks.h"
#include "live_outputs.h"
#include "tesk.h"
#include "tesk_analyze.h"
#include "tesk_stamp.h"

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

// The sender's local address when it was not given: 127.0.0.1 towards an
// IPv4 loopback address (or a text that is no address), ::1 towards the
// IPv6 loopback, and the unspecified address of the receiver's family (the
// kernel chooses the source) towards any other host.
void ChooseSenderLocalAddress(SendCmdParams& params);

// The line written to standard error when a test ends with a library
// error: "pulvo: " + the code's name + ": " + the library's reason.
std::string FailureLine(int libraryResult);

// Splits a command argument into the command name and its parameter text,
// both pointing into `buffer`. Null when the argument holds no name.
typedef char CommandBuffer[256];
char* SplitCommandArgument(const char* argument, CommandBuffer& buffer, char** parameterText);

// The values a runner is built from, read from a parameter set in the
// order and with the conversions the runners expect.
TeskSendSettings ReadSendSettings(const SendCmdParams& params);
TeskReceiveSettings ReadReceiveSettings(const ReceiveCmdParams& params);

struct AnalyzerValues {
  TeskWindowSettings window;
  std::string file;
  unsigned short port;
  unsigned int stream;
  int codec;
  int events;  // payload type of telephone events; 0: any other dynamic type
};
// The values, and in `error` the first value out of its range (the
// library would see it narrowed, as a different value), or nothing.
AnalyzerValues ReadAnalyzerValues(const AnalyzeCmdParams& params, std::string* error);

// Whether the library will refuse these values itself (its numeric rules):
// then its own error line says what is wrong, and no warning is added.
bool LibraryRefusesSender(const TeskSendSettings& v);
bool LibraryRefusesReceiver(const TeskReceiveSettings& v);

// The reflector's counts at its end, as one text line.
std::string FormatReflectorCounts(const TeskReflectorCounts& counts);
// The same as the JSON object of reflect -j.
std::string ReflectorCountsJson(const TeskReflectorCounts& counts);

// The counts of a capture, for the verbose display.
std::string CaptureCountsText(const TeskCaptureCounts& counts);

class PulvoMain {
 public:
  static constexpr int kContinue = -1;

  // Applies the options; `commandIndex` becomes the last argument that does
  // not start with '-'. Returns the exit code when the process must end now
  // (-h, or -V alone), kContinue otherwise.
  int ParseCommandLineOptions(int argc, char** argv, OnOffOptionSet& options, int& commandIndex);
  int ReadValueOption(int argc, char** argv, int& i, bool* known);
  int ParseAndStartSender(const OnOffOptionSet& options, SendCmdParams* params,
                          char* parameterText);
  int ParseAndStartReceiver(const OnOffOptionSet& options, ReceiveCmdParams* params,
                            char* parameterText);
  int ParseAndStartAnalyzer(const OnOffOptionSet& options, AnalyzeCmdParams* params,
                            char* parameterText);
  int ParseAndStartReflector(const OnOffOptionSet& options, ReflectCmdParams* params,
                             char* parameterText);
  int ParseAndStartCall(const OnOffOptionSet& options, CallCmdParams* params,
                        char* parameterText);
  int ParseAndStartProbe(const OnOffOptionSet& options, ProbeCmdParams* params,
                         char* parameterText);
  // Stores every name=value pair; unknown names draw a line on standard
  // error (send and recv), or with `refused` are listed there, as is a last
  // name without a value.
  void ParseCommandParameters(CmdParamSetBase* params, char* parameterText,
                              std::vector<std::string>* refused = nullptr);
  // The newer commands' reading: an unknown name or a name without a value
  // is a parameter error, said on standard error; false then.
  bool ParseParametersStrictly(CmdParamSetBase* params, char* parameterText);
  // The newer commands' whole reading: the text's shape, the names and
  // values, the host names among `addresses`, then the warnings (refused
  // with --strict); false after the line that says why.
  bool ReadParametersStrictly(const OnOffOptionSet& options, CmdParamSetBase* params,
                              char* parameterText, std::initializer_list<const char*> addresses,
                              std::ostream& verbose);
  // Resolves the host names among the address parameters `names`, saying
  // with -v on `verbose` what each became. A name that does not resolve is
  // a parameter error (false, after its line), or with `refuseUnresolved`
  // false a warning, the text left as it was.
  bool ResolveAddresses(const OnOffOptionSet& options, CmdParamSetBase* params,
                        std::initializer_list<const char*> names, std::ostream& verbose,
                        bool refuseUnresolved = true);
  int normalizeErrorCode(int code) { return code < 0 ? -code : code; }
  void display_usage() const;
  // The line on standard error, after the usage text, that names the
  // commands the usage text does not.
  void PointToFullHelp() const;

  // The library result made positive, or 128 + the signal that interrupted
  // the test.
  int ExitCodeOf(int libraryResult);

  // Everything main does after the options; returns the exit code.
  int Run(int argc, char** argv);

  // The files of --json-lines and --metrics; empty when not given.
  const std::string& JsonLinesPath() const { return jsonLinesPath; }
  const std::string& MetricsPath() const { return metricsPath; }
  // --emodel: the E-model's rating in the text lines and the -j objects.
  bool EModel() const { return emodel; }
  // --one-way-delay: what the conversational rating of recv and analyze
  // takes for the network's one-way delay (ms); call and probe measure it.
  double OneWayDelay() const { return oneWayDelayMs; }
  bool OneWayDelayGiven() const { return !oneWayDelayText.empty(); }

 private:
  // A long option without a value (--strict, --help, ...): true when
  // `argument` is one, with `exitCode` set when the process must end now.
  bool ReadFlagOption(const char* argument, int* exitCode);
  // A one-letter option ("-v"): the exit code when the process must end now
  // (-h, or -V alone), kContinue otherwise.
  int ReadLetterOption(char* argument, int argc, OnOffOptionSet& options);
  // Opens the live outputs for a test, when asked for; false (after a line
  // on standard error) when a file cannot be written.
  bool OpenLiveOutputs(const TestDescription& test);
  // Writes the end line and the final metrics of a test.
  void EndLiveOutputs(int exitCode, int libraryResult);
  // Says every input read otherwise than written (the options', the
  // command's and the environment's) on standard error; false when --strict
  // makes them a parameter error.
  bool ReportInputWarnings(InputWarnings warnings);

  std::string jsonLinesPath, metricsPath;
  bool emodel = false;
  std::string oneWayDelayText;
  double oneWayDelayMs = 0.0;
  bool strict = false;               // --strict: a reinterpreted input is an error
  bool helpAsked = false;            // "help" before the command, or as the command
  InputWarnings optionWarnings;      // from the general options
  LiveOutputs* live = nullptr;  // lives until the process exits, as the runners do
};

// "addr:port", "[v6]:port": an end as the live outputs name it.
std::string EndText(const std::string& address, unsigned short port);
TestParameter TextParameter(const char* key, const std::string& value);
TestParameter NumberParameter(const char* key, uint64_t value);
// The parameters of a test that is about to start, with -v.
void PrintParametersIfVerbose(const OnOffOptionSet& options, const char* test,
                              const CmdParamSetBase& params, std::ostream& out = std::cout);

// What the live outputs say about a test, from the values its runner gets.
TestDescription DescribeSender(const TeskSendSettings& v);
TestDescription DescribeReceiver(const TeskReceiveSettings& v);

#endif  // PULVO_MAIN_H
