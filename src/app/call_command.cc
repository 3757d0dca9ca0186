// pulvo call: both directions of a call against a STAMP reflector.

#include <iostream>

#include "call_command.h"

#include "address_text.h"
#include "call_results.h"
#include "input_checks.h"
#include "live_outputs.h"
#include "pulvo_main.h"

// Out-of-range values and codec names the library would read as another:
// a new command refuses them rather than run a different test.
std::string FirstCallError(CallCmdParams& params) {
  std::string error = params.FirstValueOutOfRange();
  if (!error.empty()) return error;
  if (params.WasGiven("codec")) {
    const std::string name = params.GetCodecName();
    if (teskCodecNumber(name) < 0) return "codec " + name + " is neither G711 nor GSM0610";
  }
  if (params.WasGiven("fec")) {
    const std::string name = params.GetFecName();
    if (name != "none" && name != "gsmpiggyback1" && name != "gsmpiggyback2" &&
        name != "gsmpiggyback3") {
      return "fec " + name + " is not one of none, gsmpiggyback1-3";
    }
  }
  const std::string mode = params.GetMode();
  if (mode != "stamp" && mode != "twamp") return "mode " + mode + " is neither stamp nor twamp";
  if (mode == "twamp" && !params.GetKeyFile().empty()) {
    return "a TWAMP session is set up in unauthenticated mode alone: no keyfile with mode=twamp";
  }
  if (params.GetWindowSize() <= params.GetSampleInterval()) {
    return "the window must be longer than the sampling interval";
  }
  if (params.GetTestDuration() < params.GetSampleInterval()) {
    return "the test must last a sampling interval at least";
  }
  if (params.GetTestDuration() < params.GetWindowSize()) {
    return "the test must last a window at least, or no window is scored";
  }
  return "";
}

TeskCallConfig CallConfigOf(CallCmdParams& params) {
  TeskCallConfig config;
  config.remoteAddress = params.GetRemoteAddr();
  config.remotePort = static_cast<unsigned short>(params.GetRemotePort());
  config.localAddress = params.GetLocalAddr();
  config.localPort = static_cast<unsigned short>(params.GetLocalPort());
  config.testDuration = static_cast<unsigned int>(params.GetTestDuration());
  config.codec = params.GetCodec();
  config.fec = params.GetFec();
  config.streamInterval = static_cast<unsigned char>(params.GetStreamInterval());
  config.windowSize = static_cast<unsigned short>(params.GetWindowSize());
  config.sampleInterval = static_cast<unsigned short>(params.GetSampleInterval());
  config.dejitterLength = static_cast<unsigned short>(params.GetDejitterlength());
  config.timeout = static_cast<unsigned int>(params.GetTimeout());
  config.testId = static_cast<unsigned int>(params.GetTestId());
  config.keyFile = params.GetKeyFile();
  config.dscp = static_cast<unsigned char>(params.GetDscp());
  config.ecn = static_cast<unsigned char>(params.GetEcn());
  config.twamp = params.GetMode() == "twamp";
  config.controlPort = static_cast<unsigned short>(params.GetControlPort());
  return config;
}

namespace {

TestDescription DescribeCall(const TeskCallConfig& c) {
  TestDescription d;
  d.command = "call";
  d.testId = c.testId;
  d.localEnd = EndText(c.localAddress.empty() ? (IsIPv6Literal(c.remoteAddress) ? "::" : "0.0.0.0")
                                               : c.localAddress,
                       c.localPort);
  d.remoteEnd = EndText(c.remoteAddress, c.remotePort);
  d.codec = teskCodecName(c.codec);
  d.parameters = {TextParameter("RemoteAddress", c.remoteAddress), NumberParameter("RemotePort", c.remotePort),
                  TextParameter("Codec", d.codec), NumberParameter("StreamInterval", c.streamInterval),
                  NumberParameter("WindowSize", c.windowSize / 1000),
                  NumberParameter("SampleInterval", c.sampleInterval / 1000),
                  NumberParameter("TestDuration", c.testDuration / 1000),
                  NumberParameter("Dscp", c.dscp)};
  return d;
}

}  // namespace

int PulvoMain::ParseAndStartCall(const OnOffOptionSet& options, CallCmdParams* params,
                                 char* parameterText) {
  // Standard output holds only the JSON document when it is asked for.
  std::ostream& verbose = options.IsResultsAsTextOn() ? std::cout : std::cerr;
  if (!ReadParametersStrictly(options, params, parameterText, {"remoteaddr", "localaddr"},
                              verbose)) {
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  PrintParametersIfVerbose(options, "Call", *params, verbose);
  const std::string error = FirstCallError(*params);
  if (!error.empty()) {
    std::cerr << "pulvo: " << teskErrorName(PARAMETER_ERROR) << ": " << error << std::endl;
    return normalizeErrorCode(PARAMETER_ERROR);
  }
  const TeskCallConfig config = CallConfigOf(*params);
  if (!OpenLiveOutputs(DescribeCall(config))) return kExitPulvoException;

  // Everything here outlives the call: the library has returned when run() does.
  CallResults caller(config, options.IsResultsAsTextOn(), EModel(), options.IsVerboseDisplayOn(),
                     live);
  const int result = caller.run();
  if (options.IsResultsAsTextOn()) {
    std::cout << caller.Finish() << std::flush;
  } else {
    std::cout << caller.Finish() << std::endl;
  }
  if (options.IsVerboseDisplayOn()) {
    verbose << "sent = " << caller.sentPackets() << "  answers = " << caller.answers()
            << std::endl;
    if (!caller.reflectorTimestamps().empty()) {
      verbose << "reflector: " << caller.reflectorTimestamps() << std::endl;
    }
  }
  const std::string unscored = caller.unscoredText();
  if (!unscored.empty() && result != ANSWER_ERROR) std::cerr << "pulvo: answers not scored: " << unscored << std::endl;
  const TeskUnscoredAnswers& sizes = caller.unscored();
  if (sizes.answerLength != 0) {
    std::cerr << "pulvo: the reflector answers with " << sizes.answerLength
              << " bytes to requests of " << sizes.requestLength
              << ": the way back does not carry the call's packet" << std::endl;
  }
  const int exitCode = ExitCodeOf(result);
  if (live != nullptr) live->Verdict(WallClockSeconds(), caller.Verdict());
  EndLiveOutputs(exitCode, result);
  return exitCode;
}
