#include "pulvo_main.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "address_text.h"
#include "input_checks.h"
#include "interrupt.h"
#include "plv_exception.h"
#include "analyze_results.h"
#include "commands.h"
#include "host_names.h"
#include "metrics_http.h"
#include "probe_metrics.h"
#include "pulvo_runners.h"
#include "tesk.h"

namespace {

// The runner of the test lives until the process exits: a calculation
// thread may still hold its callback while main() ends.
PulvoSender* sender = nullptr;
PulvoReceiver* receiver = nullptr;
}  // namespace

char* NextToken(char*& cursor, const char* delimiters) {
  if (cursor == nullptr) return nullptr;
  char* start = cursor + std::strspn(cursor, delimiters);
  if (*start == '\0') {
    cursor = start;
    return nullptr;
  }
  char* end = start + std::strcspn(start, delimiters);
  if (*end != '\0') {
    *end = '\0';
    cursor = end + 1;
  } else {
    cursor = end;
  }
  return start;
}

// The settings take narrower types than Number and Millis give: the low-order
// bits are kept.
TeskSendSettings ReadSendSettings(const SendCmdParams& params) {
  TeskSendSettings v;
  v.testDuration = static_cast<uint32_t>(params.Millis("testduration"));
  v.codec = CodecOrG711(params.Text("codec"));
  v.fec = FecOrNone(params.Text("fec"));
  v.streamInterval = static_cast<uint8_t>(params.Number("streaminterval"));
  v.packetSize = v.codec == 1 ? 48 : 188;  // bytes of the IP datagram
  v.sampleInterval = static_cast<uint16_t>(params.Millis("sampleinterval"));
  v.localAddress = params.Text("localaddr");
  v.localPort = static_cast<uint16_t>(params.Number("localport"));
  v.remoteAddress = params.Text("remoteaddr");
  v.remotePort = static_cast<uint16_t>(params.Number("remoteport"));
  v.testId = static_cast<uint32_t>(params.Number("testid"));
  return v;
}

TeskReceiveSettings ReadReceiveSettings(const ReceiveCmdParams& params) {
  TeskReceiveSettings v;
  v.localAddress = params.Text("localaddr");
  v.localPort = static_cast<uint16_t>(params.Number("localport"));
  v.window = WindowSettingsOf(params);
  // Not clamped as the sender's is: a negative test id wraps.
  v.window.testId = static_cast<uint32_t>(ParseLongValue(params.Text("testid")));
  return v;
}

AnalyzerValues ReadAnalyzerValues(const AnalyzeCmdParams& params, std::string* error) {
  AnalyzerValues v;
  *error = params.FirstValueOutOfRange();
  v.window = WindowSettingsOf(params);
  v.file = params.Text("file");
  v.port = static_cast<unsigned short>(params.Number("port"));
  v.stream = static_cast<unsigned int>(params.Number("stream"));
  // The codec of dynamic payload types: -1 when not given, -2 for a name
  // that is neither.
  const std::string& codec = params.Text("codec");
  const int codecNumber = teskCodecNumber(codec);
  v.codec = codec.empty() ? -1 : codecNumber >= 0 ? codecNumber : -2;
  v.events = static_cast<int>(params.Number("events"));
  if (error->empty() && v.codec < -1) *error = "codec must be G711 or GSM0610";
  if (error->empty() && v.events != 0 && v.events < 96) {
    *error = "events must be a dynamic payload type (96 to 127)";
  }
  return v;
}

std::string CaptureCountsText(const TeskCaptureCounts& c) {
  std::ostringstream text;
  text << "Capture: " << c.frames << " frames, " << c.udp << " UDP datagrams, " << c.voice
       << " of voice streams, " << c.otherUdp << " other UDP, " << c.filtered
       << " left out by port or stream, " << c.fragments << " IP fragments skipped, " << c.notUdp
       << " not UDP, " << c.truncated << " cut inside a header";
  if (c.sip != 0) text << ", " << c.sip << " SIP messages";
  return text.str();
}

char* SplitCommandArgument(const char* argument, CommandBuffer& buffer, char** parameterText) {
  // At most 255 characters of the argument are looked at.
  std::memset(buffer, 0, sizeof buffer);
  std::strncpy(buffer, argument, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  char* cursor = buffer;
  char* name = NextToken(cursor, ":");
  if (name == nullptr) return nullptr;
  // The parameters start one past the length of the name, counted from the
  // start of the buffer: after "send:" when the argument starts with the name.
  const size_t textOffset = std::strlen(name) + 1;
  *parameterText = textOffset < sizeof buffer ? buffer + textOffset : buffer + sizeof buffer - 1;
  return name;
}

void PrintParametersIfVerbose(const OnOffOptionSet& options, const char* test,
                              const CmdParamSetBase& params, std::ostream& out) {
  if (!options.IsVerboseDisplayOn()) return;
  out << std::endl
            << "Beginning " << test << " test, using the following parameters: " << std::endl
            << params.PrintAllParams() << std::endl;
}

namespace {

// What a runner collected, after its test: the JSON document, or an empty
// line in text mode.
template <typename Runner>
void PrintCollectedResults(Runner& runner) {
  if (runner.FinalizeResults()) {
    std::string results;
    runner.PrintResults(results);
    std::cout << results << std::endl;
  } else {
    std::cerr << "Error finalizing results" << std::endl;
  }
}

// A one-way delay in ms: a plain number from 0 to 10000 (a satellite hop
// and back is 600).
bool ReadOneWayDelay(const std::string& text, double* milliseconds) {
  if (text.empty() || text.size() > 16) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(value >= 0.0 && value <= 10000.0)) return false;
  *milliseconds = value;
  return true;
}

}  // namespace

void PulvoMain::PointToFullHelp() const {
  std::cerr << "pulvo: analyze, call, reflect and probe too: pulvo --help lists every command"
            << std::endl;
}

void PulvoMain::display_usage() const {
  // Line by line, each flushed, like every other front-end line.
  std::istringstream text(UsageText());
  std::string line;
  while (std::getline(text, line)) std::cout << line << std::endl;
}

// Options with a value: "--json-lines FILE" or "--json-lines=FILE". Moves
// `i` past the value it took; an exit code for a value that cannot be
// used, kContinue otherwise.
int PulvoMain::ReadValueOption(int argc, char** argv, int& i, bool* known) {
  for (auto [name, target] : {std::pair<const char*, std::string*>{"--json-lines", &jsonLinesPath},
                              {"--metrics", &metricsPath},
                              {"--one-way-delay", &oneWayDelayText}}) {
    const size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0) continue;
    if (argv[i][length] == '=') {
      *target = argv[i] + length + 1;
    } else if (argv[i][length] == '\0' && i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
      *target = argv[++i];
    } else {
      continue;
    }
    if (target == &oneWayDelayText) {
      if (!ReadOneWayDelay(oneWayDelayText, &oneWayDelayMs)) {
        std::cerr << "pulvo: --one-way-delay takes milliseconds from 0 to 10000, not \""
                  << oneWayDelayText << "\"" << std::endl;
        return kExitPulvoException;
      }
    } else if (target->empty()) {
      std::cerr << "pulvo: " << name << " needs a file name" << std::endl;
      return kExitPulvoException;
    }
    *known = true;
  }
  return kContinue;
}

int PulvoMain::ParseCommandLineOptions(int argc, char** argv, OnOffOptionSet& options,
                                       int& commandIndex) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') {
      commandIndex = i;
      if (std::strcmp(argv[i], "help") == 0) helpAsked = true;
      continue;
    }
    bool knownValueOption = false;
    const int valueExit = ReadValueOption(argc, argv, i, &knownValueOption);
    if (valueExit != kContinue) return valueExit;
    if (knownValueOption) continue;
    int exitCode = kContinue;
    if (!ReadFlagOption(argv[i], &exitCode)) exitCode = ReadLetterOption(argv[i], argc, options);
    if (exitCode != kContinue) return exitCode;
  }
  return kContinue;
}

bool PulvoMain::ReadFlagOption(const char* argument, int* exitCode) {
  // Reached without a value: ReadValueOption takes the ones that have one.
  if (std::strcmp(argument, "--json-lines") == 0 || std::strcmp(argument, "--metrics") == 0) {
    optionWarnings.push_back(std::string(argument) + " needs a file name: nothing is written");
    return true;
  }
  if (std::strcmp(argument, "--strict") == 0) {
    strict = true;
    return true;
  }
  if (std::strcmp(argument, "--emodel") == 0) {
    emodel = true;
    return true;
  }
  // The GNU spellings that users try first.
  if (std::strcmp(argument, "--help") == 0) {
    std::cout << FullHelpText() << std::flush;
    *exitCode = 0;
    return true;
  }
  if (std::strcmp(argument, "--version") == 0) {
    std::cout << "MOS Library Version: " << TeskControl::GetMosVersion() << std::endl;
    *exitCode = 0;
    return true;
  }
  return false;
}

int PulvoMain::ReadLetterOption(char* argument, int argc, OnOffOptionSet& options) {
  char* cursor = argument + 1;
  char* token = NextToken(cursor, " ");
  if (token == nullptr) return kContinue;
  if (std::strlen(token) > 1 && std::strchr("Vhjlv", token[0]) != nullptr) {
    optionWarnings.push_back(std::string("-") + token + ": only -" + token[0] +
                             " applies; give each option on its own");
  }
  switch (token[0]) {
    case 'V':
      std::cout << "MOS Library Version: " << TeskControl::GetMosVersion() << std::endl;
      if (argc == 2) return 0;
      break;
    case 'h':
      display_usage();
      PointToFullHelp();
      return 0;
    case 'j':
      options.SetResultsAsText(false);
      break;
    case 'l': {
      options.setLog(true);
      TeskControl control;
      control.SetEnableLog(true);
      break;
    }
    case 'v':
      options.SetVerboseDisplay(true);
      break;
    default:
      std::cerr << "Invalid option " << "[" << token << "]" << ", ignored" << std::endl;
      break;
  }
  return kContinue;
}

void PulvoMain::ParseCommandParameters(CmdParamSetBase* params, char* parameterText,
                                       std::vector<std::string>* refused) {
  char* cursor = parameterText;
  char* name = NextToken(cursor, "=");
  while (name != nullptr) {
    char* value = NextToken(cursor, ",");
    std::string nameText(name);
    if (value == nullptr) {
      // A trailing name without a value is dropped, or refused.
      if (refused != nullptr) refused->push_back(params->CmdName() + " parameter [" + nameText + "] has no value");
      break;
    }
    if (params->Find(nameText)) {
      params->SetCmdParamInputValue(nameText, value);
    } else if (refused != nullptr) {
      refused->push_back(params->CmdName() + " has no parameter [" + nameText + "]; pulvo help " +
                         params->CmdName() + " lists them");
    } else {
      std::cerr << "Invalid " << params->CmdName() << " parameter [" << nameText << "]"
                << std::endl;
    }
    name = NextToken(cursor, "=");
  }
}

bool PulvoMain::ResolveAddresses(const OnOffOptionSet& options, CmdParamSetBase* params,
                                 std::initializer_list<const char*> names, std::ostream& verbose,
                                 bool refuseUnresolved) {
  std::vector<std::string> resolved;
  std::string error;
  if (!ResolveHostNames(*params, names, &resolved, &error)) {
    if (refuseUnresolved) {
      std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << error << std::endl;
      return false;
    }
    // send and recv: the text goes to the library, which refuses it as it
    // always has (its own line and exit code, which differ by platform).
    std::cerr << "pulvo: warning: " << error << std::endl;
  }
  if (options.IsVerboseDisplayOn()) {
    for (const std::string& line : resolved) verbose << line << std::endl;
  }
  return true;
}

bool PulvoMain::ReadParametersStrictly(const OnOffOptionSet& options, CmdParamSetBase* params,
                                       char* parameterText,
                                       std::initializer_list<const char*> addresses,
                                       std::ostream& verbose) {
  InputWarnings warnings;
  CheckParameterText(parameterText, &warnings);
  return ParseParametersStrictly(params, parameterText) &&
         ResolveAddresses(options, params, addresses, verbose) && ReportInputWarnings(warnings);
}

bool PulvoMain::ParseParametersStrictly(CmdParamSetBase* params, char* parameterText) {
  std::vector<std::string> refused;
  ParseCommandParameters(params, parameterText, &refused);
  if (refused.empty()) return true;
  std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << refused.front() << std::endl;
  return false;
}

bool PulvoMain::ReportInputWarnings(InputWarnings warnings) {
  warnings.insert(warnings.begin(), optionWarnings.begin(), optionWarnings.end());
  CheckTestEnvironment(&warnings);
  for (const std::string& warning : warnings) {
    std::cerr << (strict ? "pulvo: PARAMETER_ERROR: " : "pulvo: warning: ") << warning
              << std::endl;
  }
  return !strict || warnings.empty();
}

int PulvoMain::ParseAndStartSender(const OnOffOptionSet& options, SendCmdParams* params,
                                   char* parameterText) {
  InputWarnings warnings;
  CheckParameterText(parameterText, &warnings);
  ParseCommandParameters(params, parameterText);
  ResolveAddresses(options, params, {"remoteaddr", "localaddr"}, std::cout, false);
  CheckSendValues(*params, &warnings);
  ChooseSenderLocalAddress(*params);
  if (!LibraryRefusesSender(ReadSendSettings(*params)) && !ReportInputWarnings(warnings)) {
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  PrintParametersIfVerbose(options, "Send", *params);
  const TeskSendSettings settings = ReadSendSettings(*params);
  if (!OpenLiveOutputs(DescribeSender(settings))) return kExitPulvoException;
  sender = new PulvoSender(settings, options.IsResultsAsTextOn());
  sender->SetLiveOutputs(live);
  const int result = sender->RunSender();
  PrintCollectedResults(*sender);
  const int exitCode = ExitCodeOf(result);
  EndLiveOutputs(exitCode, result);
  return exitCode;
}

// The sender binds to the loopback address unless told otherwise, which
// only reaches this host. Towards another host the kernel chooses the source
// address for the route (the unspecified address of the receiver's family
// is bound); towards the IPv6 loopback the default is ::1, so that
// "send:ra=::1" works as "send:ra=127.0.0.1" does. Only a remote text that
// is an address changes it: a typo such as "198.51.100.7:5000" keeps the
// IPv4 default and is refused as the address it is not.
void ChooseSenderLocalAddress(SendCmdParams& params) {
  if (params.WasGiven("localaddr")) return;
  const std::string remote = params.Text("remoteaddr");
  const bool ipv6 = IsIPv6Literal(remote);
  if (!ipv6 && !IsIPv4Literal(remote)) return;
  std::string local;
  if (IsLoopbackLiteral(remote)) {
    if (!ipv6) return;  // the designed default
    local = "::1";
  } else {
    local = ipv6 ? "::" : "0.0.0.0";
  }
  params.SetCmdParamInputValue("localaddr", local);
}

int PulvoMain::ParseAndStartReceiver(const OnOffOptionSet& options, ReceiveCmdParams* params,
                                     char* parameterText) {
  InputWarnings warnings;
  CheckParameterText(parameterText, &warnings);
  ParseCommandParameters(params, parameterText);
  ResolveAddresses(options, params, {"localaddr"}, std::cout, false);
  CheckReceiveValues(*params, &warnings);
  if (!LibraryRefusesReceiver(ReadReceiveSettings(*params)) && !ReportInputWarnings(warnings)) {
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  PrintParametersIfVerbose(options, "Receive", *params);
  TeskReceiveSettings settings = ReadReceiveSettings(*params);
  settings.oneWayDelayMs = oneWayDelayMs;
  if (!OpenLiveOutputs(DescribeReceiver(settings))) return kExitPulvoException;
  receiver = new PulvoReceiver(settings, options.IsResultsAsTextOn());
  receiver->SetLiveOutputs(live);
  receiver->ShowEModel(emodel);
  const int result = receiver->RunReceiver();
  PrintCollectedResults(*receiver);
  const int exitCode = ExitCodeOf(result);
  EndLiveOutputs(exitCode, result);
  return exitCode;
}

int PulvoMain::ParseAndStartAnalyzer(const OnOffOptionSet& options, AnalyzeCmdParams* params,
                                     char* parameterText) {
  if (!ReadParametersStrictly(options, params, parameterText, {}, std::cout)) {
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  PrintParametersIfVerbose(options, "Analyze", *params);
  std::string error;
  const AnalyzerValues v = ReadAnalyzerValues(*params, &error);
  if (!error.empty()) {
    std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << error << std::endl;
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  // The analysis runs on this thread alone and is over when analyzeCapture
  // returns: nothing needs to outlive this function.
  AnalyzeResults results(options.IsResultsAsTextOn(), emodel);
  const TeskWindowSettings& w = v.window;
  TeskAnalyzer analyzer(v.file, w.windowSize, w.sampleInterval, w.dejitterLength, w.timeout,
                        w.testId, &results);
  analyzer.setPort(v.port);
  analyzer.setStream(v.stream);
  analyzer.setDynamicPayloadCodec(v.codec);
  analyzer.setEventPayloadType(v.events);
  analyzer.setOneWayDelay(oneWayDelayMs);
  const int result = analyzer.analyzeCapture();
  if (options.IsVerboseDisplayOn()) std::cout << CaptureCountsText(analyzer.counts()) << std::endl;
  results.Print(std::cout);
  if (!options.IsResultsAsTextOn()) std::cout << std::endl;
  std::cout << std::flush;
  return ExitCodeOf(result);
}

namespace {

// The reflector's counts as its text line and its JSON object name them, in
// their order; the TWAMP ones only where it served TWAMP control.
struct ReflectorCount {
  const char* text;
  const char* json;
  unsigned long long TeskReflectorCounts::*value;
  bool twamp;
};
const ReflectorCount kReflectorCounts[] = {
    {"reflected", "Reflected", &TeskReflectorCounts::reflected, false},
    {"received", "Received", &TeskReflectorCounts::received, false},
    {"too short", "TooShort", &TeskReflectorCounts::tooShort, false},
    {"not allowed", "NotAllowed", &TeskReflectorCounts::notAllowed, false},
    {"over rate", "OverRate", &TeskReflectorCounts::overRate, false},
    {"over sessions", "OverSessions", &TeskReflectorCounts::overSessions, false},
    {"sessions", "Sessions", &TeskReflectorCounts::sessions, false},
    {"forgotten", "Forgotten", &TeskReflectorCounts::sessionsForgotten, false},
    {"auth failed", "AuthFailed", &TeskReflectorCounts::authFailed, false},
    {"replayed", "Replayed", &TeskReflectorCounts::replayed, false},
    {"not requested", "NotRequested", &TeskReflectorCounts::notRequested, true},
    {"control connections", "ControlConnections", &TeskReflectorCounts::controlConnections, true},
    {"control refused", "ControlRefused", &TeskReflectorCounts::controlRefused, true},
    {"servwait closed", "ServWaitClosed", &TeskReflectorCounts::servWaitClosed, true},
    {"twamp sessions", "TwampSessions", &TeskReflectorCounts::twampSessions, true},
    {"twamp sessions refused", "TwampSessionsRefused", &TeskReflectorCounts::twampSessionsRefused,
     true},
    {"refwait ended", "RefWaitEnded", &TeskReflectorCounts::refWaitEnded, true},
};

}  // namespace

// "reflected = 98  received = 100  too short = 0  not allowed = 0  over rate = 2  ..."
std::string FormatReflectorCounts(const TeskReflectorCounts& c) {
  std::ostringstream line;
  for (const ReflectorCount& count : kReflectorCounts) {
    if (count.twamp && !c.twamp) continue;
    line << (&count == kReflectorCounts ? "" : "  ") << count.text << " = " << c.*count.value;
  }
  return line.str();
}

// {"Reflected":98,"Received":100,...}
std::string ReflectorCountsJson(const TeskReflectorCounts& c) {
  std::ostringstream object;
  for (const ReflectorCount& count : kReflectorCounts) {
    if (count.twamp && !c.twamp) continue;
    object << (&count == kReflectorCounts ? "{\"" : ",\"") << count.json << "\":" << c.*count.value;
  }
  return object.str() + "}";
}

namespace {

// The reflector, each refusal said once for its source on standard error.
struct SpokenReflector : TeskReflector {
  using TeskReflector::TeskReflector;
  void onRefusal(const std::string& what) override {
    std::cerr << "pulvo: reflect: refused " << what << std::endl;
  }
};

// The reflector's settings from its parameters, and in `error` the first
// one it cannot take, or nothing.
TeskReflectSettings ReflectSettingsOf(const ReflectCmdParams& params, std::string* error) {
  *error = params.FirstValueOutOfRange();
  TeskReflectSettings s;
  s.localAddress = params.Text("localaddr");
  s.localPort = static_cast<unsigned short>(params.Number("localport"));
  s.maxSessions = static_cast<unsigned int>(params.Number("maxsessions"));
  s.perSourceRate = static_cast<unsigned int>(params.Number("rate"));
  s.idleSeconds = static_cast<unsigned int>(params.Number("idle"));
  s.durationMs = static_cast<unsigned int>(params.Millis("duration"));
  s.keyFile = params.Text("keyfile");
  const std::string mode = params.Text("mode");
  if (error->empty() && mode != "stamp" && mode != "twamp") {
    *error = "mode: " + mode + " is neither stamp nor twamp";
  }
  s.twamp = mode == "twamp";
  s.controlPort = static_cast<unsigned short>(params.Number("controlport"));
  s.controlConnections = static_cast<unsigned int>(params.Number("controlconnections"));
  s.controlPerSource = static_cast<unsigned int>(params.Number("controlpersource"));
  s.servWaitSeconds = static_cast<unsigned int>(params.Number("servwait"));
  s.refWaitSeconds = static_cast<unsigned int>(params.Number("refwait"));
  // Prefixes are joined by '+': ',' separates the parameters.
  const std::string allow = params.Text("allow");
  for (size_t start = 0; start < allow.size();) {
    size_t end = allow.find('+', start);
    if (end == std::string::npos) end = allow.size();
    s.allowed.push_back(allow.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& prefix : s.allowed) {
    if (error->empty() && !TeskControl::IsAddressPrefix(prefix)) {
      *error = "allow: " + prefix + " is not an address prefix";
    }
  }
  return s;
}

}  // namespace

int PulvoMain::ParseAndStartReflector(const OnOffOptionSet& options, ReflectCmdParams* params,
                                      char* parameterText) {
  std::ostream& verbose = options.IsResultsAsTextOn() ? std::cout : std::cerr;
  if (!ReadParametersStrictly(options, params, parameterText, {"localaddr"}, verbose)) {
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  PrintParametersIfVerbose(options, "Reflect", *params, verbose);
  std::string error;
  SpokenReflector reflector(ReflectSettingsOf(*params, &error));
  std::string metricsAddress;
  uint16_t metricsPort = 0;
  const std::string metrics = params->Text("metrics");
  if (error.empty() && !metrics.empty() &&
      !ParseMetricsEndpoint(metrics, &metricsAddress, &metricsPort)) {
    error = "metrics: " + metrics + " is not ADDRESS:PORT (127.0.0.1:9862, [::1]:9862)";
  }
  if (!error.empty()) {
    std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << error << std::endl;
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  std::unique_ptr<MetricsEndpoint> endpoint;
  if (!metrics.empty()) {
    endpoint = MetricsEndpoint::Start(
        metricsAddress, metricsPort,
        [&reflector] { return ReflectorMetricsText(reflector.countsNow()); }, &error);
    if (endpoint == nullptr) {
      std::cerr << "pulvo: " << teskErrorName(SOCKET_ERROR) << ": " << error << std::endl;
      return normalizeErrorCode(SOCKET_ERROR);
    }
  }
  const int result = reflector.run();
  endpoint.reset();
  // A reflector that never opened its socket counted nothing: only the reason.
  if (reflector.started()) {
    const TeskReflectorCounts& c = reflector.counts();
    std::cout << (options.IsResultsAsTextOn() ? FormatReflectorCounts(c) : ReflectorCountsJson(c))
              << std::endl;
  }
  // A reflector runs until it is stopped: a stop by signal is its end.
  if (result < 0) std::cerr << FailureLine(result) << std::endl;
  return normalizeErrorCode(result);
}

int PulvoMain::ExitCodeOf(int libraryResult) {
  const int signal = InterruptSignal();
  if (signal != 0) return InterruptExitCode(signal);
  if (libraryResult < 0) std::cerr << FailureLine(libraryResult) << std::endl;
  return normalizeErrorCode(libraryResult);
}

std::string EndText(const std::string& address, unsigned short port) {
  if (address.find(':') != std::string::npos) return "[" + address + "]:" + std::to_string(port);
  return address + ":" + std::to_string(port);
}

TestParameter TextParameter(const char* key, const std::string& value) {
  return {key, value, false, 0};
}
TestParameter NumberParameter(const char* key, uint64_t value) { return {key, "", true, value}; }

namespace {

std::string FecName(unsigned char fec) {
  return fec == 0 ? "none" : "gsmpiggyback" + std::to_string(fec);
}

}  // namespace

// Durations in the units of the command line: seconds, the packet interval
// and the de-jitter length in milliseconds.
TestDescription DescribeSender(const TeskSendSettings& v) {
  TestDescription d;
  d.command = "send";
  d.testId = v.testId;
  d.localEnd = EndText(v.localAddress, v.localPort);
  d.remoteEnd = EndText(v.remoteAddress, v.remotePort);
  d.codec = teskCodecName(v.codec);
  d.parameters = {TextParameter("LocalAddress", v.localAddress), NumberParameter("LocalPort", v.localPort),
                  TextParameter("RemoteAddress", v.remoteAddress), NumberParameter("RemotePort", v.remotePort),
                  TextParameter("Codec", d.codec), TextParameter("FEC", FecName(v.fec)),
                  NumberParameter("StreamInterval", v.streamInterval),
                  NumberParameter("SampleInterval", v.sampleInterval / 1000),
                  NumberParameter("TestDuration", v.testDuration / 1000)};
  return d;
}

TestDescription DescribeReceiver(const TeskReceiveSettings& v) {
  const TeskWindowSettings& w = v.window;
  TestDescription d;
  d.command = "recv";
  d.testId = w.testId;
  d.localEnd = EndText(v.localAddress, v.localPort);
  d.parameters = {TextParameter("LocalAddress", v.localAddress), NumberParameter("LocalPort", v.localPort),
                  NumberParameter("WindowSize", w.windowSize / 1000),
                  NumberParameter("SampleInterval", w.sampleInterval / 1000),
                  NumberParameter("DejitterLength", w.dejitterLength), NumberParameter("Timeout", w.timeout / 1000)};
  return d;
}

bool PulvoMain::OpenLiveOutputs(const TestDescription& test) {
  if (jsonLinesPath.empty() && metricsPath.empty()) return true;
  live = new LiveOutputs();
  std::string error;
  if (!live->Open(jsonLinesPath, metricsPath, test, error)) {
    std::cerr << "pulvo: " << error << std::endl;
    return false;
  }
  live->Start(WallClockSeconds());
  return true;
}

void PulvoMain::EndLiveOutputs(int exitCode, int libraryResult) {
  if (live == nullptr) return;
  std::string reason = "completed";
  if (InterruptSignal() != 0) {
    reason = "interrupted by signal " + std::to_string(InterruptSignal());
  } else if (libraryResult < 0) {
    reason = FailureLine(libraryResult).substr(std::strlen("pulvo: "));
  }
  live->End(WallClockSeconds(), exitCode, reason);
}

std::string FailureLine(int libraryResult) {
  std::string line = std::string("pulvo: ") + teskErrorName(libraryResult);
  const std::string reason = TeskControl::GetLastErrorMessage();
  if (!reason.empty()) line += ": " + reason;
  return line;
}

int PulvoMain::Run(int argc, char** argv) {
  if (argc <= 1) {
    display_usage();
    PointToFullHelp();
    return 0;
  }
  int commandIndex = 1;
  OnOffOptionSet options;
  const int exitNow = ParseCommandLineOptions(argc, argv, options, commandIndex);
  if (exitNow != kContinue) return exitNow;
  CommandBuffer argument;
  char* parameterText = nullptr;
  char* name = SplitCommandArgument(argv[commandIndex], argument, &parameterText);
  if (options.IsVerboseDisplayOn()) {
    // The two-way commands keep standard output for the JSON document.
    const bool twoWay = name != nullptr && (std::string(name) == "call" ||
                                            std::string(name) == "reflect" ||
                                            std::string(name) == "probe");
    std::ostream& out = twoWay && !options.IsResultsAsTextOn() ? std::cerr : std::cout;
    out << "Pulvo Command Tool" << std::endl;
    if (options.IsLogEnabled()) out << "log is enabled." << std::endl;
  }
  if (name == nullptr) return 0;

  try {
    const Command* command = FindCommand(name);
    if (helpAsked && (command != nullptr || std::strcmp(name, "help") == 0)) {
      std::cout << (command != nullptr ? CommandHelp(*command) : FullHelpText()) << std::flush;
      return 0;
    }
    if (command != nullptr) {
      unsigned given = 0;
      if (!jsonLinesPath.empty()) given |= kJsonLines;
      if (!metricsPath.empty()) given |= kMetricsFile;
      if (emodel) given |= kEModel;
      if (OneWayDelayGiven()) given |= kOneWayDelay;
      // With --strict an option the command would ignore is refused.
      const std::vector<std::string> ignored = IgnoredOptionLines(*command, given);
      for (const std::string& line : ignored) {
        std::cerr << (strict ? "pulvo: PARAMETER_ERROR: " + line.substr(7) : line) << std::endl;
      }
      if (strict && !ignored.empty()) return normalizeErrorCode(PARAMETER_ERROR);
      const std::unique_ptr<CmdParamSetBase> params = command->makeParams();
      InstallInterruptHandlers();
      return command->start(*this, options, *params, parameterText);
    }
    std::cerr << "invalid commmand [" << name << "]" << std::endl;
    std::exit(kExitInvalidCommand);
  } catch (const PLV_exception& e) {
    std::cerr << e.toString() << std::endl;
    std::exit(kExitPulvoException);
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    std::exit(kExitStdException);
  }
}
