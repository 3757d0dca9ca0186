#include "metrics_http.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#ifndef PULVO_MODULE_DIR
#define PULVO_MODULE_DIR "lib/pulvo"  // below the installation's prefix
#endif

namespace {

constexpr const char* kModule = "pulvo-metrics-http.so";

using Serve = void* (*)(const char*, int, char* (*)(void*), void (*)(char*), void*, char*, size_t);
using Stop = void (*)(void*);

// Beside the program (a build tree), else where the installation puts it:
// PULVO_MODULE_DIR below the prefix that holds the program's bin/.
void* LoadModule(std::string* error) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = "/usr/bin/";
  if (length > 0) {
    self[length] = '\0';
    dir = std::string(self).substr(0, std::string(self).rfind('/') + 1);
  }
  const std::string beside = dir + kModule;
  if (void* module = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
  const std::string installed = dir + "../" + PULVO_MODULE_DIR + "/" + kModule;
  if (void* module = dlopen(installed.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
  *error = "cannot load " + installed + ", which serves the metrics: " + dlerror();
  return nullptr;
}

char* RenderFor(void* context) {
  const std::string text = (*static_cast<MetricsEndpoint::Render*>(context))();
  return strdup(text.c_str());
}

void Release(char* text) { std::free(text); }

}  // namespace

std::unique_ptr<MetricsEndpoint> MetricsEndpoint::Start(const std::string& address,
                                                        unsigned short port, Render render,
                                                        std::string* error) {
  void* module = LoadModule(error);
  if (module == nullptr) return nullptr;
  auto serve = reinterpret_cast<Serve>(dlsym(module, "pulvoMetricsServe"));
  auto stop = reinterpret_cast<Stop>(dlsym(module, "pulvoMetricsStop"));
  if (serve == nullptr || stop == nullptr) {
    *error = std::string(kModule) + " lacks pulvoMetricsServe or pulvoMetricsStop";
    return nullptr;
  }
  std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint);
  endpoint->render = std::move(render);
  endpoint->stop = stop;
  char reason[512] = "";
  endpoint->server = serve(address.c_str(), port, &RenderFor, &Release, &endpoint->render, reason,
                           sizeof reason);
  if (endpoint->server == nullptr) {
    *error = reason;
    return nullptr;
  }
  return endpoint;
}

MetricsEndpoint::~MetricsEndpoint() {
  if (server != nullptr) stop(server);
}
