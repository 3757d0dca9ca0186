#include "capture_file.h"

namespace {
const char* const kNoReader = "this build of pulvo reads no capture files (built without libpcap)";
}

bool readCaptureFile(const std::string&, CaptureFrameSink&, std::string* error) {
  *error = kNoReader;
  return false;
}

bool readCaptureStream(std::FILE* stream, CaptureFrameSink&, std::string* error) {
  std::fclose(stream);
  *error = kNoReader;
  return false;
}
