// zlib is loaded rather than linked, like libpcap: only reading a
// compressed capture needs it. glibc's fopencookie turns gzread into a
// stream that libpcap can read.

#include <dlfcn.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "gzip_stream.h"

namespace {

struct Zlib {
  decltype(&gzopen) open = nullptr;
  decltype(&gzread) read = nullptr;
  decltype(&gzerror) lastError = nullptr;
  decltype(&gzclose) close = nullptr;
  std::string loadError;

  Zlib() {
    void* library = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      loadError = "cannot load zlib (libz.so.1), which compressed captures need: install zlib1g";
      return;
    }
    open = reinterpret_cast<decltype(open)>(dlsym(library, "gzopen"));
    read = reinterpret_cast<decltype(read)>(dlsym(library, "gzread"));
    lastError = reinterpret_cast<decltype(lastError)>(dlsym(library, "gzerror"));
    close = reinterpret_cast<decltype(close)>(dlsym(library, "gzclose"));
    if (open == nullptr || read == nullptr || lastError == nullptr || close == nullptr) {
      loadError = "zlib lacks gzopen, gzread, gzerror or gzclose";
    }
  }
};

const Zlib& zlib() {
  static const Zlib library;
  return library;
}

ssize_t readInflated(void* cookie, char* buffer, size_t size) {
  const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
  const int got = zlib().read(static_cast<gzFile>(cookie), buffer, chunk);
  return got < 0 ? -1 : got;  // a damaged file reads as an error: libpcap says so
}

int closeInflated(void* cookie) { return zlib().close(static_cast<gzFile>(cookie)) == Z_OK ? 0 : EOF; }

}  // namespace

std::FILE* openGzipStream(const std::string& path, std::string* error) {
  const Zlib& lib = zlib();
  if (!lib.loadError.empty()) {
    *error = lib.loadError;
    return nullptr;
  }
  gzFile file = lib.open(path.c_str(), "rb");
  if (file == nullptr) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  cookie_io_functions_t functions{};
  functions.read = readInflated;
  functions.close = closeInflated;
  std::FILE* stream = fopencookie(file, "rb", functions);
  if (stream == nullptr) {
    lib.close(file);
    *error = path + ": " + std::strerror(errno);
  }
  return stream;
}
