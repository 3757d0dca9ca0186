#include "sip_message.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isToken(std::string_view text) {
  if (text.empty() || text.size() > 32) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '!' ||
           c == '%' || c == '*' || c == '_' || c == '+' || c == '`' || c == '\'' || c == '~';
  });
}

// A number of at most nine digits (CSeq, Content-Length, a status code).
bool readNumber(std::string_view text, uint32_t* out) {
  if (text.empty() || text.size() > 9) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  *out = value;
  return true;
}

// The line at `at`, ended by CRLF or a bare LF; false at the end of the
// bytes. Control characters other than tab make the line unreadable.
bool nextLine(std::string_view text, size_t* at, std::string_view* line, bool* bad) {
  if (*at >= text.size()) return false;
  const size_t end = text.find('\n', *at);
  if (end == std::string_view::npos) return false;
  std::string_view l = text.substr(*at, end - *at);
  if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
  for (char c : l) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) *bad = true;
  }
  *line = l;
  *at = end + 1;
  return true;
}

bool readStartLine(std::string_view line, SipMessage* out) {
  constexpr std::string_view kVersion = "SIP/2.0";
  if (line.substr(0, kVersion.size() + 1) == "SIP/2.0 ") {
    uint32_t status = 0;
    if (line.size() < kVersion.size() + 4 || !readNumber(line.substr(kVersion.size() + 1, 3), &status) ||
        status < 100 || status > 699 ||
        (line.size() > kVersion.size() + 4 && line[kVersion.size() + 4] != ' ')) {
      return false;
    }
    out->request = false;
    out->status = static_cast<int>(status);
    return true;
  }
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first == std::string_view::npos || last == first || line.substr(last + 1) != kVersion) {
    return false;
  }
  const std::string_view method = line.substr(0, first);
  if (!isToken(method)) return false;
  out->request = true;
  out->method = std::string(method);
  return true;
}

// The user part and the tag of a From or To value:
// "Alice" <sip:alice@example.com>;tag=1928301774, sip:+4930123@gw, <tel:+4930123>.
void readParty(std::string_view value, std::string* user, std::string* tag) {
  std::string_view uri = value, params;
  const size_t open = value.find('<');
  const size_t close = open == std::string_view::npos ? open : value.find('>', open);
  if (open != std::string_view::npos && close != std::string_view::npos) {
    uri = value.substr(open + 1, close - open - 1);
    params = value.substr(close + 1);
  } else {
    const size_t semicolon = value.find(';');
    uri = value.substr(0, semicolon);
    params = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon);
  }
  uri = trim(uri);
  const size_t colon = uri.find(':');
  if (colon != std::string_view::npos) {
    std::string_view rest = uri.substr(colon + 1);
    const size_t at = rest.find('@');
    std::string_view part = at == std::string_view::npos
                                ? (lower(uri.substr(0, colon)) == "tel" ? rest : std::string_view())
                                : rest.substr(0, at);
    part = part.substr(0, part.find(';'));
    *user = std::string(part.substr(0, std::min<size_t>(part.size(), 128)));
  }
  const std::string lowered = lower(params);
  const size_t t = lowered.find("tag=");
  if (t != std::string::npos && (t == 0 || lowered[t - 1] == ';' || lowered[t - 1] == ' ')) {
    std::string_view found = params.substr(t + 4);
    found = found.substr(0, found.find_first_of("; \t,"));
    *tag = std::string(found.substr(0, std::min<size_t>(found.size(), 128)));
  }
}

// The long name of a compact header form (RFC 3261 section 7.3.3) that
// the reader needs; the name itself otherwise.
std::string longName(std::string name) {
  if (name.size() != 1) return name;
  switch (name[0]) {
    case 'i':
      return "call-id";
    case 'f':
      return "from";
    case 't':
      return "to";
    case 'l':
      return "content-length";
    case 'c':
      return "content-type";
    default:
      return name;
  }
}

// The headers as they are read: the one being collected (a folded header is
// complete only when the next one starts, or the headers end), how many there
// were, and the Content-Length the body is cut to.
struct HeaderReading {
  std::string name, value;
  bool haveLength = false;
  uint32_t contentLength = 0;
  int headers = 0;
};

// A CSeq value: "314159 INVITE".
bool readCseq(std::string_view value, SipMessage* out) {
  const size_t space = value.find_first_of(" \t");
  if (space == std::string_view::npos || !readNumber(value.substr(0, space), &out->cseq)) {
    return false;
  }
  const std::string_view method = trim(value.substr(space));
  if (!isToken(method)) return false;
  out->cseqMethod = std::string(method);
  return true;
}

// Stores the collected header, if any, and clears it for the next one; false
// when a value the reader relies on cannot be read.
bool storeHeader(HeaderReading* h, SipMessage* out) {
  if (h->name.empty()) return true;
  const std::string_view v = trim(h->value);
  if (h->name == "call-id") {
    out->callId = std::string(v.substr(0, std::min<size_t>(v.size(), 256)));
  } else if (h->name == "cseq") {
    if (!readCseq(v, out)) return false;
  } else if (h->name == "from") {
    readParty(v, &out->fromUser, &out->fromTag);
  } else if (h->name == "to") {
    readParty(v, &out->toUser, &out->toTag);
  } else if (h->name == "content-length") {
    if (!readNumber(v, &h->contentLength)) return false;
    h->haveLength = true;
  } else if (h->name == "content-type") {
    out->contentType = lower(trim(v.substr(0, v.find(';'))));
  }
  h->name.clear();
  h->value.clear();
  return true;
}

// The header lines after the start line, up to and past the empty line that
// ends them; `at` is left at the body. False when they cannot be read.
bool readHeaders(std::string_view text, size_t* at, HeaderReading* h, SipMessage* out) {
  std::string_view line;
  bool bad = false;
  while (true) {
    if (!nextLine(text, at, &line, &bad) || bad) return false;
    if (line.empty()) return storeHeader(h, out);
    if (line.front() == ' ' || line.front() == '\t') {
      if (h->name.empty()) return false;  // a continuation of nothing
      h->value += ' ';
      h->value += trim(line);
      if (h->value.size() > 4096) return false;
      continue;
    }
    if (!storeHeader(h, out) || ++h->headers > kSipMaxHeaders) return false;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view n = trim(line.substr(0, colon));
    if (!isToken(n)) return false;
    h->name = longName(lower(n));
    h->value = std::string(line.substr(colon + 1));
  }
}

}  // namespace

SipParse parseSipMessage(const uint8_t* data, size_t length, SipMessage* out, size_t* used) {
  *out = SipMessage{};
  const std::string_view text(reinterpret_cast<const char*>(data),
                              std::min(length, kSipMaxMessage));
  size_t at = 0;
  std::string_view line;
  bool bad = false;
  if (!nextLine(text, &at, &line, &bad) || bad || !readStartLine(line, out)) {
    return SipParse::NotSip;
  }
  HeaderReading headers;
  if (!readHeaders(text, &at, &headers, out)) return SipParse::Malformed;
  if (out->request ? out->method.empty() : out->cseqMethod.empty()) return SipParse::Malformed;
  if (out->callId.empty()) return SipParse::Malformed;
  const size_t rest = text.size() - at;
  if (headers.haveLength && headers.contentLength > rest) {
    return headers.contentLength > kSipMaxMessage ? SipParse::Malformed : SipParse::Truncated;
  }
  const size_t bodyLength = headers.haveLength ? headers.contentLength : rest;
  out->body.assign(text.substr(at, bodyLength));
  if (used != nullptr) *used = at + bodyLength;
  return SipParse::Ok;
}
