// The module that serves /metrics with cpp-httplib, loaded by
// metrics_http.cc. Its interface is C, so that the loader needs no C++
// symbols of it.

#include <httplib.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

struct Served {
  httplib::Server server;
  std::thread thread;
};

}  // namespace

extern "C" {

// Starts serving; null with the reason in `error` when the address cannot
// be bound. `render` is called on the server's threads, with `context`, and
// returns a text that stays valid until `release` is called with it.
__attribute__((visibility("default"))) void* pulvoMetricsServe(
    const char* address, int port, char* (*render)(void*), void (*release)(char*), void* context,
    char* error, size_t errorLength) {
  auto served = new Served;
  served->server.Get("/metrics", [=](const httplib::Request&, httplib::Response& response) {
    char* text = render(context);
    response.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
    release(text);
  });
  served->server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("pulvo: the metrics are at /metrics\n", "text/plain");
  });
  if (!served->server.bind_to_port(address, port)) {
    std::snprintf(error, errorLength, "cannot serve metrics on %s port %d: %s", address, port,
                  std::strerror(errno));
    delete served;
    return nullptr;
  }
  served->thread = std::thread([served] { served->server.listen_after_bind(); });
  return served;
}

__attribute__((visibility("default"))) void pulvoMetricsStop(void* handle) {
  auto served = static_cast<Served*>(handle);
  served->server.stop();
  if (served->thread.joinable()) served->thread.join();
  delete served;
}

}  // extern "C"
