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
const char kReceiverPrefix[] = "Error in receiver parameter: ";
}  // namespace

std::vector<std::string> TeskReceiveSettings::validate() const {
  const TeskReceiveSettings& c = *this;
  const std::string prefix = kReceiverPrefix;
  std::vector<std::string> errors;
  if (platformChecksAddressText() && !isUsableAddressText(c.localAddress, kMaxReceiverAddressText)) {
    errors.push_back(prefix + "ip_address " + c.localAddress + " is not a valid IP address");
  }
  if (c.localPort == 0) errors.push_back(prefix + "port = " + std::to_string(c.localPort));
  c.window.validate(prefix, &errors);
  return errors;
}

std::vector<std::string> receiverParameterErrors(const TeskReceiveSettings& settings, bool hasSink) {
  std::vector<std::string> errors = settings.validate();
  if (!hasSink) errors.push_back(std::string(kReceiverPrefix) + "invalid callback");
  return errors;
}

TestOutcome runReceiver(const TeskReceiveSettings& config, SampleSink sink) {
  FailureNote failure;
  if (!TESK_PARAMETERS_ACCEPTED(
          receiverParameterErrors(config, sink.deliver != nullptr && sink.context != nullptr), failure)) {
    return TestOutcome{PARAMETER_ERROR, failure.text()};
  }
  return startServer(config, sink);
}
