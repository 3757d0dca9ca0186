// Builds without zlib's header read no compressed capture.

#include <cstdio>

#include "gzip_stream.h"

std::FILE* openGzipStream(const std::string& path, std::string* error) {
  *error = path + ": a compressed capture, and this build reads none (no zlib)";
  return nullptr;
}
