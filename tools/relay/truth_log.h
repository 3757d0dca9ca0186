#ifndef PULVO_RELAY_TRUTH_LOG_H
#define PULVO_RELAY_TRUTH_LOG_H

// The relay's ground truth: one row per datagram that came in and was
// dropped, and one per copy that went out.

#include <cstdint>
#include <cstdio>
#include <string>

#include "impairment.h"

struct TruthRow {
  uint64_t index;        // arrival order, from 0
  int64_t arrivalMicros; // time of day, µs since the epoch
  size_t length;
  int64_t sequence;      // -1 when not a test packet
  const char* kind;      // data, eos or other
  RelayAction action;
  size_t outLength;      // 0 for drop
  int64_t departureMicros;  // 0 for drop
};

class TruthLog {
 public:
  // An empty path writes nothing.
  TruthLog(const std::string& path, bool jsonLines);
  ~TruthLog();
  bool ok() const { return path.empty() || file != nullptr; }
  void Write(const TruthRow& row);

 private:
  std::string path;
  bool json;
  FILE* file = nullptr;
};

std::string FormatTruthCsv(const TruthRow& row);
std::string FormatTruthJson(const TruthRow& row);

#endif  // PULVO_RELAY_TRUTH_LOG_H
