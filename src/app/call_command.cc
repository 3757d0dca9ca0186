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
std::string FirstCallError(const CallCmdParams& params) {
  std::string error = params.FirstValueOutOfRange();
  if (!error.empty()) return error;
  const std::string& codec = params.Text("codec");
  if (params.WasGiven("codec") && teskCodecNumber(codec) < 0) {
    return "codec " + codec + " is neither G711 nor GSM0610";
  }
  const std::string& fec = params.Text("fec");
  if (params.WasGiven("fec") && FecNumber(fec) < 0) {
    return "fec " + fec + " is not one of none, gsmpiggyback1-3";
  }
  const std::string& mode = params.Text("mode");
  if (mode != "stamp" && mode != "twamp") return "mode " + mode + " is neither stamp nor twamp";
  if (mode == "twamp" && !params.Text("keyfile").empty()) {
    return "a TWAMP session is set up in unauthenticated mode alone: no keyfile with mode=twamp";
  }
  const unsigned long window = params.Millis("windowsize");
  const unsigned long sample = params.Millis("sampleinterval");
  const unsigned long duration = params.Millis("testduration");
  if (window <= sample) return "the window must be longer than the sampling interval";
  if (duration < sample) return "the test must last a sampling interval at least";
  if (duration < window) {
    return "the test must last a window at least, or no window is scored";
  }
  return "";
}

TeskCallConfig CallConfigOf(const CallCmdParams& params) {
  TeskCallConfig config;
  config.remoteAddress = params.Text("remoteaddr");
  config.remotePort = static_cast<unsigned short>(params.Number("remoteport"));
  config.localAddress = params.Text("localaddr");
  config.localPort = static_cast<unsigned short>(params.Number("localport"));
  config.testDuration = static_cast<unsigned int>(params.Millis("testduration"));
  config.codec = CodecOrG711(params.Text("codec"));
  config.fec = FecOrNone(params.Text("fec"));
  config.streamInterval = static_cast<unsigned char>(params.Number("streaminterval"));
  const TeskWindowSettings window = WindowSettingsOf(params);
  config.windowSize = window.windowSize;
  config.sampleInterval = window.sampleInterval;
  config.dejitterLength = window.dejitterLength;
  config.timeout = window.timeout;
  config.testId = window.testId;
  config.keyFile = params.Text("keyfile");
  config.dscp = static_cast<unsigned char>(params.Number("dscp"));
  config.ecn = static_cast<unsigned char>(params.Number("ecn"));
  config.twamp = params.Text("mode") == "twamp";
  config.controlPort = static_cast<unsigned short>(params.Number("controlport"));
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
