#ifndef PULVO_METRICS_HTTP_H
#define PULVO_METRICS_HTTP_H

// A /metrics endpoint for the long-running commands, served by cpp-httplib
// on a thread of its own. The HTTP library lives in a module of its own
// (pulvo-metrics-http.so), loaded only by the commands that serve metrics,
// so that send and recv map nothing of it.

#include <functional>
#include <memory>
#include <string>

class MetricsEndpoint {
 public:
  using Render = std::function<std::string()>;
  ~MetricsEndpoint();

  // Serves `render()` at http://address:port/metrics until destroyed. Null
  // with the reason when the module is missing or the port cannot be had.
  static std::unique_ptr<MetricsEndpoint> Start(const std::string& address, unsigned short port,
                                                Render render, std::string* error);

 private:
  MetricsEndpoint() = default;
  void* server = nullptr;
  void (*stop)(void*) = nullptr;
  Render render;
};

#endif  // PULVO_METRICS_HTTP_H
