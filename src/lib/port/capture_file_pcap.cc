// Captures are read with libpcap, which is loaded when the first capture is
// read rather than linked: libpcap brings libdbus, libsystemd, libgcrypt and
// more into every process that maps it, and only the analysis reads
// captures. The header gives the types; the functions come from dlsym.

#include <dlfcn.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>

#include "capture_decode.h"
#include "capture_file.h"
#include "gzip_stream.h"

namespace {

// The shared object's names, most specific first: Debian and its
// derivatives install libpcap.so.0.8, most other systems libpcap.so.1;
// the unversioned name comes with the development package.
constexpr const char* kLibraryNames[] = {"libpcap.so.0.8", "libpcap.so.1", "libpcap.so"};

struct Pcap {
  decltype(&pcap_open_offline_with_tstamp_precision) openFile = nullptr;
  decltype(&pcap_fopen_offline_with_tstamp_precision) openStream = nullptr;
  decltype(&pcap_datalink) datalink = nullptr;
  decltype(&pcap_datalink_val_to_name) datalinkName = nullptr;
  decltype(&pcap_next_ex) next = nullptr;
  decltype(&pcap_geterr) lastError = nullptr;
  decltype(&pcap_close) close = nullptr;
  std::string loadError;  // empty once every function is there

  Pcap() {
    void* library = nullptr;
    for (const char* name : kLibraryNames) {
      library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (library != nullptr) break;
    }
    if (library == nullptr) {
      loadError = std::string("cannot load libpcap (") + kLibraryNames[0] +
                  "), which reading captures needs: install libpcap0.8";
      return;
    }
    bool found = true;
    auto symbol = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
      if (function == nullptr && found) {
        found = false;
        loadError = std::string("libpcap has no ") + name + ": it is too old to read captures";
      }
    };
    symbol(openFile, "pcap_open_offline_with_tstamp_precision");
    symbol(openStream, "pcap_fopen_offline_with_tstamp_precision");
    symbol(datalink, "pcap_datalink");
    symbol(datalinkName, "pcap_datalink_val_to_name");
    symbol(next, "pcap_next_ex");
    symbol(lastError, "pcap_geterr");
    symbol(close, "pcap_close");
    // The library stays loaded for the life of the process.
  }
};

// Loaded once, on first use, by whichever thread gets there first.
const Pcap& pcapLibrary() {
  static const Pcap library;
  return library;
}

bool readAll(const Pcap& lib, pcap_t* pcap, CaptureFrameSink& sink, std::string* error) {
  const int linkType = lib.datalink(pcap);
  if (!isSupportedLinkType(linkType)) {
    const char* name = lib.datalinkName(linkType);
    *error = "link-layer type " + std::to_string(linkType) +
             (name != nullptr ? " (" + std::string(name) + ")" : "") +
             " carries no IP that pulvo can read";
    lib.close(pcap);
    return false;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int status;
  while ((status = lib.next(pcap, &header, &data)) == 1) {
    // pcapng stamps may be anything at all: keep the seconds within the
    // 32 bits that the engine's times of day carry.
    const int64_t seconds =
        std::min<int64_t>(std::max<int64_t>(header->ts.tv_sec, 0), UINT32_MAX);
    const int64_t micros =
        seconds * 1000000 + std::min<int64_t>(std::max<int64_t>(header->ts.tv_usec, 0), 999999);
    sink.frame(micros, linkType, data, header->caplen);
  }
  const bool complete = status == PCAP_ERROR_BREAK;
  if (!complete) *error = lib.lastError(pcap);
  lib.close(pcap);
  return complete;
}

}  // namespace

bool readCaptureFile(const std::string& path, CaptureFrameSink& sink, std::string* error) {
  if (isGzipFile(path)) {
    std::FILE* inflated = openGzipStream(path, error);
    return inflated != nullptr && readCaptureStream(inflated, sink, error);
  }
  const Pcap& lib = pcapLibrary();
  if (!lib.loadError.empty()) {
    *error = lib.loadError;
    return false;
  }
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = lib.openFile(path.c_str(), PCAP_TSTAMP_PRECISION_MICRO, errorBuffer);
  if (pcap == nullptr) {
    *error = errorBuffer;
    return false;
  }
  return readAll(lib, pcap, sink, error);
}

bool readCaptureStream(std::FILE* stream, CaptureFrameSink& sink, std::string* error) {
  const Pcap& lib = pcapLibrary();
  if (!lib.loadError.empty()) {
    std::fclose(stream);
    *error = lib.loadError;
    return false;
  }
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = lib.openStream(stream, PCAP_TSTAMP_PRECISION_MICRO, errorBuffer);
  if (pcap == nullptr) {
    std::fclose(stream);
    *error = errorBuffer;
    return false;
  }
  return readAll(lib, pcap, sink, error);
}
