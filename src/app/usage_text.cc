#include <cstring>
#include <sstream>

#include "commands.h"
#include "pulvo_main.h"
#include "tesk.h"

namespace {

// Where the designed usage text words a row otherwise than the help: its
// own default (recv's timeout and sampleinterval show 3 and 5, though they
// are 30 and 1) or description. Null: the descriptor's.
struct UsageWording {
  const char* command;
  const char* longName;
  const char* shown;
  const char* description;
};
const UsageWording kUsageWordings[] = {
    {"send", "codec", nullptr, "Stream codec. Possible values: G711, GSM0610"},
    {"send", "fec", nullptr,
     "Stream fec.   Possible values: none, gsmpiggyback1, gsmpiggyback2, gsmpiggyback3"},
    {"recv", "timeout", "3", "Receive timeout value in seconds."},
    {"recv", "sampleinterval", "5", "Sampling interval size in seconds."},
};

// The range from column 80: a number's, n/a for a text, none for a word.
std::string paramLine(const char* command, const ParamDescriptor& p) {
  const char* shown = p.Shown();
  const char* description = p.description;
  for (const UsageWording& w : kUsageWordings) {
    if (std::strcmp(w.command, command) != 0 || std::strcmp(w.longName, p.longName) != 0) continue;
    if (w.shown != nullptr) shown = w.shown;
    description = w.description;
  }
  std::string line = ParamRow(p, shown, description);
  if (p.kind == ParamKind::Name) return line;
  PadTo(line, 80);
  if (p.kind == ParamKind::Text) return line + "range limit: n/a";
  return line + "range limit: " + std::to_string(p.low) + " - " + std::to_string(p.high);
}

}  // namespace

std::string UsageText() {
  std::ostringstream out;
  out << "Pulvo Command Tool - MOS Library version " << TeskControl::GetMosVersion() << "\n"
      << "Pulvo usage\n"
      << "\n"
      << "Format of tool command line:\n"
      << "pulvo (command):[parameter=value,...] [general options]\n"
      << "\n"
      << "There are two commands:  send, recv (for receive).\n"
      << "Each command has a set of parameters.\n"
      << "\n"
      << "send parameters (default value if not provided)\n";
  for (const ParamDescriptor& p : ParamDescriptors("send")) out << paramLine("send", p) << "\n";
  out << "\n"
      << "receive parameters\n";
  for (const ParamDescriptor& p : ParamDescriptors("recv")) out << paramLine("recv", p) << "\n";
  out << "\n"
      << "Command parameters can be in any order.\n"
      << "Spaces should not be inserted in the command parameters.\n"
      << "Program will use parameter default for a command line parameter that is not provided.\n"
      << "\n"
      << "General options:\n"
      << "  -h    display usage\n"
      << "  -v    verbose\n"
      << "  -j    JSON results (default text)\n"
      << "  -l    MOS logging to file\n"
      << "  -V    MOS library version; if only option and no command - display and exit.\n"
      << "\n"
      << "Error Result Codes and Conditions:\n"
      << "0 - Success\n"
      << "1 - MOS library TIMEOUT_ERROR -1\n"
      << "2 - MOS library SOCKET_ERROR -2\n"
      << "3 - MOS library TIME_ERROR -3\n"
      << "4 - MOS library PARAMETER_ERROR -4\n"
      << "5 - MOS library THREAD_ERROR -5\n"
      << "10 - Invalid command on Pulvo command line\n"
      << "11 - Pulvo exception\n"
      << "20 - C++ std lib exception\n"
      << "\n"
      << "\n"
      << "Examples: \n"
      << "pulvo send:la=10.0.100.2,lp=40000,ra=198.51.100.2,rp=50000,testduration=30,"
         "sampleinterval=5,streaminterval=20,codec=G711,fec=gsmpiggyback1\n"
      << "pulvo recv:la=198.51.100.3,lp=50000,timeout=3,ws=10,sampleinterval=5,dj=120\n"
      << "pulvo recv:la=198.51.100.3,lp=50000,timeout=3,ws=10,sampleinterval=5,dj=120 -t -v\n"
      << "\n"
      << "\n";
  return out.str();
}
