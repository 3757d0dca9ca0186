#include "truth_log.h"

#include <sstream>

std::string FormatTruthCsv(const TruthRow& r) {
  std::ostringstream out;
  out << r.index << ',' << r.arrivalMicros << ',' << r.length << ',' << r.sequence << ',' << r.kind
      << ',' << RelayActionName(r.action) << ',' << r.outLength << ',' << r.departureMicros;
  return out.str();
}

std::string FormatTruthJson(const TruthRow& r) {
  std::ostringstream out;
  out << "{\"index\":" << r.index << ",\"arrival_us\":" << r.arrivalMicros << ",\"length\":"
      << r.length << ",\"seq\":" << r.sequence << ",\"kind\":\"" << r.kind << "\",\"action\":\""
      << RelayActionName(r.action) << "\",\"out_length\":" << r.outLength << ",\"departure_us\":"
      << r.departureMicros << "}";
  return out.str();
}

TruthLog::TruthLog(const std::string& recordPath, bool jsonLines) : path(recordPath), json(jsonLines) {
  if (path.empty()) return;
  file = std::fopen(path.c_str(), "w");
  if (file != nullptr && !json) {
    std::fputs("index,arrival_us,length,seq,kind,action,out_length,departure_us\n", file);
  }
}

TruthLog::~TruthLog() {
  if (file != nullptr) std::fclose(file);
}

void TruthLog::Write(const TruthRow& row) {
  if (file == nullptr) return;
  const std::string line = json ? FormatTruthJson(row) : FormatTruthCsv(row);
  std::fputs(line.c_str(), file);
  std::fputc('\n', file);
}
