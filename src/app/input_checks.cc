#include "input_checks.h"

#include <cctype>
#include <cstdlib>

#include "pulvo_main.h"

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Against the ranges of the command's numbers, which its usage text prints.
void CheckNumbers(const CmdParamSetBase& params, InputWarnings* out) {
  for (const ParamDescriptor& d : params.Descriptors()) {
    if (d.kind != ParamKind::Number || !params.WasGiven(d.longName)) continue;
    const std::string& text = params.Text(d.longName);
    const long value = ParseLongValue(text);
    const std::string name = d.longName;
    if (!AllDigits(text)) {
      out->push_back(name + " " + text + " is not a whole number: it is read as " +
                     std::to_string(value < 0 ? 0 : value));
    }
    if (value < d.low || value > d.high) {
      std::string warning = name + " " + std::to_string(value) + " is outside its range " +
                            std::to_string(d.low) + " - " + std::to_string(d.high);
      if (name.find("port") != std::string::npos && value > 65535) {
        warning += ": the port used is " + std::to_string(static_cast<unsigned short>(value));
      }
      out->push_back(warning);
    }
  }
}

// `known`: whether the name given is one the parameter takes.
void CheckName(const CmdParamSetBase& params, const char* longName,
               bool (*known)(const std::string&), const char* used, InputWarnings* out) {
  const std::string& text = params.Text(longName);
  if (params.WasGiven(longName) && !known(text)) {
    out->push_back(std::string(longName) + " " + text + " is unknown: " + used + " is used");
  }
}

}  // namespace

void CheckParameterText(const std::string& text, InputWarnings* out) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (pair.find(';') != std::string::npos) {
      out->push_back("\"" + pair + "\": parameters are separated by ',' only");
    } else if (!pair.empty() && equals == std::string::npos) {
      out->push_back("\"" + pair + "\" is not name=value: it is not used as a parameter");
    } else if (equals != std::string::npos && equals + 1 == pair.size()) {
      const size_t next = end < text.size() ? text.find(',', end + 1) : std::string::npos;
      const std::string taken = end < text.size() ? text.substr(end + 1, next - end - 1) : "";
      out->push_back(pair.substr(0, equals) + " has an empty value" +
                     (taken.empty() ? ": it is not used"
                                    : ": the next pair \"" + taken + "\" becomes its value"));
    }
    start = end + 1;
  }
}

void CheckSendValues(const SendCmdParams& params, InputWarnings* out) {
  CheckNumbers(params, out);
  CheckName(params, "codec", [](const std::string& name) { return teskCodecNumber(name) >= 0; },
            teskCodecName(0), out);
  CheckName(params, "fec", [](const std::string& name) { return FecNumber(name) >= 0; }, "none",
            out);
}

void CheckReceiveValues(const ReceiveCmdParams& params, InputWarnings* out) {
  CheckNumbers(params, out);
}

bool LibraryRefusesSender(const TeskSendSettings& v) {
  return v.remotePort == 0 || v.testDuration <= 1000 || v.sampleInterval == 0 ||
         v.testDuration < v.sampleInterval || v.streamInterval == 0 || v.streamInterval > 150;
}

bool LibraryRefusesReceiver(const TeskReceiveSettings& v) {
  const TeskWindowSettings& w = v.window;
  return v.localPort == 0 || w.windowSize <= 1000 || w.sampleInterval == 0 || w.timeout == 0 ||
         w.windowSize <= w.sampleInterval;
}

bool ReadTosText(const std::string& text, int* tos) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 8) return false;
  for (char c : digits) {
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
              : std::isdigit(static_cast<unsigned char>(c)))) {
      return false;
    }
  }
  const long value = std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
  if (value > 255) return false;
  *tos = static_cast<int>(value);
  return true;
}

void CheckTestEnvironment(InputWarnings* out) {
  if (const char* tos = std::getenv("TESK_TEST_TOS")) {
    int byte = 0;
    if (!ReadTosText(tos, &byte)) {
      out->push_back(std::string("TESK_TEST_TOS=") + tos +
                     " is not a number from 0 to 255 (decimal, or hexadecimal after 0x): the "
                     "TOS byte set is " + std::to_string(std::strtol(tos, nullptr, 10) & 0xFF));
    }
  }
  if (const char* name = std::getenv("TESK_TEST_INTERFACE")) {
    if (!NetworkInterfaceExists(name)) {
      out->push_back(std::string("TESK_TEST_INTERFACE=") + name +
                     ": no such network interface; the socket is bound to none");
    }
  }
}
