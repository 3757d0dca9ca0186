#include "metrics_http.h"

// Builds without cpp-httplib (the cross builds) serve no metrics.
std::unique_ptr<MetricsEndpoint> MetricsEndpoint::Start(const std::string&, unsigned short,
                                                        Render, std::string* error) {
  *error = "this build of pulvo serves no metrics (built without cpp-httplib)";
  return nullptr;
}

MetricsEndpoint::~MetricsEndpoint() = default;
