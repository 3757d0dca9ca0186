#include "cmd_param_sets.h"

#include "tesk.h"

TeskWindowSettings WindowSettingsOf(const CmdParamSetBase& params) {
  TeskWindowSettings w;
  w.testId = static_cast<uint32_t>(params.Number("testid"));
  w.timeout = static_cast<uint32_t>(params.Millis("timeout"));
  w.windowSize = static_cast<uint16_t>(params.Millis("windowsize"));
  w.sampleInterval = static_cast<uint16_t>(params.Millis("sampleinterval"));
  w.dejitterLength = static_cast<uint16_t>(params.Number("dejitterlength"));
  return w;
}

int FecNumber(const std::string& name) {
  static const char* const kNames[] = {"none", "gsmpiggyback1", "gsmpiggyback2", "gsmpiggyback3"};
  for (int i = 0; i < 4; ++i) {
    if (name == kNames[i]) return i;
  }
  return -1;
}

unsigned char CodecOrG711(const std::string& name) { return teskCodecNumber(name) == 1 ? 1 : 0; }

unsigned char FecOrNone(const std::string& name) {
  const int number = FecNumber(name);
  return number > 0 ? static_cast<unsigned char>(number) : 0;
}
