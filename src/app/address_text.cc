#include "address_text.h"

#include <cctype>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool IsHexGroup(const std::string& group) {
  if (group.empty() || group.size() > 4) return false;
  for (char c : group) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool IsDottedQuad(const std::string& text) {
  const std::vector<std::string> parts = Split(text, '.');
  if (parts.size() != 4) return false;
  for (const std::string& part : parts) {
    if (part.empty() || part.size() > 3) return false;
    for (char c : part) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    if (std::stoi(part) > 255) return false;
  }
  return true;
}

// The groups of one side of "::"; an IPv4 tail counts as two. -1 when a
// group is malformed.
int CountGroups(const std::string& side, bool mayEndInIPv4) {
  const std::vector<std::string> groups = Split(side, ':');
  int count = 0;
  for (size_t i = 0; i < groups.size(); ++i) {
    if (mayEndInIPv4 && i + 1 == groups.size() && IsDottedQuad(groups[i])) {
      count += 2;
    } else if (IsHexGroup(groups[i])) {
      count++;
    } else {
      return -1;
    }
  }
  return count;
}

// The eight groups of an address that IsIPv6Literal accepts (zone dropped).
std::vector<unsigned> IPv6Groups(const std::string& text) {
  const std::string address = text.substr(0, text.find('%'));
  auto side = [](const std::string& part) {
    std::vector<unsigned> groups;
    for (const std::string& g : Split(part, ':')) {
      if (IsDottedQuad(g)) {
        const std::vector<std::string> q = Split(g, '.');
        groups.push_back(std::stoul(q[0]) << 8 | std::stoul(q[1]));
        groups.push_back(std::stoul(q[2]) << 8 | std::stoul(q[3]));
      } else {
        groups.push_back(std::stoul(g, nullptr, 16));
      }
    }
    return groups;
  };
  const size_t gap = address.find("::");
  if (gap == std::string::npos) return side(address);
  std::vector<unsigned> before = side(address.substr(0, gap));
  const std::vector<unsigned> after = side(address.substr(gap + 2));
  before.resize(8 - after.size(), 0);
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

}  // namespace

bool IsIPv4Literal(const std::string& text) { return IsDottedQuad(text); }

bool IsLoopbackLiteral(const std::string& text) {
  if (IsDottedQuad(text)) return std::stoi(text.substr(0, text.find('.'))) == 127;
  if (!IsIPv6Literal(text)) return false;
  const std::vector<unsigned> g = IPv6Groups(text);
  for (int i = 0; i < 5; ++i) {
    if (g[i] != 0) return false;
  }
  if (g[5] == 0 && g[6] == 0) return g[7] == 1;  // ::1
  return g[5] == 0xffff && (g[6] >> 8) == 127;   // ::ffff:127.x.x.x
}

bool IsIPv6Literal(const std::string& text) {
  const size_t zone = text.find('%');
  if (zone != std::string::npos && zone + 1 == text.size()) return false;
  const std::string address = text.substr(0, zone);
  const size_t gap = address.find("::");
  if (gap == std::string::npos) return CountGroups(address, true) == 8;
  if (address.find("::", gap + 1) != std::string::npos) return false;
  const int before = CountGroups(address.substr(0, gap), false);
  const int after = CountGroups(address.substr(gap + 2), true);
  return before >= 0 && after >= 0 && before + after <= 7;
}

bool ParseMetricsEndpoint(const std::string& text, std::string* address, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (!IsIPv6Literal(host)) return false;
  } else if (!IsIPv4Literal(host)) {
    return false;
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::stoul(digits);
  if (value == 0 || value > 65535) return false;
  *address = host;
  *port = static_cast<uint16_t>(value);
  return true;
}
