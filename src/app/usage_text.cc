#include <cstdio>
#include <iterator>
#include <sstream>

#include "pulvo_main.h"
#include "tesk.h"

namespace {

struct UsageParam {
  const char* longName;
  const char* shortAndDefault;
  const char* description;
  const char* range;  // empty: the line ends after the description
};

const UsageParam kTestId = {"testid", "tid (1)", "Test Id", "range limit: 0 - 2000000000"};

const UsageParam kSendParams[] = {
    kTestId,
    {"localaddr", "la (127.0.0.1)", "Local IP address that will send packets.", "range limit: n/a"},
    {"localport", "lp (49999)", "Local send port.", "range limit: 10000 - 65535"},
    {"remoteaddr", "ra (127.0.0.1)", "Remote IP address that will receive packets.",
     "range limit: n/a"},
    {"remoteport", "rp (50000)", "Remote receive port.", "range limit: 10000 - 65535"},
    {"testduration", "td (12)", "Test duration in seconds.", "range limit: 10 - 600"},
    {"sampleinterval", "sai (5)", "Sampling interval in seconds.", "range limit: 1 - 10"},
    {"streaminterval", "sti (20)", "Stream interval in milliseconds.", "range limit: 20 - 30"},
    {"codec", "co (G711)", "Stream codec. Possible values: G711, GSM0610", ""},
    {"fec", "fe (none)",
     "Stream fec.   Possible values: none, gsmpiggyback1, gsmpiggyback2, gsmpiggyback3", ""},
};

// The receive figures are the usage text's own; the parameter set's defaults
// differ (timeout 30, sampleinterval 1).
const UsageParam kReceiveParams[] = {
    kTestId,
    {"localaddr", "la (127.0.0.1)", "Local IP address that will receive packets.",
     "range limit: n/a"},
    {"localport", "lp (50000)", "Receive port.", "range limit: 10000 - 65535"},
    {"timeout", "to (3)", "Receive timeout value in seconds.", "range limit: 1 - 60"},
    {"windowsize", "ws (4)", "Window size in seconds.", "range limit: 2 - 20"},
    {"sampleinterval", "sai (5)", "Sampling interval size in seconds.", "range limit: 1 - 10"},
    {"dejitterlength", "dj (120)", "Dejittering buffer length in milliseconds.",
     "range limit: 10 - 200"},
};

void padTo(std::string& line, size_t column) {
  if (line.size() < column) line.append(column - line.size(), ' ');
}

// Fixed columns: name from 2, "| " at 17, short name from 19, description
// from 34, range from 80.
std::string paramLine(const UsageParam& p) {
  std::string line = "  ";
  line += p.longName;
  padTo(line, 17);
  line += "| ";
  line += p.shortAndDefault;
  padTo(line, 34);
  line += p.description;
  if (p.range[0] != '\0') {
    padTo(line, 80);
    line += p.range;
  }
  return line;
}

}  // namespace

std::vector<PrintedRange> PrintedRanges(const std::string& command) {
  std::vector<PrintedRange> ranges;
  auto collect = [&ranges](const UsageParam* begin, const UsageParam* end) {
    for (const UsageParam* p = begin; p != end; ++p) {
      long low = 0, high = 0;
      if (std::sscanf(p->range, "range limit: %ld - %ld", &low, &high) == 2) {
        ranges.push_back({p->longName, low, high});
      }
    }
  };
  if (command == "send") collect(std::begin(kSendParams), std::end(kSendParams));
  if (command == "recv") collect(std::begin(kReceiveParams), std::end(kReceiveParams));
  return ranges;
}

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
  for (const UsageParam& p : kSendParams) out << paramLine(p) << "\n";
  out << "\n"
      << "receive parameters\n";
  for (const UsageParam& p : kReceiveParams) out << paramLine(p) << "\n";
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
