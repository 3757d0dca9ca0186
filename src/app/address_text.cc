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

}  // namespace

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
