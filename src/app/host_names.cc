#include "host_names.h"

#include "address_text.h"
#include "tesk.h"

bool ResolveHostNames(CmdParamSetBase& params, std::initializer_list<const char*> names,
                      std::vector<std::string>* resolved, std::string* error) {
  // The family of the first literal among the given addresses.
  int ipVersion = 0;
  for (const char* name : names) {
    if (!params.WasGiven(name)) continue;
    const std::string& text = params.Text(name);
    if (IsIPv6Literal(text)) ipVersion = 6;
    if (IsIPv4Literal(text)) ipVersion = 4;
    if (ipVersion != 0) break;
  }
  for (const char* name : names) {
    if (!params.WasGiven(name)) continue;
    const std::string host = params.Text(name);
    if (!TeskControl::NamesAHost(host)) continue;
    std::string address, reason;
    if (!TeskControl::ResolveHostName(host, ipVersion, &address, &reason)) {
      *error = std::string(name) + " " + host + " does not resolve" +
               (ipVersion == 0 ? "" : " to an IPv" + std::to_string(ipVersion) + " address") + ": " +
               reason;
      return false;
    }
    params.SetCmdParamInputValue(name, address);
    resolved->push_back(std::string(name) + " " + host + " is " + address);
    if (ipVersion == 0) ipVersion = IsIPv6Literal(address) ? 6 : 4;
  }
  return true;
}
