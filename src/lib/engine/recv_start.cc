#include "recv_start.h"

#include "server.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {
// The longest IPv4 text the receive start lets through; the socket layer
// takes at most 15 characters of dotted IPv4.
constexpr size_t kMaxReceiverAddressText = 19;
}  // namespace


std::vector<std::string> receiverParameterErrors(const ReceiveConfig& c, bool hasSink) {
  const std::string prefix = "Error in receiver parameter: ";
  std::vector<std::string> errors;
  if (platformChecksAddressText() && !isUsableAddressText(c.localAddress, kMaxReceiverAddressText)) {
    errors.push_back(prefix + "ip_address " + c.localAddress + " is not a valid IP address");
  }
  if (c.localPort == 0) errors.push_back(prefix + "port = " + std::to_string(c.localPort));
  c.window.validate(prefix, &errors);
  if (!hasSink) errors.push_back(prefix + "invalid callback");
  return errors;
}

TestOutcome runReceiver(const ReceiveConfig& config, SampleSink sink) {
  FailureNote failure;
  if (!TESK_PARAMETERS_ACCEPTED(
          receiverParameterErrors(config, sink.deliver != nullptr && sink.context != nullptr), failure)) {
    return TestOutcome{PARAMETER_ERROR, failure.text()};
  }
  return startServer(config, sink);
}
