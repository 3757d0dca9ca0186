// Arbitrary argument vectors through the option and parameter parsing, the
// conversions and the library's validation: everything up to the point where
// a test would start.
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "pulvo_main.h"
#include "recv_start.h"
#include "send_start.h"
#include "tesk_log.h"

namespace {

struct Quiet {
  Quiet() {
    std::cout.rdbuf(sink.rdbuf());
    std::cerr.rdbuf(sink.rdbuf());
    mosLog.close();  // -l must not fill a file
  }
  std::ostringstream sink;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Quiet quiet;
  quiet.sink.str("");

  // Arguments are separated by zero bytes.
  std::vector<std::string> args = {"pulvo"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 32; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const auto& a : args) {
    storage.emplace_back(a.begin(), a.end());
    storage.back().push_back('\0');
  }
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  PulvoMain pulvo;
  OnOffOptionSet options;
  int commandIndex = 1;
  if (pulvo.ParseCommandLineOptions(argc, argv.data(), options, commandIndex) !=
      PulvoMain::kContinue) {
    return 0;
  }
  CommandBuffer command;
  char* parameterText = nullptr;
  char* name = SplitCommandArgument(argv[commandIndex], command, &parameterText);
  if (name == nullptr) return 0;

  SendCmdParams sendParams;
  ReceiveCmdParams receiveParams;
  if (std::strcmp(name, "send") == 0) {
    pulvo.ParseCommandParameters(&sendParams, parameterText);
    sendParams.PrintAllParams();
    senderParameterErrors(ReadSendSettings(sendParams), true);
  } else if (std::strcmp(name, "recv") == 0) {
    pulvo.ParseCommandParameters(&receiveParams, parameterText);
    receiveParams.PrintAllParams();
    receiverParameterErrors(ReadReceiveSettings(receiveParams), true);
  }
  return 0;
}
